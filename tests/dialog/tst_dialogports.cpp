// The update dialog's ports: every port named in ZQ_UPDATER_PORTS is opened at
// 19200 baud, 8N1, once, in the given order; one that cannot be opened stays
// listed, closed; closing the dialog closes and deletes them all.
#include "PtyPair.h"
#include "support/TestSupport.h"
#include "update/DialogBootload.h"
#include "update/PortTest.h"
#include "update/UpdateMode.h"

#include "ui_DialogBootload.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QSerialPortInfo>
#include <QtTest>
#include <termios.h>
#include <unistd.h>

namespace {

// How many descriptors of this process are open on the device at path.
int descriptorsOn(const QString &path)
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    int count = 0;
    const QStringList entries
        = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (QFileInfo(fds.filePath(entry)).symLinkTarget() == path)
            ++count;
    }
    return count;
}

// The device path of a port that was given by its path.
QString devicePathOf(const PortTest *port)
{
    const QString name = port->portName();
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

QList<QPointer<PortTest>> guarded(const QList<PortTest *> &ports)
{
    QList<QPointer<PortTest>> result;
    for (PortTest *port : ports)
        result.append(port);
    return result;
}

} // namespace

class TestDialogPorts : public QObject
{
    Q_OBJECT

private slots:
    void init() { qunsetenv("ZQ_UPDATER_PORTS"); }

    void namedPortOpensOnce_data();
    void namedPortOpensOnce();
    void twoPortsInGivenOrder();
    void portThatCannotOpen();
    void noPortsAtAll();
};

void TestDialogPorts::namedPortOpensOnce_data()
{
    QTest::addColumn<QString>("pattern"); // %1: the device path, %2: the port name

    QTest::newRow("path") << "%1";
    QTest::newRow("name") << "%2";
    QTest::newRow("twice") << "%1,%1";
    QTest::newRow("empty entries") << ",%1,,";
    QTest::newRow("path and name") << "%1,%2";
}

void TestDialogPorts::namedPortOpensOnce()
{
    QFETCH(QString, pattern);
    PtyPair pty;
    QVERIFY(pty.open());
    const QString path = pty.slavePath();
    QVERIFY(path.startsWith(QLatin1String("/dev/")));
    qputenv("ZQ_UPDATER_PORTS", pattern.arg(path, path.mid(5)).toLocal8Bit());

    const int before = descriptorsOn(path);
    QCOMPARE(before, 1); // the pair's own
    DialogBootload dlg(FirmwareAndImages, nullptr);
    dlg.timer.stop();

    QCOMPARE(dlg.ports.size(), 1);
    PortTest *port = dlg.ports.first();
    QCOMPARE(devicePathOf(port), path);
    QVERIFY(port->isOpen());
    QCOMPARE(port->openMode(), QIODevice::ReadWrite);
    QCOMPARE(port->jobState, StartVersionQuery);
    QCOMPARE(descriptorsOn(path), before + 1);
    const QString log = dlg.ui->textEdit->toPlainText();
    QVERIFY2(!log.contains(QLatin1String("Could not open port")), qPrintable(log));

    // What the line itself was set to: 19200 baud, 8N1, no flow control.
    QCOMPARE(pty.baudRate(), 19200);
    termios t {};
    QCOMPARE(tcgetattr(pty.masterFd(), &t), 0);
    QCOMPARE(t.c_cflag & CSIZE, tcflag_t(CS8));
    QCOMPARE(t.c_cflag & PARENB, tcflag_t(0));
    QCOMPARE(t.c_cflag & CSTOPB, tcflag_t(0));
    QCOMPARE(t.c_cflag & CRTSCTS, tcflag_t(0));
    QCOMPARE(t.c_iflag & (IXON | IXOFF), tcflag_t(0));

    // Received bytes reach the port's receive line through the dialog.
    const QByteArray partial = "$MVERR,1";
    QCOMPARE(::write(pty.masterFd(), partial.constData(), partial.size()), ssize_t(partial.size()));
    QTRY_COMPARE_WITH_TIMEOUT(int(port->rxLength), partial.size(), 10000);

    // Closing the dialog closes and deletes its port.
    const QPointer<PortTest> guard(port);
    dlg.reject();
    QVERIFY(guard.isNull());
    QVERIFY(dlg.ports.isEmpty());
    QCOMPARE(descriptorsOn(path), before);
}

void TestDialogPorts::twoPortsInGivenOrder()
{
    PtyPair first;
    PtyPair second;
    QVERIFY(first.open());
    QVERIFY(second.open());
    // Given second first: the variable's order counts, not the order of creation.
    qputenv("ZQ_UPDATER_PORTS",
        (second.slavePath() + QLatin1Char(',') + first.slavePath()).toLocal8Bit());

    DialogBootload dlg(ImagesOnly, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.ports.size(), 2);
    QCOMPARE(devicePathOf(dlg.ports[0]), second.slavePath());
    QCOMPARE(devicePathOf(dlg.ports[1]), first.slavePath());
    for (PortTest *port : qAsConst(dlg.ports))
        QCOMPARE(port->jobState, StartVersionQuery);
    QCOMPARE(first.baudRate(), 19200);
    QCOMPARE(second.baudRate(), 19200);
    QCOMPARE(descriptorsOn(first.slavePath()), 2);
    QCOMPARE(descriptorsOn(second.slavePath()), 2);

    const auto guards = guarded(dlg.ports);
    dlg.reject();
    for (const QPointer<PortTest> &guard : guards)
        QVERIFY(guard.isNull());
    QCOMPARE(descriptorsOn(first.slavePath()), 1);
    QCOMPARE(descriptorsOn(second.slavePath()), 1);
}

void TestDialogPorts::portThatCannotOpen()
{
    PtyPair pty;
    QVERIFY(pty.open());
    const QString missing = TestSupport::appFile(QStringLiteral("no-such-folder/ttyZQ0"));
    QVERIFY(!QFileInfo::exists(missing));
    qputenv("ZQ_UPDATER_PORTS", (missing + QLatin1Char(',') + pty.slavePath()).toLocal8Bit());

    DialogBootload dlg(DeleteImages, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.ports.size(), 2);
    PortTest *failed = dlg.ports[0];
    QCOMPARE(failed->portName(), missing);
    QVERIFY(!failed->isOpen());
    QVERIFY(dlg.ports[1]->isOpen());

    // The user reads which port failed; the open one is not mentioned.
    const QString log = dlg.ui->textEdit->toPlainText();
    QVERIFY2(log.contains(QStringLiteral("Could not open port ") + missing), qPrintable(log));
    QVERIFY2(!log.contains(pty.slavePath().mid(5)), qPrintable(log));

    // The port that never opened is deleted like the other one.
    const auto guards = guarded(dlg.ports);
    dlg.reject();
    QVERIFY(dlg.ports.isEmpty());
    for (const QPointer<PortTest> &guard : guards)
        QVERIFY(guard.isNull());
    QCOMPARE(descriptorsOn(pty.slavePath()), 1);
}

void TestDialogPorts::noPortsAtAll()
{
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        if (info.manufacturer().contains(QLatin1String("FTDI")))
            QSKIP("an FTDI adapter is attached to this machine");
    }

    DialogBootload dlg(FirmwareAndImages, nullptr);
    QVERIFY(dlg.ports.isEmpty());
    QVERIFY(dlg.timer.isActive());
    const QString log = dlg.ui->textEdit->toPlainText();
    QVERIFY2(!log.contains(QLatin1String("Could not open port")), qPrintable(log));
}

QTEST_MAIN(TestDialogPorts)
#include "tst_dialogports.moc"
