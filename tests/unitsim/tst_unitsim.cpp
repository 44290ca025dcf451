// The simulated unit, driven through its own pseudo-terminal the way the
// updater drives a port: frame checks, stages and speeds, the flash model,
// image assembly, the report, and faults that repeat for a seed.
#include "FlashModel.h"
#include "FrameCheck.h"
#include "SimUnit.h"
#include "ToolSide.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QtTest>
#include <poll.h>

namespace {

SimConfig fastConfig()
{
    SimConfig c;
    c.restartMs = 20;
    c.eraseMs = 50;
    return c;
}

QByteArray hex(quint32 v)
{
    return QByteArray::number(v, 16).toUpper();
}

QByteArray hex2(quint32 v)
{
    return hex(v).rightJustified(2, '0');
}

// "$D,<offset>" or "$F,<chunk>" followed by the bytes, each ",%02X".
QByteArray withBytes(const QByteArray &head, const QByteArray &bytes)
{
    QByteArray text = head;
    for (char b : bytes)
        text += ',' + hex2(static_cast<quint8>(b));
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

// Sends one sector as the updater does: "$E", 64 "$D", "$P"; lines at the
// offsets in skip are left out, and without erase the "$E" is.
void writeSector(ToolSide &tool, quint32 address, const QByteArray &data, bool erase = true,
    QList<int> skip = {})
{
    if (erase)
        QCOMPARE(tool.command("$E," + hex(address) + ",1"), ToolSide::framed("$EACK"));
    for (int offset = 0; offset < 4096; offset += 64) {
        if (skip.contains(offset))
            continue;
        QCOMPARE(tool.command(withBytes("$D," + hex(offset), data.mid(offset, 64))),
            ToolSide::framed("$DACK"));
    }
    QCOMPARE(tool.command("$P," + hex(address) + ",1000"), ToolSide::framed("$PACK"));
}

// A unit and the tool's end of its line, opened at 19200 baud.
struct Bench {
    explicit Bench(const SimConfig &config)
        : unit(config)
    {
    }
    bool open()
    {
        return unit.open() && tool.open(unit.path(), 19200);
    }
    SimUnit unit;
    ToolSide tool;
};

} // namespace

// capture() from a test function, which ends when it fails.
#define CAPTURE(unit, tool)                                                                        \
    do {                                                                                           \
        capture(unit, tool);                                                                       \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

class TestUnitSim : public QObject
{
    Q_OBJECT

private:
    // Takes a unit from its running firmware into its captured bootloader.
    void capture(SimUnit &unit, ToolSide &tool)
    {
        QVERIFY(tool.open(unit.path(), 19200));
        QVERIFY(tool.command("$MVER").startsWith("$MVERR,"));
        QVERIFY(tool.send("$BOOTLOADM"));
        // Switching speed before the unit has read the line would garble it.
        QTRY_VERIFY_WITH_TIMEOUT(unit.stage() != SimUnit::Stage::Running, 5000);
        tool.close();
        QVERIFY(tool.open(unit.path(), 921600));
        QCOMPARE(tool.waitLine("$Bootloader"), QByteArray("$Bootloader\n"));
        QVERIFY(tool.write("$G\n"));
        QCOMPARE(tool.waitLine("$GACK"), ToolSide::framed("$GACK"));
        QVERIFY(unit.captured());
    }

private slots:
    void frameCheckOfSingleLines_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("result");
        QTest::newRow("framed") << QByteArray("$MVER*826A\n") << int(FrameCheck::Framed);
        QTest::newRow("one digit") << QByteArray("$CMW*5\n") << int(FrameCheck::Framed);
        QTest::newRow("raw") << QByteArray("$G\n") << int(FrameCheck::Raw);
        QTest::newRow("lower case") << QByteArray("$MVER*826a\n") << int(FrameCheck::ChecksumForm);
        QTest::newRow("leading zeros") << QByteArray("$KP*00F3\n") << int(FrameCheck::ChecksumForm);
        QTest::newRow("carriage return")
            << QByteArray("$MVER*826A\r\n") << int(FrameCheck::ChecksumForm);
        QTest::newRow("wrong value") << QByteArray("$MVER*826B\n") << int(FrameCheck::BadChecksum);
        QTest::newRow("no digits") << QByteArray("$MVER*\n") << int(FrameCheck::BadChecksum);
        QTest::newRow("lead-in") << QByteArray("x$MVER*826A\n") << int(FrameCheck::LeadIn);
        QTest::newRow("no start") << QByteArray("MVER*826A\n") << int(FrameCheck::NoStart);
    }

    void frameCheckOfSingleLines()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, result);
        QByteArray body;
        QCOMPARE(int(FrameCheck::check(line, body)), result);
    }

    void badFramesAreCountedAndIgnored()
    {
        Bench b(fastConfig());
        SimUnit &unit = b.unit;
        QVERIFY(b.open());
        // Wrong checksum, lower-case digits, leading zeros, none at all, CR before LF.
        QVERIFY(b.tool.write("$MVER*826B\n$MVER*826a\n$KP*00F3\n$MVER\n$MVER*826A\r\n"));
        QCOMPARE(b.tool.command("$MVER"), ToolSide::framed("$MVERR,D.02m"));
        QCOMPARE(b.tool.received, QByteArray()); // one reply only: the bad lines got none

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
        QTRY_VERIFY_WITH_TIMEOUT(
            unit.report().value("lines").toObject().value("notDelivered").toInt() >= 1, 5000);
        QByteArray heard;
        TestSupport::readAvailable(tool.fd(), heard);
        QCOMPARE(heard, QByteArray());

        // Reopened at 921600, the announcements arrive, bare, until "$G".
        tool.close();
        QVERIFY(tool.open(unit.path(), 921600));
        QCOMPARE(tool.waitLine("$"), QByteArray("$Bootloader\n"));
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
        QVERIFY(unit.exitReceived());
        QCOMPARE(unit.stage(), SimUnit::Stage::Running);
        QVERIFY(tool.send("$MVER")); // still at 921600
        QTRY_COMPARE_WITH_TIMEOUT(unit.linesAtWrongSpeed(), 2, 5000);
        QVERIFY(tool.setBaud(19200));
        QCOMPARE(tool.command("$MVER"), ToolSide::framed("$MVERR,Z.99"));

        const QJsonObject report = unit.report();
        QCOMPARE(report.value("stageReached").toString(), QString("exit"));
        QCOMPARE(report.value("exitReceived").toBool(), true);
        QCOMPARE(report.value("speeds").toObject().value("running").toArray(),
            QJsonArray({ 19200, 921600 }));
        QCOMPARE(report.value("speeds").toObject().value("bootloader").toArray(),
            QJsonArray({ 19200, 921600 }));
        QVERIFY(report.value("secondsToExit").toDouble() > 0);
    }

    void crlfRepliesAndBareAnnouncement()
    {
        SimConfig config = fastConfig();
        config.crlf = true;
        Bench b(config);
        QVERIFY(b.open());
        QCOMPARE(b.tool.command("$MVER"), ToolSide::framed("$MVERR,D.02m").replace("\n", "\r\n"));
        QVERIFY(b.tool.send("$BOOTLOADM"));
        QTRY_VERIFY_WITH_TIMEOUT(b.unit.stage() != SimUnit::Stage::Running, 5000);
        QVERIFY(b.tool.setBaud(921600));
        QCOMPARE(b.tool.waitLine("$Bootloader"), QByteArray("$Bootloader\r\n"));
    }

    void flashSectorsAndTheirProblems()
    {
        SimUnit unit(fastConfig());
        QVERIFY(unit.open());
        ToolSide tool;
        CAPTURE(unit, tool);

        // A clean sector lands in the flash as sent.
        const QByteArray first = randomBytes(4096, 1);
        writeSector(tool, 0x1000, first);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(unit.flash().bytes().mid(0x1000, 4096), first);
        QCOMPARE(unit.report().value("problemCount").toInt(), 0);

        // One data line never arrived: the sector is programmed with a hole.
        const QByteArray second = randomBytes(4096, 2);
        writeSector(tool, 0x2000, second, true, { 0x40 });
        QCOMPARE(unit.problemCount("lostData"), 1);
        QCOMPARE(unit.problemCount("lostDataLines"), 1);
        QCOMPARE(unit.problemCount("dataOrder"), 1); // 0x80 came after 0x0
        QVERIFY(unit.flash().bytes().mid(0x2000, 4096) != second);

        // Its "$E" lost: programmed over the old firmware, so the bits don't match.
        const QByteArray third = randomBytes(4096, 3);
        writeSector(tool, 0x3000, third, false);
        QCOMPARE(unit.problemCount("unerased"), 1);
        QVERIFY(unit.flash().bytes().mid(0x3000, 4096) != third);

        // Repeats change nothing and are no problem.
        const QByteArray fourth = randomBytes(4096, 4);
        QCOMPARE(tool.command("$E,4000,1"), ToolSide::framed("$EACK"));
        for (int offset = 0; offset < 4096; offset += 64) {
            const QByteArray line = withBytes("$D," + hex(offset), fourth.mid(offset, 64));
            QCOMPARE(tool.command(line), ToolSide::framed("$DACK"));
            if (offset == 0x100)
                QCOMPARE(tool.command(line), ToolSide::framed("$DACK"));
        }
        QCOMPARE(tool.command("$P,4000,1000"), ToolSide::framed("$PACK"));
        QCOMPARE(tool.command("$P,4000,1000"), ToolSide::framed("$PACK"));
        QCOMPARE(unit.flash().bytes().mid(0x4000, 4096), fourth);
        QCOMPARE(unit.repeatCount("D"), 1);
        QCOMPARE(unit.repeatCount("P"), 1);
        QCOMPARE(unit.problemCount("unerased"), 1);

        // Alignment, offsets, order and number forms.
        QCOMPARE(tool.command("$E,5010,1"), ToolSide::framed("$EACK"));
        QCOMPARE(unit.problemCount("misalignedSector"), 1);
        QCOMPARE(tool.command(withBytes("$D,41", QByteArray(64, 'x'))), ToolSide::framed("$DACK"));
        QCOMPARE(unit.problemCount("dataOffset"), 1);
        QCOMPARE(tool.command(withBytes("$D,80", QByteArray(64, 'x'))), ToolSide::framed("$DACK"));
        QCOMPARE(unit.problemCount("dataOrder"), 2);
        QCOMPARE(tool.command(withBytes("$D,0c0", QByteArray(64, 'x'))), ToolSide::framed("$DACK"));
        QCOMPARE(
            tool.command(withBytes("$D,0100", QByteArray(64, 'x'))), ToolSide::framed("$DACK"));
        QCOMPARE(unit.problemCount("numberForm"), 2);
        QCOMPARE(unit.commandCount("D"), 64 + 63 + 64 + 65 + 4);
    }

    void imageAssembly()
    {
        SimUnit unit(fastConfig());
        QVERIFY(unit.open());
        ToolSide tool;
        CAPTURE(unit, tool);

        // 20 x 10 pixels of 2 bytes: 400 bytes in chunks 00 (256) and 01 (144).
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
        QCOMPARE(tool.command(withBytes("$F,01", pixels.mid(256))), ToolSide::framed("$FACK,01,0"));
        QCOMPARE(unit.problemCount("chunkOrder"), 1);
        QCOMPARE(
            tool.command(withBytes("$F,00", pixels.left(200))), ToolSide::framed("$FACK,00,0"));
        QCOMPARE(unit.problemCount("chunkLength"), 1);

        // The report compares with the expected bytes.
        SimExpectation expected;
        expected.hasImages = true;
        expected.images.append(SimExpectedImage { 1, 2, pixels });
        expected.images.append(SimExpectedImage { 2, 1, QByteArray(10, 'a') });
        unit.setExpectation(expected);
        const QJsonObject report = unit.report();
        QCOMPARE(report.value("imagesEqual").toBool(true), false);
        const QJsonArray images = report.value("images").toArray();
        QCOMPARE(images.size(), 2);
        QCOMPARE(images.at(0).toObject().value("equal").toBool(true), false); // 200 of 256 bytes
        QCOMPARE(images.at(1).toObject().value("missing").toBool(), true);

        // Erasing: "$AACK,0" at once, "$AACK,1" later, and the images are gone.
        QCOMPARE(tool.command("$A,1"), ToolSide::framed("$AACK,0"));
        QCOMPARE(tool.waitLine("$AACK"), ToolSide::framed("$AACK,1"));
        QVERIFY(unit.images().images().isEmpty());
        QCOMPARE(tool.command("$I,01,01,14,0A"), ToolSide::framed("$IACK,0"));
    }

    void flashComparesSectors()
    {
        // The firmware range written as the updater writes it, the last sector
        // padded with zeros past the end of the image.
        const QByteArray firmware = randomBytes(913408, 6);
        FlashModel flash;
        for (quint32 address = 0x1000; address < 0xE0000; address += 0x1000) {
            flash.erase(address, 1);
            const QByteArray sector = firmware.mid(int(address), 4096).leftJustified(4096, '\0');
            for (int offset = 0; offset < 4096; offset += 64)
                flash.storeLine(quint32(offset), sector.mid(offset, 64));
            flash.program(address, 4096);
        }
        QVERIFY(flash.problems().isEmpty());
        QCOMPARE(flash.sectorsProgrammed(), 223);
        QCOMPARE(flash.compare(firmware).value("equal").toBool(), true);

        // A flash that differs in one sector names it.
        QByteArray other = firmware;
        other[0x5123] = static_cast<char>(other.at(0x5123) ^ 1);
        const QJsonObject diff = flash.compare(other);
        QCOMPARE(diff.value("equal").toBool(true), false);
        QCOMPARE(diff.value("differingSectors").toArray(), QJsonArray({ "0x5000" }));
    }

    void faultsRepeatForASeed()
    {
        SimConfig config = fastConfig();
        config.seed = 7;
        config.dropLines = 0.1;
        config.corruptLines = 0.1;
        config.dropReplies = 0.15;
        config.dupReplies = 0.15;
        config.noise = 0.15;

        // The same traffic through units with the same seed, and one other seed.
        auto run = [](const SimConfig &c, QStringList &trace, int &replies, int &noise) {
            SimUnit unit(c);
            QVERIFY(unit.open());
            ToolSide tool;
            QVERIFY(tool.open(unit.path(), 19200));
            for (int i = 1; i <= 200; ++i) {
                QVERIFY(tool.send("$MVER"));
                QTRY_COMPARE_WITH_TIMEOUT(unit.linesReceived(), qint64(i), 5000);
            }
            const int expectedReplies = unit.commandCount("MVER")
                - unit.faultCount("droppedReplies") + unit.faultCount("duplicatedReplies");
            const int expectedLines = expectedReplies + unit.faultCount("noiseLines");
            const QList<QByteArray> lines = tool.waitLines(expectedLines);
            replies = 0;
            noise = 0;
            for (const QByteArray &line : lines)
                (line == ToolSide::framed("$MVERR,D.02m") ? replies : noise)++;
            QCOMPARE(replies, expectedReplies);
            QCOMPARE(noise, unit.faultCount("noiseLines"));
            QCOMPARE(unit.commandCount("MVER"),
                200 - unit.faultCount("droppedLines") - unit.faultCount("corruptedLines"));
            trace = unit.faultTrace();
        };
        QStringList a, b, c;
        int repliesA = 0, repliesB = 0, repliesC = 0, noiseA = 0, noiseB = 0, noiseC = 0;
        run(config, a, repliesA, noiseA);
        run(config, b, repliesB, noiseB);
        config.seed = 8;
        run(config, c, repliesC, noiseC);
        if (QTest::currentTestFailed())
            return;
        for (const char *kind : { "drop-line", "corrupt-line", "drop-reply", "dup-reply", "noise" })
            QVERIFY2(!a.filter(QLatin1String(kind)).isEmpty(), kind);
        QCOMPARE(a, b);
        QCOMPARE(repliesA, repliesB);
        QCOMPARE(noiseA, noiseB);
        QVERIFY(a != c);
    }

    void delayedReplies()
    {
        SimConfig config = fastConfig();
        config.delays.append(SimDelayRule { "IACK", 1, 300 });
        config.delays.append(SimDelayRule { "DACK", 3, 300 });
        SimUnit unit(config);
        QVERIFY(unit.open());
        ToolSide tool;
        CAPTURE(unit, tool);

        QElapsedTimer timer;
        timer.start();
        QCOMPARE(tool.command("$I,01,01,1,1"), ToolSide::framed("$IACK,0"));
        QVERIFY(timer.elapsed() >= 290);

        // Every third "$DACK" is late: the first two come at once, so the third
        // arrives after them however slow the machine.
        QCOMPARE(tool.command("$E,1000,1"), ToolSide::framed("$EACK"));
        for (int i = 0; i < 3; ++i)
            QVERIFY(tool.send(withBytes("$D," + hex(i * 64), QByteArray(64, 'x'))));
        timer.restart();
        const QList<QByteArray> lines = tool.waitLines(3);
        QCOMPARE(lines.size(), 3);
        QVERIFY(timer.elapsed() >= 250);
        QCOMPARE(unit.faultCount("delayedReplies"), 2);
    }

    void pacingAndLatency()
    {
        SimConfig config = fastConfig();
        config.pace = true;
        config.latencyMs = 50;
        Bench b(config);
        ToolSide &tool = b.tool;
        QVERIFY(b.open());
        // 200 bytes out at 19200 baud take about 104 ms on the wire, the reply
        // about 9 ms more, plus the latency.
        const QByteArray line = withBytes("$MVER", QByteArray(60, 'x'));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(tool.send(line));
        QVERIFY(tool.waitLine("$MVERR").startsWith("$MVERR"));
        QVERIFY2(timer.elapsed() >= 150, qPrintable(QString::number(timer.elapsed())));
    }

    void scenarioFaults()
    {
        SimConfig config = fastConfig();
        // Already in the bootloader: the version query goes unanswered.
        config.startInBootloader = true;
        {
            Bench b(config);
            QVERIFY(b.open());
            QCOMPARE(b.unit.stage(), SimUnit::Stage::Bootloader);
            QVERIFY(b.tool.send("$MVER"));
            QTRY_COMPARE_WITH_TIMEOUT(b.unit.linesAtWrongSpeed(), 1, 5000);
            QVERIFY(b.tool.setBaud(921600));
            QCOMPARE(b.tool.waitLine("$"), QByteArray("$Bootloader\n"));
            QCOMPARE(b.unit.commandCount("MVER"), 0);
        }
        // Never shows its bootloader: it keeps answering the version query.
        config = fastConfig();
        config.ignoreBootloadm = true;
        {
            Bench b(config);
            QVERIFY(b.open());
            QVERIFY(b.tool.send("$BOOTLOADM"));
            QCOMPARE(b.tool.command("$MVER"), ToolSide::framed("$MVERR,D.02m"));
            QCOMPARE(b.unit.stage(), SimUnit::Stage::Running);
            QCOMPARE(b.unit.faultCount("ignoredBootloadm"), 1);
        }
        // The first "$G" and the first "$E" of the sector at 0x2000 are lost.
        config = fastConfig();
        config.loseFirstG = true;
        config.loseFirstEraseAt = 0x2000;
        {
            Bench b(config);
            QVERIFY(b.open());
            QVERIFY(b.tool.send("$BOOTLOADM"));
            QTRY_VERIFY_WITH_TIMEOUT(b.unit.stage() != SimUnit::Stage::Running, 5000);
            QVERIFY(b.tool.setBaud(921600));
            QVERIFY(b.tool.waitLine("$Bootloader").size() > 0);
            QVERIFY(b.tool.write("$G\n"));
            QTRY_COMPARE_WITH_TIMEOUT(b.unit.faultCount("lostG"), 1, 5000);
            QVERIFY(!b.unit.captured());
            QVERIFY(b.tool.write("$G\n"));
            QCOMPARE(b.tool.waitLine("$GACK"), ToolSide::framed("$GACK"));
            QCOMPARE(b.tool.command("$E,1000,1"), ToolSide::framed("$EACK"));
            QVERIFY(b.tool.send("$E,2000,1"));
            QCOMPARE(b.tool.command("$E,2000,1"), ToolSide::framed("$EACK"));
            QCOMPARE(b.tool.received, QByteArray());
            QCOMPARE(b.unit.faultCount("lostE"), 1);
            QCOMPARE(b.unit.commandCount("E"), 2);
        }
        // Unplugged after two commands: the tool's side sees the adapter go.
        config = fastConfig();
        config.unplugAfter = 2;
        {
            Bench b(config);
            QVERIFY(b.open());
            QCOMPARE(b.tool.command("$MVER"), ToolSide::framed("$MVERR,D.02m"));
            QVERIFY(b.tool.send("$MVER"));
            QTRY_VERIFY_WITH_TIMEOUT(b.unit.stage() == SimUnit::Stage::Unplugged, 5000);
            pollfd p { b.tool.fd(), POLLIN, 0 };
            QTRY_VERIFY_WITH_TIMEOUT(::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP), 5000);
            QCOMPARE(b.unit.report().value("faults").toObject().value("unplugged").toInt(), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestUnitSim)
#include "tst_unitsim.moc"
