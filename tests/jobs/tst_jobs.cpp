// Whole jobs against simulated units over pseudo-terminals: every mode to the
// end on eight units at once, and the replies that used to hang, skip or
// repeat work (late, repeated, stray and lost ones, a unit that pauses).
// The engine's runner drives the jobs, no window. Replies drive them; the job
// timer runs faster than in the field so that the waits the job counts in
// steps take a fraction of a second, and every delay a unit adds is given in
// steps too, but for the stalling unit's pauses: those are set against the
// learned time-outs, which count milliseconds.
#include "PayloadWriter.h"
#include "support/JobRig.h"
#include "engine/UnitJob.h"

#include <QElapsedTimer>
#include <QTest>

Q_DECLARE_METATYPE(SimConfig)
Q_DECLARE_METATYPE(UpdateMode)

namespace {
constexpr int kTickMs = JobRig::kTickMs;
constexpr auto withSeed = &JobRig::quickUnit;
} // namespace

class TestJobs : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(PayloadWriter::writeDemoPayload(QCoreApplication::applicationDirPath(), 11));
        qputenv("QT_LOGGING_RULES", "zq.wire=false");
    }

    void eachModeToTheEnd_data()
    {
        QTest::addColumn<UpdateMode>("mode");
        QTest::newRow("firmware and images") << UpdateMode::FirmwareAndImages;
        QTest::newRow("images only") << UpdateMode::ImagesOnly;
        QTest::newRow("erase images") << UpdateMode::DeleteImages;
    }

    // Eight units at once, each to the end; in the images, one paces its
    // replies and one answers some chunks late.
    void eachModeToTheEnd()
    {
        QFETCH(UpdateMode, mode);
        QList<SimConfig> configs;
        for (quint32 i = 0; i < 8; ++i)
            configs << withSeed(40 + i);
        if (mode == UpdateMode::ImagesOnly) {
            configs[1].pace = true;
            configs[1].latencyMs = 2;
            configs[2].delays = { { "FACK", 25, 5 * kTickMs } };
        }
        START_JOB(rig, mode, configs);
        for (int i = 0; i < 8; ++i) {
            VERIFY_UPDATED(rig, i);
            QVERIFY(!rig.port(i)->link.isOpen());
        }
        QCOMPARE(rig.log().count("Bootload Complete"), 8);

        const qint64 imageBytes = 156400 + 72600;
        if (mode == UpdateMode::FirmwareAndImages)
            QCOMPARE(rig.firmwareShown, 913414);
        if (mode != UpdateMode::DeleteImages)
            QCOMPARE(rig.imagesShown, int(imageBytes));
        else
            QVERIFY(rig.log().contains("Images Erased"));
        if (mode == UpdateMode::ImagesOnly)
            QCOMPARE(rig.units[0]->commandCount("F") - rig.units[0]->repeatCount("F"),
                (156400 + 255) / 256 + (72600 + 255) / 256);
    }

    void imagesTheUnitHoldsAreSkipped()
    {
        START_JOB(first, UpdateMode::ImagesOnly, { withSeed(2) });
        VERIFY_UPDATED(first, 0);
        const int chunksSent = first.units[0]->commandCount("F");
        // The same unit again: both images are answered with "$IACK,1".
        first.runAgain();
        QTRY_VERIFY_WITH_TIMEOUT(first.ended(), JobRig::kTimeoutMs);
        QCOMPARE(first.units[0]->commandCount("I"), 4);
        QCOMPARE(first.units[0]->commandCount("F"), chunksSent);
        QVERIFY(first.log().contains("Bootload Complete"));
        QCOMPARE(first.imagesShown, 156400 + 72600);
    }

    // Replies that are lost, repeated, late or garbled: the job still writes
    // exactly the payload.
    void faultyLinks_data()
    {
        QTest::addColumn<UpdateMode>("mode");
        QTest::addColumn<SimConfig>("config");
        QTest::addColumn<bool>("mustUpdate"); // else: updated when reported so, or ended saying why
        SimConfig c = withSeed(21);
        c.dropReplies = 0.001;
        QTest::newRow("lost replies") << UpdateMode::FirmwareAndImages << c << true;
        c = withSeed(22);
        c.dupReplies = 0.05;
        // A repeated reply is beyond what the tool can be sure of: updated
        // with exactly the payload, or ended saying replies were repeated.
        QTest::newRow("repeated replies") << UpdateMode::FirmwareAndImages << c << false;
        // One line in two hundred lost or garbled each way: every line the
        // unit holds is the one sent (what it costs is measured in bench/).
        c = withSeed(29);
        c.dropLines = c.corruptLines = c.dropReplies = 0.0025;
        QTest::newRow("a lossy link both ways") << UpdateMode::FirmwareAndImages << c << true;
        c = withSeed(24);
        c.delays = { { "IACK", 1, 5 * kTickMs }, { "EACK", 50, 5 * kTickMs },
            { "DACK", 1000, 5 * kTickMs } };
        QTest::newRow("replies slower than the resend")
            << UpdateMode::FirmwareAndImages << c << true;
        c = withSeed(25);
        c.noise = 0.05;
        c.crlf = true;
        QTest::newRow("noise and CRLF") << UpdateMode::ImagesOnly << c << true;
        c = withSeed(26);
        c.dupReplies = 0.2;
        c.delays = { { "IACK", 1, 5 * kTickMs } };
        QTest::newRow("slow and repeated image answers") << UpdateMode::ImagesOnly << c << true;
        c = withSeed(27);
        c.dropReplies = 0.2;
        QTest::newRow("lost erase answers") << UpdateMode::DeleteImages << c << true;
        c = withSeed(28);
        c.loseFirstG = true;
        c.loseFirstEraseAt = 0x5000;
        QTest::newRow("lost capture and sector erase")
            << UpdateMode::FirmwareAndImages << c << true;
        // A unit that now and then holds an answer back for 100 to 300 ms, on a
        // link where 1 % of the commands lose the line or its answer: the
        // answers owed to the copies resent meanwhile come in later reads.
        c = withSeed(31);
        c.pauseReplies = 0.002;
        c.pauseMinMs = 100;
        c.pauseMaxMs = 300;
        c.dropLines = c.dropReplies = 0.005;
        QTest::newRow("a stalling unit on a lossy link")
            << UpdateMode::FirmwareAndImages << c << false;

        // scripts/soak: many more seeds, every fault at once.
        const int rounds = qEnvironmentVariableIntValue("ZQ_SOAK_ROUNDS");
        for (int i = 0; i < rounds; ++i) {
            c = withSeed(1000 + quint32(i));
            c.dropReplies = c.dupReplies = c.dropLines = c.corruptLines = 0.002;
            c.noise = 0.01;
            c.crlf = i % 2 == 1;
            c.delays = { { "IACK", 2, 5 * kTickMs }, { "DACK", 997, 5 * kTickMs } };
            c.pauseReplies = 0.001; // 100 to 300 ms
            const auto mode = static_cast<UpdateMode>(i % 3);
            QTest::addRow("soak %d mode %d", i, i % 3) << mode << c << true;
        }
    }

    void faultyLinks()
    {
        QFETCH(UpdateMode, mode);
        QFETCH(SimConfig, config);
        QFETCH(bool, mustUpdate);
        QElapsedTimer clock;
        clock.start();
        START_JOB(rig, mode, { config });
        // Reported updated means updated: flash and images equal, no hole.
        const UnitJob *port = rig.port(0);
        if (mustUpdate || rig.log().contains("Bootload Complete")) {
            // A "$X" lost on the link leaves the unit in its bootloader with
            // the update: the tool can't tell, but then it confirms nothing.
            const bool exitMayBeLost = (config.dropLines > 0 || config.corruptLines > 0)
                && port->status.confirmation != UnitStatus::Confirmed;
            QVERIFY2(rig.unitUpdated(0, exitMayBeLost), rig.describe().constData());
            QVERIFY2(rig.log().contains("Bootload Complete"), rig.describe().constData());
        } else {
            QVERIFY2(port->status.stage == UnitStatus::NotUpdated && !port->status.reason.isEmpty(),
                rig.describe().constData());
        }
        if (qEnvironmentVariableIsSet("ZQ_SOAK_ROUNDS")) // scripts/soak sums these up
            qInfo("soak job %.2f s, %d resends", clock.elapsed() / 1000.0,
                rig.port(0)->timing.resends);
    }
};

QTEST_MAIN(TestJobs)
#include "tst_jobs.moc"
