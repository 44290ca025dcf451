// Units that misbehave as a whole: one unplugged in the middle of a job while
// another goes on, one that is in its bootloader already, one that never shows
// its bootloader, and eight units at once in every mode.
#include "PayloadWriter.h"
#include "SimUnit.h"
#include "support/TestSupport.h"
#include "ui_DialogBootload.h"
#include "update/DialogBootload.h"
#include "update/PortTest.h"

#include <QJsonDocument>
#include <QTest>
#include <memory>
#include <vector>

namespace {

constexpr int kTickMs = 40;
constexpr int kJobTimeoutMs = 180000;

bool jobEnded(const PortTest *port)
{
    return port->jobState == Finish && port->tickCount >= 4;
}

class Units
{
public:
    Units(int mode, const QList<SimConfig> &configs)
    {
        SimExpectation expected
            = SimExpectation::fromPayloadDir(QCoreApplication::applicationDirPath());
        expected.hasFirmware = mode == FirmwareAndImages;
        expected.hasImages = mode != DeleteImages;
        QStringList paths;
        for (const SimConfig &config : configs) {
            sims.push_back(std::make_unique<SimUnit>(config));
            QVERIFY(sims.back()->open());
            sims.back()->setExpectation(expected);
            paths << sims.back()->path();
        }
        qputenv("ZQ_UPDATER_PORTS", paths.join(',').toLocal8Bit());
        dlg = std::make_unique<DialogBootload>(mode, nullptr);
        dlg->timer.setInterval(kTickMs);
    }

    QString log() const
    {
        return dlg->ui->textEdit->toPlainText();
    }

    QByteArray describe(int i) const
    {
        return (
            log() + "\n" + QJsonDocument(sims[size_t(i)]->report()).toJson(QJsonDocument::Compact))
            .toUtf8();
    }

    std::vector<std::unique_ptr<SimUnit>> sims;
    std::unique_ptr<DialogBootload> dlg;
};

SimConfig quick(quint32 seed)
{
    SimConfig config;
    config.seed = seed;
    config.restartMs = 50;
    config.eraseMs = 3 * kTickMs;
    return config;
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
        Units units(FirmwareAndImages, { unplugged, quick(2) });
        PortTest *lost = units.dlg->ports[0];
        PortTest *healthy = units.dlg->ports[1];
        QTRY_VERIFY_WITH_TIMEOUT(jobEnded(healthy), kJobTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(jobEnded(lost), 10000);

        QVERIFY2(
            units.log().contains("Connection to " + lost->portName() + " lost"), units.describe(0));
        QCOMPARE(units.log().count("Bootload Complete"), 1);
        QVERIFY(lost->connectionLost);
        QVERIFY(!lost->isOpen());
        QCOMPARE(units.dlg->ports.size(), 2);
        const QJsonObject report = units.sims[1]->report();
        QVERIFY2(report["flash"].toObject()["equal"].toBool(), units.describe(1));
        QVERIFY2(report["imagesEqual"].toBool(), units.describe(1));

        units.dlg->reject(); // closing deletes both ports
        QVERIFY(units.dlg->ports.isEmpty());
    }

    void aUnitInItsBootloaderAlreadyIsUpdated()
    {
        SimConfig config = quick(3);
        config.startInBootloader = true;
        Units units(FirmwareAndImages, { config });
        QTRY_VERIFY_WITH_TIMEOUT(jobEnded(units.dlg->ports[0]), kJobTimeoutMs);
        const QJsonObject report = units.sims[0]->report();
        QVERIFY2(report["flash"].toObject()["equal"].toBool(), units.describe(0));
        QVERIFY2(report["imagesEqual"].toBool(), units.describe(0));
        QCOMPARE(units.log().count("Bootload Complete"), 1);
        QCOMPARE(units.dlg->ui->label_UnitVersion->text(), QString("Unit Version:"));
    }

    void aUnitWithoutBootloaderIsReportedOnce()
    {
        SimConfig config = quick(4);
        config.ignoreBootloadm = true;
        Units units(ImagesOnly, { config });
        PortTest *port = units.dlg->ports[0];
        const QString warning = "No bootloader seen on " + port->portName();
        QTRY_VERIFY_WITH_TIMEOUT(port->waitSteps >= 39, 60000);
        QCOMPARE(units.log().contains(warning), port->waitSteps >= 40); // said at step 40
        QTRY_VERIFY_WITH_TIMEOUT(units.log().contains(warning), 60000);
        // It goes on waiting, and says so only once.
        QTRY_VERIFY_WITH_TIMEOUT(port->waitSteps >= 80, 60000);
        QCOMPARE(units.log().count(warning), 1);
        QCOMPARE(port->jobState, WaitForBootloader);
        QVERIFY(!units.log().contains("Bootload Complete"));
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
        Units units(mode, configs);
        for (PortTest *port : units.dlg->ports)
            QTRY_VERIFY_WITH_TIMEOUT(jobEnded(port), kJobTimeoutMs);
        QCOMPARE(units.log().count("Bootload Complete"), 8);
        for (int i = 0; i < 8; ++i) {
            const QJsonObject report = units.sims[size_t(i)]->report();
            QVERIFY2(units.sims[size_t(i)]->exitReceived(), units.describe(i));
            QVERIFY2(report["problemCount"].toInt() == 0, units.describe(i));
            if (mode == FirmwareAndImages)
                QVERIFY2(report["flash"].toObject()["equal"].toBool(), units.describe(i));
            if (mode != DeleteImages)
                QVERIFY2(report["imagesEqual"].toBool(), units.describe(i));
            for (const char *word : { "D", "F", "I", "E", "P" })
                QVERIFY2(units.sims[size_t(i)]->repeatCount(word) == 0, units.describe(i));
        }
    }
};

QTEST_MAIN(TestUnitFaults)
#include "tst_unitfaults.moc"
