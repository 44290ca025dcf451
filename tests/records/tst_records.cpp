// The records database in process: the connection string's checks, the
// schema brought from its first version to the latest on SQLite and on a
// real PostgreSQL server, the history filters, importing a --log file twice,
// the outbox delivered once a server that was down is up (a lost answer
// costs no duplicate), and the station role's rights.
#include "records/RecordImport.h"
#include "records/RecordOutbox.h"
#include "records/RecordQuery.h"
#include "records/RecordSchema.h"
#include "records/RecordStore.h"
#include "records/RecordsConfig.h"
#include "support/PgCluster.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>
#include <sys/stat.h>

namespace {

QJsonObject record(const QString &time, const QString &serial, const QString &slot,
    const QString &host, const QString &result, const QString &version)
{
    return QJsonObject { { "time", time }, { "host", host }, { "toolVersion", "0.9.0" },
        { "slot", slot }, { "port", "/dev/ttyUSB0" }, { "adapterSerial", serial },
        { "usbLocation", "" }, { "unitVersion", "D.02" }, { "versionBefore", "D.02" },
        { "confirmation", result == "updated" ? "confirmed" : "" }, { "confirmedVersion", "" },
        { "updateVersion", version }, { "mode", "firmware-and-images" }, { "firmwareSha256", "ab" },
        { "images", QJsonArray() }, { "package", "" }, { "packageSha256", "" }, { "signed", false },
        { "signer", "" }, { "result", result }, { "reason", result == "updated" ? "" : "no answer" },
        { "seconds", 61.5 }, { "resends", 3 } };
}

using TestSupport::writeFile;

QByteArray line(const QJsonObject &o)
{
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

} // namespace

class TestRecords : public QObject
{
    Q_OBJECT

    PgCluster pg;
    QString pgProblem; // why there is no server to test against

    // The connection options for the private server, as role.
    QStringList serverOptions(const QString &role = QString()) const
    {
        QStringList options;
        QString error;
        return RecordsConfig::parseServer(pg.url(role), options, error) ? options : QStringList();
    }

private slots:
    void initTestCase()
    {
        if (PgCluster::binDir().isEmpty())
            pgProblem = QStringLiteral("PostgreSQL is not installed (postgresql-15): no server to test against");
        else
            QVERIFY2(pg.create(pgProblem), qPrintable(pgProblem));
    }

    // A password never comes from the command line or the config file; the
    // rest is passed on to libpq, with a short connect time-out added.
    void connectionStrings_data()
    {
        QTest::addColumn<QString>("conn");
        QTest::addColumn<QString>("refusal"); // a part of the message; empty: taken
        QTest::addColumn<QStringList>("options");
        QTest::newRow("url") << "postgresql://station1@db.plant:5433/zq?sslmode=verify-full" << ""
            << QStringList { "host='db.plant'", "port='5433'", "user='station1'", "dbname='zq'", "sslmode='verify-full'", "connect_timeout='3'" };
        QTest::newRow("socket url") << "postgresql:///zq?host=/run/pg&connect_timeout=9" << ""
                                    << QStringList { "dbname='zq'", "host='/run/pg'", "connect_timeout='9'" };
        QTest::newRow("keywords") << "host=db dbname=zq user=o'k" << "neither" << QStringList();
        QTest::newRow("keywords plain") << "host=db dbname=zq service=plant" << ""
            << QStringList { "host='db'", "dbname='zq'", "service='plant'", "connect_timeout='3'" };
        QTest::newRow("url password") << "postgresql://station1:secret@db/zq" << "password" << QStringList();
        QTest::newRow("query password") << "postgresql://db/zq?password=secret" << "password" << QStringList();
        QTest::newRow("keyword password") << "host=db password=secret" << "password" << QStringList();
        QTest::newRow("semicolon") << "postgresql://db/zq?application_name=a;b" << "';'" << QStringList();
        QTest::newRow("no parameter") << "postgresql://db/zq?x-y=1" << "no connection parameter" << QStringList();
    }

    void connectionStrings()
    {
        QFETCH(QString, conn);
        QFETCH(QString, refusal);
        QFETCH(QStringList, options);
        QStringList got;
        QString error;
        const bool ok = RecordsConfig::parseServer(conn, got, error);
        if (refusal.isEmpty()) {
            QVERIFY2(ok, qPrintable(error));
            QCOMPARE(got, options);
        } else {
            QVERIFY(!ok);
            QVERIFY2(error.contains(refusal), qPrintable(error));
            QVERIFY2(!error.contains("secret"), qPrintable(error));
        }
    }

    // records.conf: one "server =" line, comments; anything else refused by name.
    void configFile_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("server"); // empty: refused
        QTest::newRow("server") << QByteArray("# the plant\nserver = postgresql://db/zq\n") << "postgresql://db/zq";
        QTest::newRow("password") << QByteArray("server = postgresql://a:pw@db/zq\n") << "";
        QTest::newRow("unknown key") << QByteArray("sever = postgresql://db/zq\n") << "";
    }

    void configFile()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, server);
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("records.conf"), text));
        qputenv("ZQ_RECORDS_CONF", QFile::encodeName(dir.filePath("records.conf")));
        RecordsConfig config;
        QString error;
        const bool ok = RecordsConfig::load(QString(), config, error);
        qunsetenv("ZQ_RECORDS_CONF");
        QCOMPARE(ok, !server.isEmpty());
        QCOMPARE(config.server, server);
        if (!ok)
            QVERIFY2(error.contains(dir.filePath("records.conf")), qPrintable(error));
        // --records takes the place of the file.
        QVERIFY(RecordsConfig::load("host=other", config, error));
        QCOMPARE(config.server, QStringLiteral("host=other"));
    }

    // A database made by the first version, with a record in it, is brought
    // to the latest: the new columns are filled from the records there, and
    // they are found by the new indexes' questions.
    void migrationFromFirstVersion_data()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgresql") << true;
    }

    void migrationFromFirstVersion()
    {
        QFETCH(bool, server);
        if (server && !pgProblem.isEmpty())
            QSKIP(qPrintable(pgProblem));
        QTemporaryDir dir;
        const QString file = dir.filePath("records.sqlite");
        if (server)
            QVERIFY(pg.psql("DROP TABLE IF EXISTS unit_record, schema_version"));
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(server ? "QPSQL" : "QSQLITE", "first");
            if (server)
                db.setConnectOptions(serverOptions().join(';'));
            else
                db.setDatabaseName(file);
            QVERIFY2(db.open(), qPrintable(db.lastError().text()));
            QString error;
            QVERIFY2(RecordSchema::migrate(db, error, 1), qPrintable(error));
            QCOMPARE(RecordSchema::version(db, error), 1);
            QJsonObject r = record("2026-03-01T10:00:00.000Z", "A10K1", "A", "bench-1", "updated", "D.03");
            r.insert("uuid", "5e0ad9c9-1111-4222-8333-444455556666");
            QSqlQuery q(db);
            QVERIFY(q.prepare("INSERT INTO unit_record (uuid, recorded_at, station, tool_version, slot, port, "
                              "adapter_serial, usb_location, version_before, update_version, mode, result, "
                              "reason, seconds, resends, record) VALUES "
                              "(?, ?, 'bench-1', '0.8.0', 'A', 'p', 'A10K1', '', 'D.02', 'D.03', 'images', "
                              "'updated', '', 1.5, 0, ?)"));
            q.addBindValue(r["uuid"].toString());
            q.addBindValue(r["time"].toString());
            q.addBindValue(QString::fromUtf8(QJsonDocument(r).toJson(QJsonDocument::Compact)));
            QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
        } // the query and the connection end here: nothing holds it when it is removed
        QSqlDatabase::removeDatabase("first");

        RecordStore store;
        QString error;
        QVERIFY2(server ? store.openServer(serverOptions(), error) : store.openLocal(file, error), qPrintable(error));
        QCOMPARE(RecordSchema::version(store.database(), error), RecordSchema::latest());
        QSqlQuery q(store.database());
        QVERIFY(q.exec("SELECT confirmation, firmware_sha256 FROM unit_record WHERE adapter_serial = 'A10K1'"));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("confirmed"));
        QCOMPARE(q.value(1).toString(), QStringLiteral("ab"));
        // The old record and a new one, newest first.
        QVERIFY2(store.add(record("2026-04-01T10:00:00.000Z", "A10K1", "A", "bench-1", "updated", "D.04"), error),
            qPrintable(error));
        RecordQuery query;
        query.serial = "A10K1";
        const QList<QJsonObject> found = store.find(query, error);
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0]["updateVersion"].toString(), QStringLiteral("D.04"));
        QCOMPARE(found[1]["uuid"].toString(), QStringLiteral("5e0ad9c9-1111-4222-8333-444455556666"));
        // Opening again migrates nothing more.
        RecordStore again;
        QVERIFY2(server ? again.openServer(serverOptions(), error) : again.openLocal(file, error), qPrintable(error));
        QCOMPARE(RecordSchema::version(again.database(), error), RecordSchema::latest());
        QCOMPARE(again.find(query, error).size(), 2);
    }

    // Each filter alone and together, newest first.
    void historyFilters_data()
    {
        QTest::addColumn<QStringList>("filter"); // serial, slot, station, result, version, since, until
        QTest::addColumn<QStringList>("times"); // the records found, by their time
        QTest::newRow("all") << QStringList { "", "", "", "", "", "", "" } << QStringList { "05", "04", "03", "02", "01" };
        QTest::newRow("serial") << QStringList { "A1", "", "", "", "", "", "" } << QStringList { "04", "01" };
        QTest::newRow("slot") << QStringList { "", "B", "", "", "", "", "" } << QStringList { "05", "02" };
        QTest::newRow("station") << QStringList { "", "", "pc2", "", "", "", "" } << QStringList { "05", "03" };
        QTest::newRow("result") << QStringList { "", "", "", "not updated", "", "", "" } << QStringList { "02" };
        QTest::newRow("version") << QStringList { "", "", "", "", "D.04", "", "" } << QStringList { "05", "04" };
        QTest::newRow("since day") << QStringList { "", "", "", "", "", "2026-05-03", "" } << QStringList { "05", "04", "03" };
        QTest::newRow("until day") << QStringList { "", "", "", "", "", "", "2026-05-02" } << QStringList { "02", "01" };
        QTest::newRow("span and serial") << QStringList { "A1", "", "", "", "", "2026-05-02", "2026-05-04T12:00" }
                                         << QStringList { "04" };
        QTest::newRow("nothing") << QStringList { "Z9", "", "", "", "", "", "" } << QStringList();
    }

    void historyFilters()
    {
        QFETCH(QStringList, filter);
        QFETCH(QStringList, times);
        QTemporaryDir dir;
        RecordStore store;
        QString error;
        QVERIFY(store.openLocal(dir.filePath("r.sqlite"), error));
        // Stored out of order: the order shown is by time.
        const struct {
            const char *day, *serial, *slot, *host, *result, *version;
        } rows[] = { { "03", "C3", "A", "pc2", "updated", "D.03" }, { "01", "A1", "A", "pc1", "updated", "D.03" },
            { "05", "B2", "B", "pc2", "updated", "D.04" }, { "02", "B2", "B", "pc1", "not updated", "D.03" },
            { "04", "A1", "A", "pc1", "updated", "D.04" } };
        for (const auto &r : rows)
            QVERIFY(store.add(record(QStringLiteral("2026-05-%1T08:00:00.000Z").arg(r.day), r.serial, r.slot,
                                  r.host, r.result, r.version),
                error));
        RecordQuery q;
        q.serial = filter[0];
        q.slot = filter[1];
        q.station = filter[2];
        q.result = filter[3];
        q.version = filter[4];
        if (!filter[5].isEmpty())
            q.since = RecordQuery::parseTime(filter[5], false);
        if (!filter[6].isEmpty())
            q.until = RecordQuery::parseTime(filter[6], true);
        QStringList got;
        for (const QJsonObject &r : store.find(q, error))
            got << r["time"].toString().mid(8, 2);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(got, times);
    }

    // A --log file imported twice is stored once; lines that are no record
    // are counted by number; a record with its own UUID keeps it. A FIFO
    // named as the file is refused at once, never opened (the open would
    // wait for a writer).
    void importTwice()
    {
        QTemporaryDir dir;
        QJsonObject withId = record("2026-06-02T08:00:00.000Z", "B2", "B", "pc1", "updated", "D.04");
        withId.insert("uuid", "0f0e0d0c-0b0a-4908-8706-050403020100");
        const QByteArray text = line(record("2026-06-01T08:00:00.000Z", "A1", "A", "pc1", "updated", "D.04"))
            + "{not json\n" + line(withId) + "{\"earlier\":true}\n\n";
        QVERIFY(writeFile(dir.filePath("units.jsonl"), text));
        RecordStore store;
        QString error;
        QVERIFY(store.openLocal(dir.filePath("r.sqlite"), error));
        const RecordImport::Outcome first = RecordImport::run(dir.filePath("units.jsonl"), store);
        QCOMPARE(QList<int>({ first.added, first.known }), QList<int>({ 2, 0 }));
        QCOMPARE(first.badLines, QList<int>({ 2, 4 }));
        const RecordImport::Outcome second = RecordImport::run(dir.filePath("units.jsonl"), store);
        QCOMPARE(QList<int>({ second.added, second.known }), QList<int>({ 0, 2 }));
        QCOMPARE(store.count(error), 2);
        RecordQuery q;
        q.serial = "B2";
        QCOMPARE(store.find(q, error).value(0)["uuid"].toString(), withId["uuid"].toString());
        QCOMPARE(store.outboxSize(error), 2);
        const QString fifo = dir.filePath("fifo.jsonl");
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const RecordImport::Outcome out = RecordImport::run(fifo, store);
        QVERIFY2(out.error.contains("FIFO"), qPrintable(out.error));
        QCOMPARE(out.added, 0);
    }

    // The server down when the records are stored: they wait in the outbox.
    // Once it is up they are delivered; offered again (an answer lost after
    // the server committed) they are stored once.
    void serverDownThenUp()
    {
        if (!pgProblem.isEmpty())
            QSKIP(qPrintable(pgProblem));
        QVERIFY(pg.psql("DROP TABLE IF EXISTS unit_record, schema_version"));
        QTemporaryDir dir;
        const QString file = dir.filePath("r.sqlite");
        QString error;
        {
            RecordStore local;
            QVERIFY(local.openLocal(file, error));
            for (int i = 1; i <= 3; ++i)
                QVERIFY(local.add(record(QStringLiteral("2026-07-0%1T08:00:00.000Z").arg(i), "A1", "A", "pc1",
                                      "updated", "D.04"),
                    error));
        }
        const QStringList options = serverOptions();
        QVERIFY(pg.stop());
        const RecordOutbox::Pass down = RecordOutbox::deliver(file, options);
        QVERIFY(!down.reached);
        QCOMPARE(down.left, 3);
        QVERIFY(!down.error.isEmpty());
        QVERIFY2(pg.start(error), qPrintable(error));
        const RecordOutbox::Pass up = RecordOutbox::deliver(file, options);
        QVERIFY2(up.reached, qPrintable(up.error));
        QCOMPARE(QList<int>({ up.sent, up.fresh, up.left }), QList<int>({ 3, 3, 0 }));
        QCOMPARE(pg.value("SELECT count(*) FROM unit_record"), QStringLiteral("3"));
        {
            RecordStore local;
            QVERIFY(local.openLocal(file, error));
            QSqlQuery q(local.database());
            QVERIFY(q.exec("INSERT INTO outbox SELECT id FROM unit_record"));
        }
        const RecordOutbox::Pass again = RecordOutbox::deliver(file, options);
        QCOMPARE(again.sent, 3);
        QCOMPARE(again.fresh, 0);
        QCOMPARE(pg.value("SELECT count(DISTINCT uuid) || '/' || count(*) FROM unit_record"), QStringLiteral("3/3"));
    }

    // Another station's record shown on this terminal: its control characters
    // (C1's CSI too) and a right-to-left override come out as escapes.
    void tableShowsOutsideTextSafely()
    {
        QJsonObject r = record("2026-08-01T08:00:00.000Z", QString::fromUtf8("A1\u009b2J"), "\x1b]0;x\x07",
            QString::fromUtf8("pc\u202e1"), "updated", "D.04");
        const QString table = RecordQuery::table({ r });
        for (const QChar c : table)
            QVERIFY2(c == QLatin1Char('\n') || (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format),
                qPrintable(QStringLiteral("U+%1 in the table").arg(c.unicode(), 4, 16)));
        QVERIFY2(table.contains("\\x1b]0;x\\x07") && table.contains("A1\\x9b2J"), qPrintable(table));
    }

    // The station role adds and reads records and does nothing else.
    void stationRole()
    {
        if (!pgProblem.isEmpty())
            QSKIP(qPrintable(pgProblem));
        QVERIFY(pg.psql("DROP TABLE IF EXISTS unit_record, schema_version"));
        RecordStore owner;
        QString error;
        QVERIFY2(owner.openServer(serverOptions(), error), qPrintable(error));
        QVERIFY(pg.psql(QString::fromUtf8(TestSupport::readFile(QStringLiteral(ZQ_ROLE_SQL)))));
        QVERIFY(pg.psql("DROP ROLE IF EXISTS station1; CREATE ROLE station1 LOGIN IN ROLE zq_station"));
        RecordStore station;
        QVERIFY2(station.openServer(serverOptions("station1"), error), qPrintable(error));
        QVERIFY2(station.add(record("2026-08-01T08:00:00.000Z", "A1", "A", "pc1", "updated", "D.04"), error),
            qPrintable(error));
        QCOMPARE(station.find(RecordQuery(), error).size(), 1);
        QSqlQuery q(station.database());
        QVERIFY(!q.exec("DELETE FROM unit_record"));
        QVERIFY(!q.exec("UPDATE unit_record SET result = 'updated'"));
        QVERIFY(!q.exec("DROP TABLE unit_record"));
        QCOMPARE(pg.value("SELECT count(*) FROM unit_record"), QStringLiteral("1"));
    }
};

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
