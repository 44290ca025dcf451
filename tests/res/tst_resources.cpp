// The resource bundle built into every program: ":/res/Address.bin" is there
// from the start, before the application object exists, and is never taken
// from a file of the same name beside the program.
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace {

const QString kAddressPath = QStringLiteral(":/res/Address.bin");
const QByteArray kAddressBytes("\x00\x14\x00\x00", 4);

// What the bundle held before QCoreApplication was constructed.
struct AtStart {
    qint64 size = -1;
    QByteArray bytes;
} atStart;

void inspectBeforeApplication()
{
    QFile file(kAddressPath);
    atStart.size = file.size();
    if (file.open(QIODevice::ReadOnly))
        atStart.bytes = file.readAll();
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void presentBeforeApplication();
    void fileBesideProgramIsNotServed_data();
    void fileBesideProgramIsNotServed();
    void cleanupTestCase();
};

void TestResources::presentBeforeApplication()
{
    QCOMPARE(atStart.size, qint64(4));
    QCOMPARE(atStart.bytes, kAddressBytes);
}

void TestResources::fileBesideProgramIsNotServed_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("beside the program") << QStringLiteral("Address.bin");
    QTest::newRow("in a res folder beside it") << QStringLiteral("res/Address.bin");
}

void TestResources::fileBesideProgramIsNotServed()
{
    QFETCH(QString, name);
    const QByteArray impostor("not the address record");
    QVERIFY(TestSupport::writeAppFile(name, impostor));
    // Relative paths resolve to the program's folder while this runs.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QCoreApplication::applicationDirPath()));

    QFile plain(name);
    QVERIFY(plain.open(QIODevice::ReadOnly));
    QCOMPARE(plain.readAll(), impostor);

    QFile file(kAddressPath);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), kAddressBytes);

    QDir::setCurrent(previous);
}

void TestResources::cleanupTestCase()
{
    TestSupport::removeAppFiles({ QStringLiteral("Address.bin"), QStringLiteral("res") });
}

int main(int argc, char **argv)
{
    inspectBeforeApplication();
    QCoreApplication app(argc, argv);
    TestResources test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_resources.moc"
