// zq-update at a production station, as a child process against zq-unit-sim's
// scheduled adapters (by-id and by-path links in a folder the tool is pointed
// at with ZQ_SERIAL_DIR): the port list, units chosen by adapter and the
// refusals when adapters can't be told apart, the record per unit, the event
// stream, the report of a refused run, the hands-free watch, and ports a user
// cannot use (no permission, held by another process).
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>
#include <csignal>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PtyPair.h"
#include "support/TestSupport.h"
#include "support/UnitSimProcess.h"

namespace {

constexpr int kJobMs = 120000;

using TestSupport::jsonLines;
using TestSupport::readFile;

// Starts zq-update with the adapters of serialDir and, unless told not to,
// waits for it to end.
bool run(QProcess &cli, const QString &serialDir, const QStringList &args, bool wait = true)
{
    cli.setProcessEnvironment(TestSupport::toolEnvironment({ "ZQ_SERIAL_DIR=" + serialDir }));
    cli.start(QStringLiteral(ZQ_UPDATE), args);
    return !wait || cli.waitForFinished(kJobMs);
}

// How many descriptors process pid has open on pseudo-terminals.
int ptysOpenIn(qint64 pid)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    int count = 0;
    const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &e : entries)
        count += QFileInfo(fds.filePath(e)).symLinkTarget().startsWith("/dev/pts/") ? 1 : 0;
    return count;
}

} // namespace

class TestStation : public QObject
{
    Q_OBJECT

    QTemporaryDir payload;

private slots:
    void initTestCase()
    {
        QVERIFY(payload.isValid());
        QVERIFY(makePayload(payload.path()));
    }

    // Each simulated adapter with its device, stable names, serial number and
    // location; one held by another program says who holds it.
    void listJson()
    {
        QTemporaryDir dir;
        UnitSimProcess sim;
        QVERIFY(sim.startAdapters(payload.path(), dir.path(),
            { "serial=A10K1234 port=2.1", "serial= port=2.2" }));
        QSerialPort holder; // this test holds the second port, as a terminal program would
        holder.setPortName(sim.device(1));
        QVERIFY(holder.open(QIODevice::ReadWrite));

        QProcess cli;
        QVERIFY(run(cli, sim.serialDir, { "list", "--json" }));
        QCOMPARE(cli.exitCode(), 0);
        const QJsonArray ports = QJsonDocument::fromJson(cli.readAllStandardOutput())["ports"].toArray();
        const QStringList serials { "A10K1234", "" },
            locations { "pci-0000:00:14.0-usb-0:2.1:1.0-port0", "pci-0000:00:14.0-usb-0:2.2:1.0-port0" };
        for (int i = 0; i < 2; ++i) {
            QJsonObject port;
            for (const QJsonValue &p : ports)
                if (p["device"].toString() == sim.device(i))
                    port = p.toObject();
            QVERIFY2(!port.isEmpty(), qPrintable(sim.device(i)));
            QCOMPARE(port["serial"].toString(), serials[i]);
            QCOMPARE(port["location"].toString(), locations[i]);
            QCOMPARE(port["manufacturer"].toString(), QStringLiteral("FTDI"));
            QVERIFY(port["taken"].toBool());
            const QJsonArray names = port["stableNames"].toArray();
            QCOMPARE(names.size(), 2);
            QCOMPARE(names[0].toString(), sim.paths[i]);
            QVERIFY(names[1].toString().endsWith("/by-path/" + locations[i]));
            const QString problem = port["problem"].toString();
            QVERIFY2(i == 0 ? problem.isEmpty()
                            : problem.contains("in use by another program: process " + QString::number(QCoreApplication::applicationPid())),
                qPrintable(problem));
        }
        sim.stop();
    }

    // Two slots by serial number and by location, with --log, --events and
    // --report: each unit's record names its slot and adapter; every event line
    // is JSON; the table and the report carry the slots.
    void unitsChosenByAdapter()
    {
        QTemporaryDir dir;
        UnitSimProcess sim;
        QVERIFY(sim.startAdapters(payload.path(), dir.path(),
            { "serial=A10K1 port=1.1", "serial=B20K2 port=1.2", "serial=C30K3 port=1.3" }));
        const QString log = dir.filePath("units.jsonl");
        QVERIFY(TestSupport::writeFile(log, "{\"earlier\":true}\n")); // stays as it is
        const QString location = "pci-0000:00:14.0-usb-0:1.3:1.0-port0";
        QProcess cli;
        QVERIFY(run(cli, sim.serialDir,
            { "--mode", "images", "--payload", payload.path(), "--port", "serial:A10K1",
                "--port", "location:" + location, "--log", log, "--events", "--report",
                dir.filePath("report.json") }));
        const QByteArray out = cli.readAllStandardOutput(), err = cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), 0);
        bool allParse = false;
        const QJsonArray events = jsonLines(out, &allParse);
        QVERIFY2(allParse, out.constData());
        QStringList kinds;
        for (const QJsonValue &e : events)
            kinds << e["event"].toString();
        QCOMPARE(kinds.count("appeared"), 2);
        QCOMPARE(kinds.count("ended"), 2);
        QVERIFY(kinds.count("progress") >= 2 * 5);
        QCOMPARE(kinds.last(), QStringLiteral("finished"));
        // The table went to standard error with the slots.
        QVERIFY2(err.contains("serial:A10K1") && err.contains("location:" + location.toLatin1()),
            err.constData());

        const QList<QByteArray> lines = readFile(log).split('\n');
        QCOMPARE(lines.size(), 4); // the earlier line, two records, the last line feed
        QCOMPARE(lines[0], QByteArray("{\"earlier\":true}"));
        const QStringList slotNames { "serial:A10K1", "location:" + location };
        const QStringList serials { "A10K1", "C30K3" };
        const QStringList devices { sim.device(0), sim.device(2) };
        for (int i = 1; i <= 2; ++i) {
            const QJsonObject r = QJsonDocument::fromJson(lines[i]).object();
            const int at = slotNames.indexOf(r["slot"].toString());
            QVERIFY2(at >= 0, lines[i].constData());
            QCOMPARE(r["adapterSerial"].toString(), serials[at]);
            QCOMPARE(r["port"].toString(), devices[at]);
            QCOMPARE(r["usbLocation"].toString(), at == 1 ? location : "pci-0000:00:14.0-usb-0:1.1:1.0-port0");
            QCOMPARE(QStringList({ r["result"].toString(), r["mode"].toString(), r["unitVersion"].toString(),
                         r["updateVersion"].toString() }), QStringList({ "updated", "images", "D.02m", "D.03-demo" }));
            QVERIFY(QDateTime::fromString(r["time"].toString(), Qt::ISODateWithMs).timeSpec() == Qt::UTC);
            QVERIFY(!r["host"].toString().isEmpty() && !r["toolVersion"].toString().isEmpty());
            QVERIFY(r["seconds"].toDouble() > 0 && r["resends"].isDouble());
            const QJsonArray images = r["images"].toArray();
            QCOMPARE(images.size(), 2);
            for (const QJsonValue &image : images)
                QCOMPARE(image["sha256"].toString(),
                    TestSupport::sha256(readFile(payload.filePath(image["file"].toString()))));
        }
        const QJsonArray reported = reportUnits(dir.filePath("report.json"));
        QCOMPARE(reported.size(), 2);
        QVERIFY(slotNames.contains(reported[0]["slot"].toString()));
        // The unit on the adapter nobody chose heard nothing.
        for (const QJsonValue &u : sim.stop()) {
            if (u["serial"].toString() == "B20K2")
                QCOMPARE(u["lines"]["fromTool"].toInt(), 0);
            else
                QVERIFY(u["imagesEqual"].toBool());
        }
    }

    // UnitSimProcess that can't be told apart: refused before anything is sent,
    // with the report written and saying why.
    void refusedWhenAdaptersCannotBeToldApart_data()
    {
        QTest::addColumn<QStringList>("adapters");
        QTest::addColumn<QString>("says");
        QTest::newRow("two with one serial")
            << QStringList { "serial=D1 port=1.1", "serial=D1 port=1.2" } << "2 adapters have the serial number D1";
        QTest::newRow("one without serial")
            << QStringList { "serial=D1 port=1.1", "serial= port=1.2" } << "has no serial number";
    }

    void refusedWhenAdaptersCannotBeToldApart()
    {
        QFETCH(QStringList, adapters);
        QFETCH(QString, says);
        QTemporaryDir dir;
        UnitSimProcess sim;
        QVERIFY(sim.startAdapters(payload.path(), dir.path(), adapters));
        const QString station = dir.filePath("station.json");
        QVERIFY(TestSupport::writeFile(station, R"({ "slots": [ { "name": "left", "serial": "D1" } ] })"));
        const QString report = dir.filePath("report.json");
        QProcess cli;
        QVERIFY(run(cli, sim.serialDir,
            { "--mode", "erase-images", "--station", station, "--report", report, "--events" }));
        QCOMPARE(cli.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        QVERIFY2(err.contains(says), qPrintable(err));
        QVERIFY2(err.contains(sim.device(1)), qPrintable(err)); // names the adapter
        const QJsonObject r = TestSupport::readJson(report);
        QVERIFY(r["refused"].toBool());
        QCOMPARE(r["exitStatus"].toInt(), 2);
        QVERIFY(r["reason"].toString().contains(says));
        const QJsonArray events = jsonLines(cli.readAllStandardOutput());
        QCOMPARE(events.size(), 1);
        QCOMPARE(events[0]["event"].toString(), QStringLiteral("refused"));
        for (const QJsonValue &u : sim.stop())
            QCOMPARE(u["lines"]["fromTool"].toInt(), 0);
    }

    // Hands-free: three slots plugged one after another; A is replugged (a
    // second unit), B is on a lossy link, C falls silent in its images. Each
    // plug gets one job and one record; no port stays open; the summary and
    // the exit status say that C's unit was not updated.
    void watchThreeSlots()
    {
        QTemporaryDir dir;
        UnitSimProcess lineAB;
        QVERIFY(lineAB.startAdapters(payload.path(), dir.path(),
            { "serial=A1 port=1.1 plugs=0-25000,26500-", "serial=B2 port=1.2 plugs=1000-" },
            { "--drop-lines", "0.01", "--fault-words", "F", "--fault-units", "2" }));
        QTemporaryDir dirC; // a simulator of its own for the unit that falls silent
        UnitSimProcess lineC;
        QVERIFY(lineC.startAdapters(payload.path(), dirC.path(), { "serial=C3 port=1.3 plugs=2000-" },
            { "--silent-after", "300", "--serial-dir", lineAB.serialDir }));
        QVERIFY(TestSupport::writeFile(dir.filePath("station.json"), R"({ "slots": [ { "name": "A", "serial": "A1" },
            { "name": "B", "location": "pci-0000:00:14.0-usb-0:1.2:1.0-port0" }, { "name": "C", "serial": "C3" } ] })"));

        const QString log = dir.filePath("units.jsonl");
        QProcess cli;
        run(cli, lineAB.serialDir,
            { "--watch", "--station", dir.filePath("station.json"), "--mode", "images", "--payload",
                payload.path(), "--log", log, "--events" },
            false);
        const auto records = [&log] { return readFile(log).count('\n'); };
        QTRY_VERIFY_WITH_TIMEOUT(records() >= 4, 3 * kJobMs / 2);
        // Every job has ended: no port is left open.
        QTRY_COMPARE_WITH_TIMEOUT(ptysOpenIn(cli.processId()), 0, 10000);
        QCOMPARE(::kill(static_cast<pid_t>(cli.processId()), SIGTERM), 0);
        QVERIFY(cli.waitForFinished(kJobMs) && cli.exitStatus() == QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 1); // C's unit was not updated
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());

        QMap<QString, QStringList> results; // by slot, in order
        const QByteArray logText = readFile(log);
        QCOMPARE(logText.count('\n'), 4); // exactly one line per unit job
        for (const QJsonValue &r : jsonLines(logText)) {
            results[r["slot"].toString()] << r["result"].toString();
            if (r["slot"].toString() == "C")
                QVERIFY2(r["reason"].toString().startsWith("no answer for 30 s"),
                    qPrintable(r["reason"].toString()));
        }
        QCOMPARE(results, (QMap<QString, QStringList> { { "A", { "updated", "updated" } }, { "B", { "updated" } },
                              { "C", { "not updated" } } }));

        // One job per plug: an "appeared" event each.
        QStringList appeared;
        for (const QJsonValue &e : jsonLines(cli.readAllStandardOutput()))
            if (e["event"].toString() == "appeared")
                appeared << e["slot"].toString();
        appeared.sort();
        QCOMPARE(appeared, QStringList({ "A", "A", "B", "C" }));

        const auto summaryRow = [&err](const QString &slot, int updated, int not_) {
            return err.contains(QRegularExpression(
                QStringLiteral("^%1 +%2 +%3$").arg(slot).arg(updated).arg(not_),
                QRegularExpression::MultilineOption));
        };
        QVERIFY2(summaryRow("A", 2, 0) && summaryRow("B", 1, 0) && summaryRow("C", 0, 1), qPrintable(err));
        QVERIFY2(err.contains(QRegularExpression("Line: 3 updated, 1 not updated, [0-9.]+ units per hour")),
            qPrintable(err));

        const QJsonArray units = lineAB.stop();
        QCOMPARE(units.size(), 3); // A twice, B once
        for (const QJsonValue &u : units) {
            QVERIFY(u["exitReceived"].toBool());
            QVERIFY(u["imagesEqual"].toBool());
            QCOMPARE(u["problemCount"].toInt(), 0);
        }
        lineC.stop();
    }

    // Watching, two adapters with slot A's serial number hold slot A only: B's
    // unit is updated meanwhile, the hold is said again while it lasts (one
    // "held" event), and once the second adapter goes A's unit is updated.
    void watchHoldsOnlyTheSharedSlot()
    {
        QTemporaryDir dir;
        UnitSimProcess sim;
        QVERIFY(sim.startAdapters(payload.path(), dir.path(),
            { "serial=D1 port=1.1", "serial=D1 port=1.2", "serial=E2 port=1.3" }));
        QVERIFY(TestSupport::writeFile(dir.filePath("station.json"),
            R"({ "slots": [ { "name": "A", "serial": "D1" }, { "name": "B", "serial": "E2" } ] })"));
        const QString log = dir.filePath("units.jsonl");
        QProcess cli;
        run(cli, sim.serialDir,
            { "--watch", "--station", dir.filePath("station.json"), "--mode", "erase-images", "--payload",
                payload.path(), "--log", log, "--events", "--quiet" },
            false);
        QByteArray err;
        const auto holdsSaid = [&cli, &err] {
            err += cli.readAllStandardError();
            return err.count("No job starts in slot A until that is put right.");
        };
        const auto slotsRecorded = [&log] {
            QStringList recorded;
            for (const QJsonValue &r : jsonLines(readFile(log)))
                recorded << r["slot"].toString() + ' ' + r["result"].toString();
            return recorded;
        };
        // Bounds under a third of Qt Test's 300 s per test: a failed wait
        // waits twice as long again before it reports.
        constexpr int kWaitMs = 80000;
        QTRY_COMPARE_WITH_TIMEOUT(slotsRecorded(), QStringList { "B updated" }, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(holdsSaid() >= 2, kWaitMs);
        QVERIFY2(err.contains("slot A: 2 adapters have the serial number D1"), err.constData());
        QVERIFY2(!err.contains("slot B"), err.constData());

        // Put right: the second adapter is unplugged.
        QVERIFY(QFile::remove(sim.paths[1]));
        QVERIFY(QFile::remove(sim.serialDir + "/by-path/pci-0000:00:14.0-usb-0:1.2:1.0-port0"));
        QTRY_COMPARE_WITH_TIMEOUT(slotsRecorded(), QStringList({ "B updated", "A updated" }), kWaitMs);
        QCOMPARE(::kill(static_cast<pid_t>(cli.processId()), SIGTERM), 0);
        QVERIFY(cli.waitForFinished(kJobMs));
        QCOMPARE(cli.exitCode(), 0);

        QStringList events;
        for (const QJsonValue &e : jsonLines(cli.readAllStandardOutput()))
            if (e["event"].toString() == "held" || e["event"].toString() == "appeared")
                events << e["event"].toString() + ' ' + e["slot"].toString();
        QCOMPARE(events.count("held A"), 1);
        QCOMPARE(events.count("appeared B"), 1);
        QCOMPARE(events.count("appeared A"), 1);
        QVERIFY(events.indexOf("appeared A") > events.indexOf("held A"));
        const QJsonArray units = sim.stop();
        QCOMPARE(units.size(), 3);
        for (const QJsonValue &u : units) {
            if (u["adapter"].toInt() == 2)
                QCOMPARE(u["lines"]["fromTool"].toInt(), 0);
            else
                QVERIFY(u["exitReceived"].toBool());
        }
    }

    // A port the user may not open says which group to join and how (or, with
    // the package's device rule installed, to plug the adapter in again); one
    // that another process holds says so and names the process.
    void portsAUserCannotUse_data()
    {
        QTest::addColumn<bool>("otherUser");
        QTest::addColumn<bool>("ruleInstalled");
        QTest::newRow("permission denied") << true << false;
        QTest::newRow("permission denied, device rule installed") << true << true;
        QTest::newRow("in use") << false << false;
    }

    void portsAUserCannotUse()
    {
        QFETCH(bool, otherUser);
        QFETCH(bool, ruleInstalled);
        // Where the program looks for the rule: a file of its own (in /tmp, which
        // the other user can search), there or not.
        QTemporaryFile rule(QDir::tempPath() + QStringLiteral("/70-zq-updater-XXXXXX.rules"));
        QVERIFY(rule.open());
        const QString rulePath = ruleInstalled ? rule.fileName() : rule.fileName() + ".absent";
        PtyPair pty;
        QVERIFY(pty.open());
        const QString path = pty.slavePath();
        QSerialPort holder;
        QStringList asOther; // the command that runs the program as another user
        QString says;
        if (otherUser) {
            // As root every permission check passes: the program runs as nobody.
            const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
            if (::geteuid() != 0 || setpriv.isEmpty())
                QSKIP("needs root and setpriv to run the program as another user");
            const group *dialout = ::getgrnam("dialout");
            QVERIFY(dialout != nullptr);
            const QByteArray device = QFile::encodeName(path);
            QCOMPARE(::chown(device.constData(), 0, dialout->gr_gid), 0);
            QCOMPARE(::chmod(device.constData(), 0660), 0);
            asOther = QStringList { setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups" };
            says = ruleInstalled
                ? "permission denied: your user may not use " + path
                    + ", although zq-updater's device rule is installed. Unplug the adapter and "
                      "plug it in again. The rule gives access to the user at the desktop only: "
                      "over a remote login add the user to the device's group (sudo usermod -aG "
                      "dialout nobody), then log out and in again."
                : "permission denied: " + path
                    + " belongs to the group dialout, and your user is not in it. Install the "
                      "zq-updater package (its device rule gives the user at the desktop access), "
                      "or add the user to the group (sudo usermod -aG dialout nobody), then log "
                      "out and in again.";
        } else {
            holder.setPortName(path);
            QVERIFY(holder.open(QIODevice::ReadWrite));
            says = "the port is in use by another program: process "
                + QString::number(QCoreApplication::applicationPid()) + " (tst_station)";
        }
        // (A --log that can't be written is refused before any port is opened
        // now; a record lost at the end is tst_hostile's full-disk row.)
        const QStringList command = asOther + QStringList { ZQ_UPDATE, "--mode", "erase-images", "--port", path };
        QProcess cli;
        cli.setProcessEnvironment(TestSupport::toolEnvironment({ "ZQ_SERIAL_DIR=", "ZQ_UDEV_RULES=" + rulePath }));
        cli.start(command[0], command.mid(1));
        QVERIFY(cli.waitForFinished(kJobMs));
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        QVERIFY2(cli.exitCode() == 1, qPrintable(err));
        QVERIFY2(err.contains("Could not open port " + path + ": " + says), qPrintable(err));
        QVERIFY2(!err.contains("Permission error while locking"), qPrintable(err));
    }
};

QTEST_GUILESS_MAIN(TestStation)
#include "tst_station.moc"
