// Units that misbehave as a whole: one unplugged in the middle of a job while
// another goes on, one that is in its bootloader already (announcing itself,
// or left captured by an earlier job), and ones that fall silent or restart
// mid-job.
#include "PayloadWriter.h"
#include "support/JobRig.h"
#include "engine/UnitJob.h"

#include <QElapsedTimer>
#include <QTest>
#include <tuple>

namespace {
constexpr auto quick = &JobRig::quickUnit;
} // namespace

class TestUnitFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(PayloadWriter::writeDemoPayload(QCoreApplication::applicationDirPath(), 5));
        qputenv("QT_LOGGING_RULES", "zq.wire=false");
    }

    void anUnpluggedAdapterEndsOnlyItsOwnJob()
    {
        SimConfig unplugged = quick(1);
        unplugged.unplugAfter = 3000; // in the middle of the firmware
        JobRig rig(UpdateMode::FirmwareAndImages, { unplugged, quick(2) });
        QVERIFY(rig.ready());
        UnitJob *lost = rig.port(0);
        UnitJob *healthy = rig.port(1);
        QTRY_VERIFY_WITH_TIMEOUT(healthy->finished(), JobRig::kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(lost->finished(), 10000);

        QVERIFY2(rig.log().contains("Connection to " + lost->portName() + " lost"),
            rig.describe().constData());
        QCOMPARE(rig.log().count("Bootload Complete"), 1);
        QVERIFY(lost->status.stage == UnitStatus::ConnectionLost);
        QVERIFY(!lost->link.isOpen());
        QCOMPARE(rig.jobs().count(), 2);
        VERIFY_UPDATED(rig, 1);
    }

    void aUnitInItsBootloaderAlreadyIsUpdated_data()
    {
        QTest::addColumn<bool>("captured");
        QTest::newRow("announcing itself") << false;
        QTest::newRow("left captured, silent until $G") << true;
    }

    void aUnitInItsBootloaderAlreadyIsUpdated()
    {
        QFETCH(bool, captured);
        SimConfig config = quick(3);
        config.startInBootloader = !captured;
        config.startCaptured = captured;
        START_JOB(rig, UpdateMode::FirmwareAndImages, { config });
        VERIFY_UPDATED(rig, 0);
        QCOMPARE(rig.log().count("Bootload Complete"), 1);
        QCOMPARE(rig.log().contains("answered \"$G\" without announcing itself"), captured);
        QVERIFY(rig.versions.isEmpty()); // it never answered the version query
    }

    // A unit that stops answering with its port open ends its own job within
    // 30 s (plus a step) with a line saying where and what to do; the others
    // go on. Both rigs run at once in this event loop.
    void silentUnitsEndTheirJobs()
    {
        SimConfig inFirmware = quick(5), inImages = quick(6), inErase = quick(7);
        inFirmware.silentAfter = 3000; // firmware commands run to about 14,730
        inImages.silentAfter = 15000;
        inErase.silentAfter = 3; // "$MVER", "$BOOTLOADM", "$G", then "$A,1" unanswered
        JobRig full(UpdateMode::FirmwareAndImages, { inFirmware, inImages, quick(8) });
        JobRig erase(UpdateMode::DeleteImages, { inErase, quick(9) });
        QVERIFY(full.ready() && erase.ready());
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(full.ended() && erase.ended(), JobRig::kTimeoutMs);
        for (const auto &[rig, i, stage] : { std::tuple { &full, 0, "during firmware, sector" },
                 std::tuple { &full, 1, "during image 1 of 2" },
                 std::tuple { &erase, 0, "during erasing images" } }) {
            const UnitJob *port = rig->port(i);
            QVERIFY2(rig->log().contains(port->portName() + ": the unit has not answered for 30 s "
                         + stage),
                rig->describe().constData());
            QVERIFY(rig->log().contains("check the unit's power, then run the update again"));
            QCOMPARE(port->status.stage, UnitStatus::NotUpdated);
            QVERIFY(!port->link.isOpen());
        }
        QCOMPARE(full.log().count("Bootload Complete"), 1);
        VERIFY_UPDATED(full, 2);
        QCOMPARE(erase.log().count("Bootload Complete"), 1);
        QVERIFY(clock.elapsed() < 90000); // 30 s of silence, not minutes of resends
    }

    // A unit reset mid-firmware is captured again and updated from the start;
    // one that keeps restarting ends as a silent one does.
    void restartedUnits()
    {
        SimConfig once = quick(10), often = quick(11);
        once.restartAfter = 5000;
        often.restartAfter = 2000;
        often.restartTimes = 4;
        START_JOB(rig, UpdateMode::FirmwareAndImages, { once, often });
        const QString first = rig.port(0)->portName();
        QVERIFY2(rig.log().contains(first + ": the unit restarted during firmware, sector "),
            rig.describe().constData());
        QVERIFY(rig.log().contains("; starting its update again"));
        VERIFY_UPDATED(rig, 0);
        QCOMPARE(rig.log().count("Bootload Complete"), 1);
        QCOMPARE(rig.log().count(rig.port(1)->portName() + ": the unit restarted"), 4);
        QVERIFY(rig.log().contains("once more, after 3 restarts"));
        QCOMPARE(rig.port(1)->status.stage, UnitStatus::NotUpdated);
    }
};

QTEST_MAIN(TestUnitFaults)
#include "tst_unitfaults.moc"
