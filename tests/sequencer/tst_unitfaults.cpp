// Units that misbehave as a whole: one unplugged in the middle of a job while
// another goes on, one that is in its bootloader already, one that never shows
// its bootloader, and eight units at once in every mode.
#include "PayloadWriter.h"
#include "support/JobRig.h"
#include "ui_DialogBootload.h"
#include "update/PortTest.h"

#include <QJsonObject>
#include <QTest>

namespace {
SimConfig quick(quint32 seed)
{
    return JobRig::quickUnit(seed);
}
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
        JobRig rig(FirmwareAndImages, { unplugged, quick(2) });
        QVERIFY(rig.ready());
        PortTest *lost = rig.dlg->ports[0];
        PortTest *healthy = rig.dlg->ports[1];
        QTRY_VERIFY_WITH_TIMEOUT(JobRig::ended(healthy), JobRig::kTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(JobRig::ended(lost), 10000);

        QVERIFY2(rig.log().contains("Connection to " + lost->portName() + " lost"),
            rig.describe().constData());
        QCOMPARE(rig.log().count("Bootload Complete"), 1);
        QVERIFY(lost->status.stage == UnitStatus::ConnectionLost);
        QVERIFY(!lost->isOpen());
        QCOMPARE(rig.dlg->ports.size(), 2);
        QVERIFY2(rig.unitUpdated(1), rig.describe().constData());

        rig.dlg->reject(); // closing deletes both ports
        QVERIFY(rig.dlg->ports.isEmpty());
    }

    void aUnitInItsBootloaderAlreadyIsUpdated()
    {
        SimConfig config = quick(3);
        config.startInBootloader = true;
        JobRig rig(FirmwareAndImages, { config });
        QVERIFY(rig.ready());
        QTRY_VERIFY_WITH_TIMEOUT(JobRig::ended(rig.dlg->ports[0]), JobRig::kTimeoutMs);
        QVERIFY2(rig.unitUpdated(0), rig.describe().constData());
        QCOMPARE(rig.log().count("Bootload Complete"), 1);
        QCOMPARE(rig.dlg->ui->label_UnitVersion->text(), QString("Unit Version:"));
    }

    void aUnitWithoutBootloaderIsReportedOnce()
    {
        SimConfig config = quick(4);
        config.ignoreBootloadm = true;
        JobRig rig(ImagesOnly, { config });
        QVERIFY(rig.ready());
        PortTest *port = rig.dlg->ports[0];
        const QString warning = "No bootloader seen on " + port->portName();
        QTRY_VERIFY_WITH_TIMEOUT(port->guards.waitSteps >= 39, 60000);
        QCOMPARE(rig.log().contains(warning), port->guards.waitSteps >= 40); // said at step 40
        QTRY_VERIFY_WITH_TIMEOUT(rig.log().contains(warning), 60000);
        // It goes on waiting, and says so only once.
        QTRY_VERIFY_WITH_TIMEOUT(port->guards.waitSteps >= 80, 60000);
        QCOMPARE(rig.log().count(warning), 1);
        QCOMPARE(port->jobState, WaitForBootloader);
        QVERIFY(!rig.log().contains("Bootload Complete"));
    }

    void eightUnitsInEveryMode_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("firmware and images") << int(FirmwareAndImages);
        QTest::newRow("images only") << int(ImagesOnly);
        QTest::newRow("erase images") << int(DeleteImages);
    }

    void eightUnitsInEveryMode()
    {
        QFETCH(int, mode);
        QList<SimConfig> configs;
        for (quint32 i = 0; i < 8; ++i)
            configs << quick(40 + i);
        JobRig rig(mode, configs);
        QVERIFY(rig.ready());
        for (PortTest *port : rig.dlg->ports)
            QTRY_VERIFY_WITH_TIMEOUT(JobRig::ended(port), JobRig::kTimeoutMs);
        QCOMPARE(rig.log().count("Bootload Complete"), 8);
        for (int i = 0; i < 8; ++i) {
            QVERIFY2(rig.unitUpdated(i), rig.describe().constData());
            for (const char *word : { "D", "F", "I", "E", "P" })
                QVERIFY2(rig.units[size_t(i)]->repeatCount(word) == 0, rig.describe().constData());
        }
    }
};

QTEST_MAIN(TestUnitFaults)
#include "tst_unitfaults.moc"
