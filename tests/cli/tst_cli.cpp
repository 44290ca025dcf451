// zq-update as a user runs it: a child process driving zq-unit-sim's units (a
// child process too) over real pseudo-terminals, with the payload written by
// zq-make-payload. Every mode, an unplugged unit, the refusals to start, Ctrl-C
// in the middle of the firmware, a rerun after kill -9 there, the libraries
// the program links, and the version it names.
#include "payload/PayloadDir.h"

#include "support/TestSupport.h"
#include "support/UnitSimProcess.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

namespace {

constexpr int kJobMs = 120000;

// The final table has a row "<path>  D.02m  <result> ..." (columns aligned).
bool hasRow(const QByteArray &table, const QString &path, const QString &result)
{
    return QString::fromLocal8Bit(table).contains(
        QRegularExpression("^" + QRegularExpression::escape(path) + " +D\\.02m +" + result + "[ :]",
            QRegularExpression::MultilineOption));
}

// The progress lines on standard error show the unit at path 10 % to 79 %
// into its job, in the middle of the firmware.
bool inFirmware(const QByteArray &err, const QString &path)
{
    return QString::fromLocal8Bit(err).contains(
        QRegularExpression(QRegularExpression::escape(path) + " .* [1-7]\\d%  .* firmware"));
}

// Starts zq-update and, unless told not to, waits for it to end.
bool runCli(QProcess &cli, const QStringList &args, bool wait = true)
{
    cli.setProcessEnvironment(TestSupport::toolEnvironment());
    cli.start(QStringLiteral(ZQ_UPDATE), args);
    return !wait || cli.waitForFinished(kJobMs);
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir payload;

private slots:
    void initTestCase()
    {
        QVERIFY(payload.isValid());
        QVERIFY(makePayload(payload.path()));
    }

    // Every mode on two units; the second one keeps restarting, is unplugged in
    // the middle of its job, or is healthy.
    void twoUnits_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("secondResult");
        QTest::newRow("firmware and images, second keeps restarting")
            << "firmware-and-images"
            << QStringList { "--restart-after", "40", "--restart-times", "4", "--fault-units", "2" }
            << 1 << "not updated";
        QTest::newRow("images, second unplugged")
            << "images" << QStringList { "--unplug-after", "100", "--fault-units", "2" } << 1
            << "connection lost";
        QTest::newRow("erase images") << "erase-images" << QStringList() << 0 << "updated";
    }

    void twoUnits()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, simArgs);
        QFETCH(int, exitCode);
        QFETCH(QString, secondResult);
        UnitSimProcess sim;
        QVERIFY(sim.start(payload.path(), 2, simArgs));
        const QString report = payload.filePath("cli-report.json");
        QProcess cli;
        QVERIFY(runCli(cli,
            { "--mode", mode, "--port", sim.paths[0], "--port", sim.paths[1], "--payload",
                payload.path(), "--report", report, "--quiet" }));
        const QByteArray table = cli.readAllStandardOutput(), err = cli.readAllStandardError();
        QVERIFY2(err.isEmpty(), err.constData()); // --quiet: the table only
        QCOMPARE(cli.exitCode(), exitCode);

        const QJsonArray simUnits = sim.stop();
        const QJsonArray units = reportUnits(report);
        QCOMPARE(units.size(), 2);
        for (int i = 0; i < 2; ++i) {
            const QString result = i == 0 ? QStringLiteral("updated") : secondResult;
            const QJsonObject u = units.at(i).toObject();
            QCOMPARE(u["port"].toString(), sim.paths[i]);
            QCOMPARE(u["mode"].toString(), mode);
            QCOMPARE(u["result"].toString(), result);
            QCOMPARE(u["unitVersion"].toString(), QStringLiteral("D.02m"));
            QVERIFY(u["linesSent"].toInt() > 0 && (u["replies"].toInt() > 0 || i == 1));
            QVERIFY2(hasRow(table, sim.paths[i], result), table.constData());
            if (result == "not updated")
                QVERIFY2(u["reason"].toString().startsWith("the unit kept restarting (during firmware"),
                    qPrintable(u["reason"].toString()));
            if (result != "updated")
                continue;
            const QJsonValue unit = simUnits.at(i);
            QVERIFY(unit["exitReceived"].toBool());
            QCOMPARE(unit["problemCount"].toInt(), 0);
            QCOMPARE(unit["flash"]["equal"].toBool(), mode == "firmware-and-images");
            QCOMPARE(unit["imagesEqual"].toBool(), mode != "erase-images");
            QCOMPARE(unit["commands"]["A"].toInt(), mode == "erase-images" ? 1 : 0);
        }
    }

    // After "$X" the unit's version is asked again: the simulated unit answers
    // with the update's version once its flash and images hold the payload;
    // one whose new firmware does not start answers nothing, and is "updated,
    // not confirmed": a warning, a failure with --require-confirm.
    void confirmation_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<QString>("confirmedVersion");
        QTest::newRow("runs the update: confirmed") << "firmware-and-images"
            << QStringList { "--require-confirm" } << 0 << "confirmed" << "D.03a";
        QTest::newRow("does not start: a warning") << "images" << QStringList { "--no-start" }
            << 0 << "not confirmed" << "";
        QTest::newRow("does not start, --require-confirm: exit 1") << "images"
            << QStringList { "--no-start", "--require-confirm" } << 1 << "not confirmed" << "";
    }

    void confirmation()
    {
        QFETCH(QString, mode);
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QFETCH(QString, confirmation);
        QFETCH(QString, confirmedVersion);
        UnitSimProcess sim; // the unit takes --no-start, zq-update --require-confirm
        QVERIFY(sim.start(payload.path(), 1, QStringList { "--new-version", "D.03a" } + args.filter("--no-start")));
        const QString report = payload.filePath("confirm-report.json"), log = payload.filePath("confirm-log.jsonl");
        QFile::remove(log);
        QProcess cli;
        QVERIFY(runCli(cli, QStringList { "--mode", mode, "--port", sim.paths[0], "--payload", payload.path(), "--report",
                                report, "--log", log, "--quiet" } + args.filter("--require-confirm")));
        const QByteArray table = cli.readAllStandardOutput();
        QCOMPARE(cli.exitCode(), exitCode);
        const QString result = confirmation == "confirmed"
            ? QStringLiteral("updated")
            : QStringLiteral("updated, not confirmed");
        QVERIFY2(hasRow(table, sim.paths[0], result), table.constData());
        const QJsonArray simUnits = sim.stop();
        QVERIFY(simUnits.at(0)["exitReceived"].toBool());

        const QJsonObject u = reportUnits(report).at(0).toObject();
        const QJsonObject record = TestSupport::readJson(log);
        // One record: the report's unit is the --log line, port name and figures alike.
        QCOMPARE(u, record);
        QCOMPARE(record["port"].toString(), sim.paths[0]);
        for (const QJsonObject &o : { u, record }) {
            QCOMPARE(o["result"].toString(), QStringLiteral("updated"));
            QCOMPARE(o["confirmation"].toString(), confirmation);
            QCOMPARE(o["confirmedVersion"].toString(), confirmedVersion);
            QCOMPARE(o["versionBefore"].toString(), QStringLiteral("D.02m"));
        }
    }

    // Ctrl-C while a unit's version is being confirmed: the unit is out of its
    // bootloader, and is not named as left in it.
    void interruptInTheConfirmation()
    {
        UnitSimProcess sim;
        QVERIFY(sim.start(payload.path(), 1, { "--no-start" }));
        QProcess cli;
        runCli(cli, { "--mode", "images", "--port", sim.paths[0], "--payload", payload.path() },
            false);
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += cli.readAllStandardError(), err.contains("Bootload Complete")), kJobMs);
        QCOMPARE(::kill(static_cast<pid_t>(cli.processId()), SIGINT), 0);
        QVERIFY(cli.waitForFinished(kJobMs));
        err += cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), 130);
        QVERIFY2(err.contains("No unit was left in its bootloader.")
                && !err.contains("Left in the bootloader") && !err.contains("Told to start"),
            err.constData());
        QVERIFY(sim.stop().at(0)["exitReceived"].toBool());
    }

    void interruptInTheFirmware()
    {
        UnitSimProcess sim; // paced: the firmware takes about a minute
        QVERIFY(sim.start(payload.path(), 2, { "--pace" }));
        const QString report = payload.filePath("interrupt-report.json");
        QProcess cli;
        runCli(cli,
            { "--port", sim.paths.join(','), "--payload", payload.path(), "--report", report },
            false);
        // Both units 10 % or more into the job, in the middle of the firmware.
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT((err += cli.readAllStandardError(), inFirmware(err, sim.paths[0]))
                && inFirmware(err, sim.paths[1]),
            kJobMs);
        QCOMPARE(::kill(static_cast<pid_t>(cli.processId()), SIGINT), 0);
        QVERIFY(cli.waitForFinished(kJobMs));
        err += cli.readAllStandardError();
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 130);
        QVERIFY2(
            err.contains("Left in the bootloader, not finished: " + sim.paths[0].toLocal8Bit()),
            err.constData());
        QVERIFY(err.contains("Run the same command again"));

        const QJsonArray units = reportUnits(report);
        QCOMPARE(units.size(), 2);
        for (const QJsonValue &u : units) {
            QCOMPARE(u["result"].toString(), QStringLiteral("interrupted"));
            QVERIFY(QJsonDocument(u["stages"].toArray()).toJson().contains("\"firmware\""));
        }
        for (const QJsonValue &u : sim.stop()) {
            QCOMPARE(u["stageReached"].toString(), QStringLiteral("firmware"));
            QVERIFY(!u["exitReceived"].toBool());
        }
    }

    // A run killed in the middle of the firmware leaves its unit's bootloader
    // captured, and a captured bootloader does not announce itself again: the
    // next run captures it with an unasked "$G" and updates it, with no power
    // cycle.
    void rerunAfterAKill()
    {
        UnitSimProcess sim;
        QVERIFY(sim.start(payload.path(), 1));
        QProcess killed;
        runCli(killed, { "--port", sim.paths[0], "--payload", payload.path() }, false);
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += killed.readAllStandardError(), inFirmware(err, sim.paths[0])), kJobMs);
        killed.kill(); // SIGKILL: no flush, no "$X", the port simply goes away
        QVERIFY(killed.waitForFinished(kJobMs));
        QCOMPARE(killed.exitStatus(), QProcess::CrashExit);

        QProcess again;
        QVERIFY(runCli(again, { "--port", sim.paths[0], "--payload", payload.path() }));
        err = again.readAllStandardError();
        QCOMPARE(again.exitCode(), 0);
        QVERIFY2(err.contains("bootloader answered \"$G\" without announcing itself"),
            err.constData());
        QVERIFY(!err.contains("No bootloader seen"));
        const QJsonObject unit = sim.stop().at(0).toObject();
        QVERIFY(unit["exitReceived"].toBool());
        QCOMPARE(unit["restarts"].toInt(), 0);
        QCOMPARE(unit["problemCount"].toInt(), 0);
        QVERIFY(unit["flash"]["equal"].toBool());
        QVERIFY(unit["imagesEqual"].toBool());
    }

    // --version and the report name the version of CMake's project() line, and
    // the changelog's newest release is that version.
    void version()
    {
        QProcess cli;
        QVERIFY(runCli(cli, { "--version" }));
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(cli.readAllStandardOutput().trimmed(), QByteArray("zq-update " ZQ_EXPECTED_VERSION));

        QTemporaryDir empty;
        const QString report = empty.filePath("report.json");
        QVERIFY(runCli(cli, { "--mode", "images", "--payload", empty.path(), "--report", report }));
        QCOMPARE(cli.exitCode(), 2);
        QCOMPARE(TestSupport::readJson(report)["toolVersion"].toString(), QStringLiteral(ZQ_EXPECTED_VERSION));

        const QString text = QString::fromUtf8(TestSupport::readFile(QStringLiteral(ZQ_CHANGELOG)));
        const QRegularExpression release(QStringLiteral("^## \\[(\\d+\\.\\d+\\.\\d+)\\] - \\d{4}-\\d{2}-\\d{2}$"),
            QRegularExpression::MultilineOption);
        const QRegularExpressionMatch newest = release.match(text);
        QVERIFY2(newest.hasMatch(), "CHANGELOG.md names no release");
        QCOMPARE(newest.captured(1), QStringLiteral(ZQ_EXPECTED_VERSION));
        QVERIFY(text.indexOf(QStringLiteral("## [Unreleased]")) < newest.capturedStart());
    }

    // An installed program (a system folder for programs) takes no payload
    // from its own folder; a kit or a build folder does.
    void payloadBesideTheProgram_data()
    {
        QTest::addColumn<QString>("dir");
        QTest::addColumn<bool>("system");
        QTest::newRow("/usr/bin") << "/usr/bin" << true;
        QTest::newRow("/usr/bin/") << "/usr/bin/" << true;
        QTest::newRow("/usr/local/bin") << "/usr/local/bin" << true;
        QTest::newRow("/usr/./bin") << "/usr/./bin" << true;
        QTest::newRow("a kit in /opt") << "/opt/zq-update-kit-0.9.0" << false;
        QTest::newRow("a kit in a home") << "/home/tech/usr/bin" << false;
        QTest::newRow("this build") << QCoreApplication::applicationDirPath() << false;
    }

    void payloadBesideTheProgram()
    {
        QFETCH(QString, dir);
        QFETCH(bool, system);
        QCOMPARE(PayloadDir::isSystemFolder(dir), system);
    }

    void linksNeitherWidgetsNorGui()
    {
        QProcess ldd;
        ldd.start(QStringLiteral("ldd"), { QStringLiteral(ZQ_UPDATE) });
        QVERIFY(ldd.waitForFinished(30000));
        const QString libs = QString::fromLocal8Bit(ldd.readAllStandardOutput());
        QVERIFY2(libs.contains(QRegularExpression("libQt\\dCore")) && libs.contains(QRegularExpression("libQt\\dSerialPort")),
            qPrintable(libs));
        QVERIFY2(!libs.contains(QRegularExpression("libQt\\d(Widgets|Gui)")), qPrintable(libs));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
