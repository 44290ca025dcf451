// The dialog's bytes on a real serial line: a pseudo-terminal whose slave the
// dialog opens through ZQ_UPDATER_PORTS while the test holds the master, with
// the job timer stopped so only the test's lines go out. What the job sends
// and how it takes replies is the engine test's (tests/engine).
#include "PtyPair.h"
#include "support/TestSupport.h"
#include "window/DialogBootload.h"
#include "engine/PortTest.h"
#include "engine/Protocol.h"
#include "engine/UpdateMode.h"

#include <QLabel>
#include <QtTest>

class TestProtocolWire : public QObject
{
    Q_OBJECT

private slots:
    void bytesAndIndicators()
    {
        PtyPair pty;
        QVERIFY(pty.open());
        qputenv("ZQ_UPDATER_PORTS", pty.slavePath().toLocal8Bit());
        DialogBootload dlg(ImagesOnly, nullptr);
        dlg.jobs().stopTimer();
        QCOMPARE(dlg.ports().size(), 1);
        PortTest *port = dlg.ports().first();
        QVERIFY(port->isOpen());
        SerialPeer unit(pty.masterFd());

        // Every framed line moves the send indicator one frame on.
        for (const char *frame : { "|", "/", "-", "-", "|", "/" }) {
            Protocol::Line buf;
            Protocol::versionQuery(buf);
            dlg.jobs().sendLine(port, buf);
            QCOMPARE(unit.waitLine(""), QByteArray("$MVER*826A\n"));
            QTRY_COMPARE(dlg.findChild<QLabel *>("labelTX")->text(), QStringLiteral("TX: ") + frame);
        }
        // "$G" goes out as its three bytes, unframed, and moves no indicator.
        dlg.jobs().sendRaw(port, QString::fromLatin1(Protocol::kCapture));
        QCOMPARE(unit.waitLine(""), QByteArray("$G\n"));

        // Every received line moves the receive indicator, however its bytes arrive.
        QVERIFY(unit.write("$EACK\n$DA"));
        QTRY_COMPARE(dlg.findChild<QLabel *>("labelRX")->text(), QStringLiteral("RX: |"));
        QVERIFY(unit.write("CK\n"));
        QTRY_COMPARE(dlg.findChild<QLabel *>("labelRX")->text(), QStringLiteral("RX: /"));
        QCOMPARE(dlg.findChild<QLabel *>("labelTX")->text(), QStringLiteral("TX: /"));
        TestSupport::readAvailable(unit.fd, unit.received);
        QCOMPARE(unit.received, QByteArray()); // nothing else went out

        // The version query: eight "$MVER", two "$BOOTLOADM", the last written
        // just before the port closes for the speed change: it must go out.
        for (int step = 0; step < 11; ++step)
            dlg.jobs().tick();
        QVERIFY(!port->isOpen());
        for (int line = 0; line < 10; ++line)
            QCOMPARE(unit.waitLine(""), QByteArray(line < 8 ? "$MVER*826A\n" : "$BOOTLOADM*9FEC\n"));
        qunsetenv("ZQ_UPDATER_PORTS");
    }
};

QTEST_MAIN(TestProtocolWire)
#include "tst_protocolwire.moc"
