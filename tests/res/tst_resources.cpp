// The resource bundle is built into every program that links the engine:
// ":/res/Address.bin" is there with its four bytes, no application object needed.
#include <QFile>
#include <QtTest>

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    void addressRecord()
    {
        QFile file(QStringLiteral(":/res/Address.bin"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\x00\x14\x00\x00", 4));
    }
};

QTEST_APPLESS_MAIN(TestResources)
#include "tst_resources.moc"
