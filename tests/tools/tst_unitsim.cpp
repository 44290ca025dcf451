// The simulated unit is a test instrument; these show that its checks catch
// what they claim: a lost data line and a sector programmed without its erase
// (the flash model), a line sent at the wrong speed, a unit that goes silent or
// restarts, and one left captured that pauses. Whole jobs against it run in
// tests/window.
#include "FlashModel.h"
#include "SimUnit.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QtTest>

using TestSupport::framed;

namespace {

SimConfig fastConfig()
{
    SimConfig c;
    c.restartMs = 20;
    c.eraseMs = 50;
    return c;
}

QByteArray randomBytes(int n, quint32 seed)
{
    QByteArray b(n, '\0'); // n: a multiple of 4
    QRandomGenerator(seed).fillRange(reinterpret_cast<quint32 *>(b.data()), n / 4);
    return b;
}

// Writes one sector into the flash as the updater does: erase, 64 lines,
// program; the line at offset skip is left out, and without erase the erase is.
void writeSector(
    FlashModel &flash, quint32 address, const QByteArray &data, bool erase = true, int skip = -1)
{
    if (erase)
        flash.erase(address, 1);
    for (int offset = 0; offset < 4096; offset += 64)
        if (offset != skip)
            flash.storeLine(quint32(offset), data.mid(offset, 64));
    flash.program(address, 4096);
}

// Opens the tool's end of unit at 19200, asks its version and sends
// "$BOOTLOADM": true once the unit runs its bootloader.
bool enterBootloader(SimUnit &unit, SerialPeer &tool)
{
    return unit.open() && tool.open(unit.path(), 19200)
        && tool.command("$MVER") == framed("$MVERR,D.02m") && tool.send("$BOOTLOADM")
        && QTest::qWaitFor([&unit] { return unit.stage() == SimUnit::Stage::Bootloader; }, 5000);
}

} // namespace

class TestUnitSim : public QObject
{
    Q_OBJECT

private slots:
    void flashFindsLostLinesAndMissingErases()
    {
        FlashModel flash;
        const QByteArray clean = randomBytes(4096, 1);
        writeSector(flash, 0x1000, clean);
        QVERIFY(flash.problems().isEmpty());
        QCOMPARE(flash.bytes().mid(0x1000, 4096), clean);

        // One data line never arrived: the sector is programmed with a hole.
        const QByteArray holed = randomBytes(4096, 2);
        writeSector(flash, 0x2000, holed, true, 0x40);
        QCOMPARE(flash.problems().value("lostData"), 1);
        QCOMPARE(flash.problems().value("lostDataLines"), 1);
        QVERIFY(flash.bytes().mid(0x2000, 4096) != holed);

        // Its erase lost: programmed over the old firmware, so the bits don't match.
        const QByteArray unerased = randomBytes(4096, 3);
        writeSector(flash, 0x3000, unerased, false);
        QCOMPARE(flash.problems().value("unerased"), 1);
        QVERIFY(flash.bytes().mid(0x3000, 4096) != unerased);

        // Compared with what was sent, the two bad sectors are named, the clean one not.
        QByteArray expected = flash.bytes();
        expected.replace(0x2000, 4096, holed);
        expected.replace(0x3000, 4096, unerased);
        const QJsonObject diff = flash.compare(expected);
        QCOMPARE(diff.value("equal").toBool(true), false);
        QCOMPARE(diff.value("differingSectors").toArray(), QJsonArray({ "0x2000", "0x3000" }));
        QCOMPARE(flash.compare(flash.bytes()).value("equal").toBool(), true);
    }

    // The bootloader runs at 921600: what the tool sends at 19200 is garbage to
    // it and counted, and its announcement is not heard at 19200.
    void lineAtTheWrongSpeed()
    {
        SimUnit unit(fastConfig());
        SerialPeer tool;
        QVERIFY(enterBootloader(unit, tool));
        QVERIFY(tool.send("$MVER"));
        QTRY_COMPARE_WITH_TIMEOUT(unit.linesAtWrongSpeed(), 1, 5000);
        QCOMPARE(TestSupport::readAvailable(tool.fd, tool.received), 0);

        QVERIFY(tool.setBaud(921600));
        QCOMPARE(tool.waitLine("$"), QByteArray("$Bootloader\n"));
        QVERIFY(tool.write("$G\n"));
        QCOMPARE(tool.waitLine("$GACK"), framed("$GACK"));
        QCOMPARE(unit.linesAtWrongSpeed(), 1);
    }

    // After "$X" the firmware runs again at 19200 baud: it reports the update's
    // version only when its flash holds the payload (or, with nothing to compare
    // with, when a new version is given), and nothing when it does not start.
    void afterExitTheFirmwareReportsWhatItHolds_data()
    {
        QTest::addColumn<bool>("payloadFirmware");
        QTest::addColumn<bool>("noStart");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("flash without the payload: the old version") << true << false
                                                                    << framed("$MVERR,D.02m");
        QTest::newRow("nothing to compare with: the new version") << false << false
                                                                  << framed("$MVERR,D.03a");
        QTest::newRow("the new firmware does not start: no answer")
            << false << true << QByteArray();
    }

    void afterExitTheFirmwareReportsWhatItHolds()
    {
        QFETCH(bool, payloadFirmware);
        QFETCH(bool, noStart);
        QFETCH(QByteArray, answer);
        SimConfig config = fastConfig();
        config.newVersionText = QStringLiteral("D.03a");
        config.noStart = noStart;
        SimUnit unit(config);
        unit.setExpectation({ payloadFirmware, randomBytes(0x3000, 4), false, {}, {} });
        SerialPeer tool;
        QVERIFY(enterBootloader(unit, tool));
        QVERIFY(tool.setBaud(921600) && tool.write("$G\n"));
        QCOMPARE(tool.waitLine("$GACK"), framed("$GACK"));
        QVERIFY(tool.send("$X"));
        QTRY_VERIFY_WITH_TIMEOUT(unit.exitReceived(), 5000);
        QVERIFY(tool.setBaud(19200));
        if (!answer.isEmpty()) {
            QCOMPARE(tool.command("$MVER"), answer);
            return;
        }
        QVERIFY(tool.send("$MVER"));
        QTRY_COMPARE_WITH_TIMEOUT(
            unit.report().value("faults").toObject().value("notStarted").toInt(), 1, 5000);
        QCOMPARE(TestSupport::readAvailable(tool.fd, tool.received), 0);
    }

    // A unit gone silent reads on, with its port open, and answers nothing, not
    // even with its bootloader's announcement. A restarted one announces itself
    // again, takes "$G" and has forgotten its erase.
    void silenceAndRestart()
    {
        SimConfig config = fastConfig();
        config.silentAfter = 2;
        SimUnit quiet(config);
        SerialPeer tool;
        QVERIFY(enterBootloader(quiet, tool));
        QVERIFY(tool.setBaud(921600) && tool.write("$G\n"));
        QTRY_COMPARE_WITH_TIMEOUT(quiet.ignoredCount("silent"), 1, 5000);
        QVERIFY(quiet.silent() && !quiet.captured());
        // One reply, "$MVERR": no announcement went out, at either speed.
        QCOMPARE(quiet.report().value("lines").toObject(),
            QJsonObject({ { "fromTool", 3 }, { "toTool", 1 }, { "notDelivered", 0 } }));
        QCOMPARE(TestSupport::readAvailable(tool.fd, tool.received), 0);

        config = fastConfig();
        config.startInBootloader = true;
        config.restartAfter = 2;
        SimUnit unit(config);
        QVERIFY(unit.open() && tool.open(unit.path(), 921600));
        QVERIFY(tool.waitLine("$Bootloader").size() > 0 && tool.write("$G\n"));
        QCOMPARE(tool.waitLine("$GACK"), framed("$GACK"));
        QCOMPARE(tool.command("$E,1000,1"), framed("$EACK"));
        QCOMPARE(tool.waitLine("$Bootloader"), QByteArray("$Bootloader\n"));
        QCOMPARE(unit.restarts(), 1);
        QVERIFY(tool.write("$G\n"));
        QCOMPARE(tool.waitLine("$GACK"), framed("$GACK"));
        // No second restart; the sector goes in, unerased since the restart.
        const QByteArray zeros = QByteArray(",00").repeated(64);
        for (int offset = 0; offset < 4096; offset += 64)
            QCOMPARE(tool.command("$D," + QByteArray::number(offset, 16).toUpper() + zeros),
                framed("$DACK"));
        QCOMPARE(tool.command("$P,1000,1000"), framed("$PACK"));
        QCOMPARE(unit.restarts(), 1);
        QCOMPARE(unit.problemCount("unerased"), 1);
    }

    // A unit left captured announces nothing and takes "$G". Its pause holds
    // the "$GACK" back; the answers to the 30 copies of a data line sent
    // meanwhile follow it, in order.
    void capturedUnitPauses()
    {
        SimConfig config = fastConfig();
        config.startCaptured = true;
        config.pauseReplies = 1; // no new pause while replies wait behind one
        config.pauseMinMs = config.pauseMaxMs = 150;
        SimUnit unit(config);
        SerialPeer tool;
        QVERIFY(unit.open() && tool.open(unit.path(), 921600));
        const QByteArray copy = framed("$D,0" + QByteArray(",00").repeated(64));
        QElapsedTimer clock;
        clock.start();
        QVERIFY(tool.write("$G\n" + copy.repeated(30)));
        qint64 firstMs = -1;
        int reads = 0;
        QByteArray got;
        while (got.count('\n') < 31 && clock.elapsed() < 10000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            if (TestSupport::readAvailable(tool.fd, got) > 0) {
                ++reads;
                if (firstMs < 0)
                    firstMs = clock.elapsed();
            }
        }
        QVERIFY2(firstMs >= 149, qPrintable(QString::number(firstMs)));
        QCOMPARE(got, framed("$GACK") + framed("$DACK").repeated(30));
        // Behind the pause the unit writes one line a timer event, each at
        // least 1 ms after the one before, and this loop reads after every
        // pass of at most 1 ms through the events: however late this program
        // runs, the 31 lines can't all come in one read.
        QVERIFY2(reads >= 2, "the held-back reply and those behind it came in one write");
        QCOMPARE(unit.faultCount("pausedReplies"), 1);
        QCOMPARE(unit.repeatCount("G"), 0);
        QCOMPARE(unit.repeatCount("D"), 29);
        QCOMPARE(unit.report()["lines"].toObject()["toTool"].toInt(), 31);
    }
};

QTEST_GUILESS_MAIN(TestUnitSim)
#include "tst_unitsim.moc"
