// The simulated unit, driven through its own pseudo-terminal the way the
// updater drives a port: frame checks, stages and speeds, the flash model,
// image assembly, and faults that repeat for a seed. Whole jobs against it,
// with every fault, run in tests/sequencer.
#include "FlashModel.h"
#include "PtyPair.h"
#include "SimUnit.h"
#include "ToolSide.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>
#include <unistd.h>

namespace {

SimConfig fastConfig()
{
    SimConfig c;
    c.restartMs = 20;
    c.eraseMs = 50;
    return c;
}

// "$F,<chunk>" followed by the bytes, each ",%02X".
QByteArray withBytes(const QByteArray &head, const QByteArray &bytes)
{
    QByteArray text = head;
    for (char b : bytes)
        text += ','
            + QByteArray::number(static_cast<quint8>(b), 16).toUpper().rightJustified(2, '0');
    return text;
}

QByteArray randomBytes(int n, quint32 seed)
{
    QRandomGenerator g(seed);
    QByteArray b(n, '\0');
    for (char &c : b)
        c = static_cast<char>(g.bounded(256));
    return b;
}

// Writes one sector into the flash as the updater does: erase, 64 lines,
// program; the line at offset skip is left out, and without erase the erase is.
void writeSector(
    FlashModel &flash, quint32 address, const QByteArray &data, bool erase = true, int skip = -1)
{
    if (erase)
        flash.erase(address, 1);
    const QByteArray sector = data.leftJustified(4096, '\0');
    for (int offset = 0; offset < 4096; offset += 64)
        if (offset != skip)
            flash.storeLine(quint32(offset), sector.mid(offset, 64));
    flash.program(address, 4096);
}

} // namespace

class TestUnitSim : public QObject
{
    Q_OBJECT

private slots:
    // Wrong checksum, lower-case digits, leading zeros, none at all, CR before
    // LF: each counted, none answered.
    void badFramesAreCountedAndIgnored()
    {
        SimUnit unit(fastConfig());
        ToolSide tool;
        QVERIFY(unit.open() && tool.open(unit.path(), 19200));
        QVERIFY(tool.write("$MVER*826B\n$MVER*826a\n$KP*00F3\n$MVER\n$MVER*826A\r\n"));
        QCOMPARE(tool.command("$MVER"), ToolSide::framed("$MVERR,D.02m"));
        QCOMPARE(tool.received, QByteArray()); // one reply only: the bad lines got none

        QCOMPARE(unit.commandCount("MVER"), 1);
        QCOMPARE(unit.problemCount("badChecksum"), 1);
        QCOMPARE(unit.problemCount("checksumForm"), 3);
        QCOMPARE(unit.problemCount("unframed"), 1);
        QCOMPARE(unit.report().value("problemCount").toInt(), 5);
    }

    void stagesAndSpeeds()
    {
        SimConfig config = fastConfig();
        config.versionText = "Z.99";
        SimUnit unit(config);
        QSignalSpy finished(&unit, &SimUnit::finished);
        QVERIFY(unit.open());
        ToolSide tool;

        // Running firmware at 19200: the version query.
        QVERIFY(tool.open(unit.path(), 19200));
        QCOMPARE(tool.command("$MVER"), ToolSide::framed("$MVERR,Z.99"));
        QCOMPARE(unit.stage(), SimUnit::Stage::Running);

        // "$BOOTLOADM": the bootloader starts, at 921600; at 19200 the tool's
        // side hears nothing from it, and what it sends is garbage to it.
        QVERIFY(tool.send("$BOOTLOADM"));
        QTRY_VERIFY_WITH_TIMEOUT(unit.stage() == SimUnit::Stage::Bootloader, 5000);
        QVERIFY(tool.send("$MVER"));
        QTRY_COMPARE_WITH_TIMEOUT(unit.linesAtWrongSpeed(), 1, 5000);
        QByteArray heard;
        TestSupport::readAvailable(tool.fd(), heard);
        QCOMPARE(heard, QByteArray());

        // At 921600 the announcements arrive, bare, until "$G".
        QVERIFY(tool.setBaud(921600));
        QCOMPARE(tool.waitLine("$"), QByteArray("$Bootloader\n"));
        QVERIFY(tool.send("$E,1000,1")); // not captured yet: ignored
        QTRY_COMPARE_WITH_TIMEOUT(unit.ignoredCount("uncaptured"), 1, 5000);
        QVERIFY(tool.write("$G\n"));
        QCOMPARE(tool.waitLine("$GACK"), ToolSide::framed("$GACK"));
        QVERIFY(unit.captured());
        QCOMPARE(unit.commandCount("E"), 0);

        // "$X": the new firmware runs, at 19200 again.
        QVERIFY(tool.send("$X"));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 5000);
        QCOMPARE(unit.stage(), SimUnit::Stage::Running);
        QVERIFY(tool.send("$MVER")); // still at 921600
        QTRY_COMPARE_WITH_TIMEOUT(unit.linesAtWrongSpeed(), 2, 5000);
        QVERIFY(tool.setBaud(19200));
        QCOMPARE(tool.command("$MVER"), ToolSide::framed("$MVERR,Z.99"));
        QCOMPARE(unit.report().value("stageReached").toString(), QString("exit"));
    }

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

        // Compared with what was sent (the untouched sectors as they are), the
        // two bad sectors are named and the clean one is not.
        QByteArray expected = flash.bytes();
        expected.replace(0x2000, 4096, holed);
        expected.replace(0x3000, 4096, unerased);
        const QJsonObject diff = flash.compare(expected);
        QCOMPARE(diff.value("equal").toBool(true), false);
        QCOMPARE(diff.value("differingSectors").toArray(), QJsonArray({ "0x2000", "0x3000" }));
        QCOMPARE(flash.compare(flash.bytes()).value("equal").toBool(), true);
    }

    void imageAssembly()
    {
        SimConfig config = fastConfig();
        config.startInBootloader = true;
        SimUnit unit(config);
        ToolSide tool;
        QVERIFY(unit.open() && tool.open(unit.path(), 921600));
        QVERIFY(tool.waitLine("$Bootloader").size() > 0);
        QVERIFY(tool.write("$G\n"));
        QCOMPARE(tool.waitLine("$GACK"), ToolSide::framed("$GACK"));

        // 20 x 10 pixels of 2 bytes: 400 bytes in chunks 00 (256) and 01 (144);
        // chunk 00 sent twice is stored once.
        const QByteArray pixels = randomBytes(400, 5);
        QCOMPARE(tool.command("$I,01,01,14,0A"), ToolSide::framed("$IACK,0"));
        const QByteArray chunk0 = withBytes("$F,00", pixels.left(256));
        QCOMPARE(tool.command(chunk0), ToolSide::framed("$FACK,00,0"));
        QCOMPARE(tool.command(chunk0), ToolSide::framed("$FACK,00,0"));
        QCOMPARE(unit.images().images().value(1).chunksReceived, 1);
        QCOMPARE(unit.repeatCount("F"), 1);
        QVERIFY(!unit.images().images().value(1).complete());
        QCOMPARE(tool.command(withBytes("$F,01", pixels.mid(256))), ToolSide::framed("$FACK,01,0"));
        QVERIFY(unit.images().images().value(1).complete());
        QCOMPARE(unit.images().images().value(1).bytes, pixels);

        // The same version again is held already; a new one is taken.
        QCOMPARE(tool.command("$I,01,01,14,0A"), ToolSide::framed("$IACK,1"));
        QCOMPARE(tool.command("$I,01,02,14,0A"), ToolSide::framed("$IACK,0"));
    }

    void faultsRepeatForASeed()
    {
        SimConfig config = fastConfig();
        config.seed = 7;
        config.dropLines = config.corruptLines = 0.1;
        config.dropReplies = config.dupReplies = config.noise = 0.15;

        // The same 200 queries through units with the same seed, and one other
        // seed; the lines heard are the replies and noise the unit reports.
        auto run = [](const SimConfig &c, QStringList &trace) {
            SimUnit unit(c);
            ToolSide tool;
            QVERIFY(unit.open() && tool.open(unit.path(), 19200));
            for (int i = 1; i <= 200; ++i) {
                QVERIFY(tool.send("$MVER"));
                QTRY_COMPARE_WITH_TIMEOUT(unit.linesReceived(), qint64(i), 5000);
            }
            QCOMPARE(unit.commandCount("MVER"),
                200 - unit.faultCount("droppedLines") - unit.faultCount("corruptedLines"));
            const int replies = unit.commandCount("MVER") - unit.faultCount("droppedReplies")
                + unit.faultCount("duplicatedReplies");
            const QList<QByteArray> lines = tool.waitLines(replies + unit.faultCount("noiseLines"));
            QCOMPARE(lines.count(ToolSide::framed("$MVERR,D.02m")), replies);
            QCOMPARE(lines.size(), replies + unit.faultCount("noiseLines"));
            trace = unit.faultTrace();
        };
        QStringList a, b, c;
        run(config, a);
        run(config, b);
        config.seed = 8;
        run(config, c);
        if (QTest::currentTestFailed())
            return;
        for (const char *kind : { "drop-line", "corrupt-line", "drop-reply", "dup-reply", "noise" })
            QVERIFY2(!a.filter(QLatin1String(kind)).isEmpty(), kind);
        QCOMPARE(a, b);
        QVERIFY(a != c);
    }

    // A unit gone silent reads on, with its port open, and answers nothing, not
    // even with its bootloader's announcement. A restarted one announces itself
    // again, takes "$G" and has forgotten its erase.
    void silenceAndRestart()
    {
        SimConfig config = fastConfig();
        config.silentAfter = 2;
        SimUnit quiet(config);
        ToolSide tool;
        QVERIFY(quiet.open() && tool.open(quiet.path(), 19200));
        QCOMPARE(tool.command("$MVER"), ToolSide::framed("$MVERR,D.02m"));
        QVERIFY(tool.send("$BOOTLOADM"));
        QTRY_VERIFY_WITH_TIMEOUT(quiet.stage() == SimUnit::Stage::Bootloader, 5000);
        QVERIFY(tool.setBaud(921600) && tool.write("$G\n"));
        QTRY_COMPARE_WITH_TIMEOUT(quiet.ignoredCount("silent"), 1, 5000);
        QVERIFY(quiet.silent() && !quiet.captured());
        // One reply, "$MVERR": no announcement went out, at either speed.
        QCOMPARE(quiet.report().value("lines").toObject(),
            QJsonObject({ { "fromTool", 3 }, { "toTool", 1 }, { "notDelivered", 0 } }));
        QCOMPARE(TestSupport::readAvailable(tool.fd(), tool.received), 0);

        config = fastConfig();
        config.startInBootloader = true;
        config.restartAfter = 2;
        SimUnit unit(config);
        QVERIFY(unit.open() && tool.open(unit.path(), 921600));
        QVERIFY(tool.waitLine("$Bootloader").size() > 0 && tool.write("$G\n"));
        QCOMPARE(tool.waitLine("$GACK"), ToolSide::framed("$GACK"));
        QCOMPARE(tool.command("$E,1000,1"), ToolSide::framed("$EACK"));
        QCOMPARE(tool.waitLine("$Bootloader"), QByteArray("$Bootloader\n"));
        QCOMPARE(unit.restarts(), 1);
        QVERIFY(tool.write("$G\n"));
        QCOMPARE(tool.waitLine("$GACK"), ToolSide::framed("$GACK"));
        // No second restart; the sector goes in, unerased since the restart.
        for (int offset = 0; offset < 4096; offset += 64)
            QCOMPARE(tool.command(withBytes(
                         "$D," + QByteArray::number(offset, 16).toUpper(), QByteArray(64, '\0'))),
                ToolSide::framed("$DACK"));
        QCOMPARE(tool.command("$P,1000,1000"), ToolSide::framed("$PACK"));
        QCOMPARE(unit.restarts(), 1);
        QCOMPARE(unit.problemCount("unerased"), 1);
    }

    // On a real serial device the unit runs its own side at each stage's speed.
    // A pseudo-terminal's slave stands in for the device; the test holds the master.
    void servesASerialDevice()
    {
        PtyPair wire;
        QVERIFY(wire.open());
        SimConfig config = fastConfig();
        config.device = wire.slavePath();
        SimUnit unit(config);
        QVERIFY(unit.open());
        QCOMPARE(wire.baudRate(), 19200);

        const auto exchange = [&wire](const QByteArray &text, const QByteArray &expect) {
            const QByteArray line = ToolSide::framed(text);
            if (::write(wire.masterFd(), line.constData(), size_t(line.size())) != line.size())
                return false;
            QByteArray got;
            return TestSupport::pumpUntil(wire.masterFd(), got,
                [&expect](const QByteArray &b) { return b.contains(expect); });
        };
        QVERIFY(exchange("$MVER", "$MVERR," + config.versionText.toLatin1()));
        QVERIFY(exchange("$BOOTLOADM", "$Bootloader\n"));
        QCOMPARE(wire.baudRate(), 921600);
        QCOMPARE(unit.stage(), SimUnit::Stage::Bootloader);
    }
};

QTEST_GUILESS_MAIN(TestUnitSim)
#include "tst_unitsim.moc"
