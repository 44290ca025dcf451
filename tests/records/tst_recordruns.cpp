// zq-update's records as a child process against zq-unit-sim: a record read
// back by "history --json" as the job wrote it, a records database that can't
// be written (locked, a full disk, read-only) costing no job and no record,
// a server down at the start (the outbox delivered by "records sync" once),
// a watch whose server stops and starts again, and two stations writing to
// one server at once (a private PostgreSQL server, PgCluster).
#include "records/RecordStore.h"
#include "support/PgCluster.h"
#include "support/SmallDisk.h"
#include "support/TestSupport.h"
#include "support/UnitSimProcess.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/mount.h>
#include <unistd.h>

namespace {

constexpr int kJobMs = 120000;

using TestSupport::jsonLines;
using TestSupport::readFile;

// A station: its own data folder (the records file) and no records.conf.
QProcessEnvironment stationEnvironment(const QString &dataHome, const QString &serialDir = QString())
{
    QProcessEnvironment env = TestSupport::toolEnvironment(
        { "XDG_DATA_HOME=" + dataHome, "ZQ_RECORDS_CONF=" + dataHome + "/no-records.conf" });
    if (!serialDir.isEmpty())
        env.insert("ZQ_SERIAL_DIR", serialDir);
    return env;
}

// Runs zq-update with args in cli: its exit code, -1 when it did not end.
int run(QProcess &cli, const QStringList &args)
{
    cli.start(ZQ_UPDATE, args);
    return cli.waitForFinished(kJobMs) && cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
}

QString stationFile(const QString &dir, const QStringList &serials)
{
    QJsonArray places;
    for (int i = 0; i < serials.size(); ++i)
        places.append(QJsonObject { { "name", QString(QChar('A' + i)) }, { "serial", serials[i] } });
    const QString file = dir + "/station.json";
    TestSupport::writeFile(file, QJsonDocument(QJsonObject { { "slots", places } }).toJson());
    return file;
}

} // namespace

class TestRecordRuns : public QObject
{
    Q_OBJECT

    QTemporaryDir payload;
    PgCluster pg;
    QString pgProblem;

    // The uuids the server holds, and how many rows.
    QPair<QSet<QString>, int> serverRecords()
    {
        QString out;
        pg.psql("SELECT uuid FROM unit_record", &out);
        const QStringList ids = out.split('\n', Qt::SkipEmptyParts);
        return { QSet<QString>(ids.cbegin(), ids.cend()), static_cast<int>(ids.size()) };
    }

    // The arguments of an erase job on the payload, recorded in log.
    QStringList eraseJob(const QString &log, const QStringList &more) const
    {
        return QStringList { "--mode", "erase-images", "--payload", payload.path(), "--log", log } + more;
    }

    static QSet<QString> uuidsOf(const QString &log)
    {
        QSet<QString> ids;
        for (const QJsonValue &r : jsonLines(readFile(log)))
            ids << RecordStore::uuidOf(r.toObject());
        return ids;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(payload.isValid());
        QVERIFY(makePayload(payload.path()));
        if (PgCluster::binDir().isEmpty())
            pgProblem = QStringLiteral("PostgreSQL is not installed (postgresql-15): no server to test against");
        else
            QVERIFY2(pg.create(pgProblem), qPrintable(pgProblem));
    }

    // A unit's record as the job wrote it to --log is what "history --json"
    // gives back (with its UUID), found by its port and not by another serial.
    void recordReadBack()
    {
        QTemporaryDir dir;
        UnitSimProcess unit;
        QVERIFY(unit.start(payload.path(), 1));
        QProcess cli;
        cli.setProcessEnvironment(stationEnvironment(dir.path()));
        QCOMPARE(run(cli, eraseJob(dir.filePath("units.jsonl"), { "--port", unit.paths[0] })), 0);
        const QJsonArray logged = jsonLines(readFile(dir.filePath("units.jsonl")));
        QCOMPARE(logged.size(), 1);

        QCOMPARE(run(cli, { "history", "--json" }), 0);
        const QJsonArray shown = QJsonDocument::fromJson(cli.readAllStandardOutput()).array();
        QCOMPARE(shown.size(), 1);
        QJsonObject back = shown[0].toObject();
        QCOMPARE(back.take("uuid").toString(), RecordStore::uuidOf(logged[0].toObject()));
        QCOMPARE(back, logged[0].toObject());

        QCOMPARE(run(cli, { "history", "--json", "--serial", "nobody" }), 0);
        QCOMPARE(QJsonDocument::fromJson(cli.readAllStandardOutput()).array().size(), 0);
        // Importing the same --log adds nothing.
        QCOMPARE(run(cli, { "records", "import", dir.filePath("units.jsonl") }), 0);
        QVERIFY2(cli.readAllStandardOutput().contains("0 record(s) imported"), "imported again");
    }

    // A records file that can't be written: the job runs and ends well, the
    // message says why, and the record is in --log and the report.
    void unwritableStore_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("said");
        QTest::newRow("locked by another program") << "locked" << "another program holds it locked";
        QTest::newRow("full disk") << "full" << "the disk is full";
        QTest::newRow("read-only") << "read-only" << "it can't be written";
    }

    void unwritableStore()
    {
        QFETCH(QString, kind);
        QFETCH(QString, said);
        QTemporaryDir dir;
        SmallDisk disk;
        QString dataHome = dir.filePath("data");
        QSqlDatabase holder;
        if (kind == "locked") {
            // Another program holds a write transaction on the file.
            RecordStore made;
            QString error;
            QVERIFY(made.openLocal(dataHome + "/zq-updater/records.sqlite", error));
            holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
            holder.setDatabaseName(dataHome + "/zq-updater/records.sqlite");
            QVERIFY(holder.open());
            QVERIFY(QSqlQuery(holder).exec("BEGIN EXCLUSIVE"));
        } else {
            if (::geteuid() != 0 || !disk.mount(kind == "full" ? 256 : 64, kind == "full" ? 0 : MS_RDONLY))
                QSKIP("no tmpfs can be mounted here (needs root)");
            dataHome = disk.dir.path();
            if (kind == "full") {
                RecordStore made; // the file is there; the disk then fills up
                QString error;
                QVERIFY(made.openLocal(dataHome + "/zq-updater/records.sqlite", error));
                QVERIFY(disk.fill());
            }
        }
        UnitSimProcess unit;
        QVERIFY(unit.start(payload.path(), 1));
        QProcess cli;
        cli.setProcessEnvironment(stationEnvironment(dataHome));
        QCOMPARE(run(cli, eraseJob(dir.filePath("units.jsonl"), { "--port", unit.paths[0], "--report", dir.filePath("report.json") })), 0);
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        QVERIFY2(err.contains(said) && err.contains("records.sqlite"), qPrintable(err));
        QCOMPARE(jsonLines(readFile(dir.filePath("units.jsonl"))).size(), 1);
        const QJsonArray units = reportUnits(dir.filePath("report.json"));
        QCOMPARE(units.size(), 1);
        QCOMPARE(units[0]["result"].toString(), QStringLiteral("updated"));
        holder = QSqlDatabase();
        QSqlDatabase::removeDatabase("holder");
    }

    // The server down when the run starts: the job ends well, its record
    // waits in the outbox; once the server is up "records sync" delivers it,
    // and a second sync sends nothing again.
    void serverDownAtStart()
    {
        if (!pgProblem.isEmpty())
            QSKIP(qPrintable(pgProblem));
        QVERIFY(pg.psql("DROP TABLE IF EXISTS unit_record, schema_version"));
        QVERIFY(pg.stop());
        QTemporaryDir dir;
        UnitSimProcess unit;
        QVERIFY(unit.start(payload.path(), 1));
        QProcess cli;
        cli.setProcessEnvironment(stationEnvironment(dir.filePath("data")));
        QCOMPARE(run(cli, eraseJob(dir.filePath("units.jsonl"), { "--port", unit.paths[0], "--records", pg.url() })), 0);
        const QString err = QString::fromLocal8Bit(cli.readAllStandardError());
        QVERIFY2(err.contains("1 record(s) wait in the local outbox"), qPrintable(err));
        QString why;
        QVERIFY2(pg.start(why), qPrintable(why));
        for (const char *sent : { "1 record(s) sent", "0 record(s) sent" }) {
            QCOMPARE(run(cli, { "records", "sync", "--records", pg.url() }), 0);
            const QByteArray out = cli.readAllStandardOutput();
            QVERIFY2(out.contains(sent), out.constData());
        }
        QCOMPARE(serverRecords().first, uuidsOf(dir.filePath("units.jsonl")));
        QCOMPARE(serverRecords().second, 1);
    }

    // A watch with three slots whose server stops after the first record and
    // starts again: every unit's record reaches it exactly once.
    void watchWhileServerStops()
    {
        if (!pgProblem.isEmpty())
            QSKIP(qPrintable(pgProblem));
        QVERIFY(pg.psql("DROP TABLE IF EXISTS unit_record, schema_version"));
        QTemporaryDir dir;
        UnitSimProcess adapters;
        QVERIFY(adapters.startAdapters(payload.path(), dir.path(),
            { "serial=A1 port=1.1 plugs=0-", "serial=B2 port=1.2 plugs=3000-", "serial=C3 port=1.3 plugs=6000-" }));
        const QString log = dir.filePath("units.jsonl");
        QProcess cli;
        cli.setProcessEnvironment(stationEnvironment(dir.filePath("data"), adapters.serialDir));
        cli.start(ZQ_UPDATE,
            eraseJob(log,
                { "--watch", "--station", stationFile(dir.path(), { "A1", "B2", "C3" }), "--records", pg.url() }));
        const auto logged = [&log] { return readFile(log).count('\n'); };
        QTRY_VERIFY_WITH_TIMEOUT(logged() >= 1, kJobMs);
        QTRY_COMPARE_WITH_TIMEOUT(serverRecords().second, 1, kJobMs);
        QVERIFY(pg.stop());
        QTRY_VERIFY_WITH_TIMEOUT(logged() >= 3, kJobMs);
        QString why;
        QVERIFY2(pg.start(why), qPrintable(why));
        QTRY_COMPARE_WITH_TIMEOUT(serverRecords().second, 3, kJobMs);
        QCOMPARE(::kill(static_cast<pid_t>(cli.processId()), SIGTERM), 0);
        QVERIFY(cli.waitForFinished(kJobMs));
        QCOMPARE(cli.exitCode(), 0);
        const QByteArray err = cli.readAllStandardError();
        QVERIFY2(err.contains("wait in the local outbox"), err.constData());
        QCOMPARE(serverRecords().first, uuidsOf(log));
        QCOMPARE(serverRecords().second, 3);
    }

    // Two stations, each a watch with its own records file, write to one
    // server at once: each record once, each with its station's name.
    void twoStations()
    {
        if (!pgProblem.isEmpty())
            QSKIP(qPrintable(pgProblem));
        QVERIFY(pg.psql("DROP TABLE IF EXISTS unit_record, schema_version"));
        QTemporaryDir dir1, dir2;
        UnitSimProcess line1, line2;
        QVERIFY(line1.startAdapters(payload.path(), dir1.path(), { "serial=A1 port=1.1", "serial=B2 port=1.2" }));
        QVERIFY(line2.startAdapters(payload.path(), dir2.path(), { "serial=D4 port=1.1", "serial=E5 port=1.2" }));
        QProcess station1, station2;
        const auto start = [this](QProcess &p, const QTemporaryDir &dir, const UnitSimProcess &line, const QStringList &serials) {
            p.setProcessEnvironment(stationEnvironment(dir.filePath("data"), line.serialDir));
            p.start(ZQ_UPDATE, eraseJob(dir.filePath("units.jsonl"),
                                   { "--watch", "--station", stationFile(dir.path(), serials), "--records", pg.url() }));
        };
        start(station1, dir1, line1, { "A1", "B2" });
        start(station2, dir2, line2, { "D4", "E5" });
        QTRY_COMPARE_WITH_TIMEOUT(serverRecords().second, 4, kJobMs);
        for (QProcess *p : { &station1, &station2 }) {
            QCOMPARE(::kill(static_cast<pid_t>(p->processId()), SIGTERM), 0);
            QVERIFY(p->waitForFinished(kJobMs));
            QCOMPARE(p->exitCode(), 0);
        }
        QCOMPARE(serverRecords().first, uuidsOf(dir1.filePath("units.jsonl")) + uuidsOf(dir2.filePath("units.jsonl")));
        QCOMPARE(serverRecords().second, 4);
        QCOMPARE(pg.value("SELECT string_agg(adapter_serial, ',' ORDER BY adapter_serial) FROM unit_record"),
            QStringLiteral("A1,B2,D4,E5"));
        // The first station asks the server about a unit the second updated.
        QProcess ask;
        ask.setProcessEnvironment(stationEnvironment(dir1.filePath("data")));
        QCOMPARE(run(ask, { "history", "--json", "--serial", "D4", "--records", pg.url() }), 0);
        const QJsonArray found = QJsonDocument::fromJson(ask.readAllStandardOutput()).array();
        QCOMPARE(found.size(), 1);
        QCOMPARE(found[0]["adapterSerial"].toString(), QStringLiteral("D4"));
        QCOMPARE(found[0]["slot"].toString(), QStringLiteral("A"));
    }
};

QTEST_GUILESS_MAIN(TestRecordRuns)
#include "tst_recordruns.moc"
