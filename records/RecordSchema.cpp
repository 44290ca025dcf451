#include "records/RecordSchema.h"

#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Version 1: one row per unit's job; the whole record as JSON beside the
// columns that are asked about. Version 2: the confirmation and the
// package's columns (filled from the JSON of the records already there), the
// indexes for the questions asked (a unit by its serial number, a slot, a
// station, a time span, an update version), and on PostgreSQL the JSON as
// jsonb.
const QList<RecordSchema::Column> kColumns {
    { "uuid", "uuid", false, 1 },
    { "recorded_at", "time", false, 1 },
    { "station", "host", false, 1 },
    { "tool_version", "toolVersion", false, 1 },
    { "slot", "slot", false, 1 },
    { "port", "port", false, 1 },
    { "adapter_serial", "adapterSerial", false, 1 },
    { "usb_location", "usbLocation", false, 1 },
    { "version_before", "versionBefore", false, 1 },
    { "update_version", "updateVersion", false, 1 },
    { "mode", "mode", false, 1 },
    { "result", "result", false, 1 },
    { "reason", "reason", false, 1 },
    { "seconds", "seconds", true, 1 },
    { "resends", "resends", true, 1 },
    { "record", "", false, 1 },
    { "confirmation", "confirmation", false, 2 },
    { "confirmed_version", "confirmedVersion", false, 2 },
    { "firmware_sha256", "firmwareSha256", false, 2 },
    { "package", "package", false, 2 },
    { "package_sha256", "packageSha256", false, 2 },
    { "signer", "signer", false, 2 },
};

constexpr int kLatest = 2;

QStringList firstVersion(RecordSchema::Dialect d)
{
    const bool pg = d == RecordSchema::PostgreSQL;
    const QString id = pg ? QStringLiteral("id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY")
                          : QStringLiteral("id INTEGER PRIMARY KEY");
    const QString time = pg ? QStringLiteral("timestamptz") : QStringLiteral("text");
    const QString real = pg ? QStringLiteral("double precision") : QStringLiteral("real");
    QStringList s { QStringLiteral(
        "CREATE TABLE unit_record (%1, uuid text NOT NULL UNIQUE, recorded_at %2 NOT NULL, "
        "station text NOT NULL, tool_version text NOT NULL, slot text NOT NULL, "
        "port text NOT NULL, adapter_serial text NOT NULL, usb_location text NOT NULL, "
        "version_before text NOT NULL, update_version text NOT NULL, mode text NOT NULL, "
        "result text NOT NULL, reason text NOT NULL, seconds %3 NOT NULL, "
        "resends integer NOT NULL, record text NOT NULL)")
                          .arg(id, time, real) };
    // The local file's outbox: the records the server has not confirmed yet.
    if (!pg)
        s << QStringLiteral("CREATE TABLE outbox (record_id INTEGER PRIMARY KEY "
                            "REFERENCES unit_record(id))");
    return s;
}

QStringList secondVersion(RecordSchema::Dialect d)
{
    const bool pg = d == RecordSchema::PostgreSQL;
    QStringList s;
    const char *added[] = { "confirmation", "confirmed_version", "firmware_sha256", "package",
        "package_sha256", "signer" };
    const char *fields[] = { "confirmation", "confirmedVersion", "firmwareSha256", "package",
        "packageSha256", "signer" };
    if (pg)
        s << QStringLiteral("ALTER TABLE unit_record ALTER COLUMN record TYPE jsonb USING record::jsonb");
    for (int i = 0; i < 6; ++i) {
        s << QStringLiteral("ALTER TABLE unit_record ADD COLUMN %1 text NOT NULL DEFAULT ''")
                 .arg(QLatin1String(added[i]));
        s << (pg ? QStringLiteral("UPDATE unit_record SET %1 = coalesce(record->>'%2', '')")
                 : QStringLiteral("UPDATE unit_record SET %1 = coalesce(json_extract(record, '$.%2'), '')"))
                 .arg(QLatin1String(added[i]), QLatin1String(fields[i]));
    }
    s << QStringLiteral("CREATE INDEX unit_record_serial ON unit_record (adapter_serial, recorded_at)")
      << QStringLiteral("CREATE INDEX unit_record_slot ON unit_record (slot, recorded_at)")
      << QStringLiteral("CREATE INDEX unit_record_station ON unit_record (station, recorded_at)")
      << QStringLiteral("CREATE INDEX unit_record_time ON unit_record (recorded_at)")
      << QStringLiteral("CREATE INDEX unit_record_update ON unit_record (update_version, recorded_at)");
    return s;
}

bool exec(QSqlDatabase &db, const QString &statement, QString &error)
{
    QSqlQuery q(db);
    if (q.exec(statement))
        return true;
    error = q.lastError().text();
    return false;
}

} // namespace

int RecordSchema::latest()
{
    return kLatest;
}

const QList<RecordSchema::Column> &RecordSchema::columns()
{
    return kColumns;
}

QStringList RecordSchema::migration(int version, Dialect dialect)
{
    switch (version) {
    case 1: return firstVersion(dialect);
    case 2: return secondVersion(dialect);
    default: return {};
    }
}

RecordSchema::Dialect RecordSchema::dialectOf(const QSqlDatabase &db)
{
    return db.driverName() == QLatin1String("QPSQL") ? PostgreSQL : SQLite;
}

int RecordSchema::version(QSqlDatabase &db, QString &error)
{
    const bool has = db.tables().contains(QStringLiteral("schema_version"));
    if (!has)
        return 0;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT max(version) FROM schema_version")) || !q.next()) {
        error = q.lastError().text();
        return -1;
    }
    return q.value(0).toInt();
}

bool RecordSchema::migrate(QSqlDatabase &db, QString &error, int target)
{
    if (target <= 0)
        target = kLatest;
    int now = version(db, error);
    if (now < 0)
        return false;
    if (now >= target)
        return true;
    const Dialect d = dialectOf(db);
    const bool pg = d == PostgreSQL;
    // One program migrates, the others wait and then find the work done.
    if (!exec(db, pg ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    const auto fail = [&db](QString &e, const QString &why) {
        e = why;
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    QString why;
    if (pg && !exec(db, QStringLiteral("SELECT pg_advisory_xact_lock(7146020)"), why))
        return fail(error, why);
    if (!exec(db,
            QStringLiteral("CREATE TABLE IF NOT EXISTS schema_version (version integer PRIMARY KEY, "
                           "applied_at %1 NOT NULL)")
                .arg(pg ? QStringLiteral("timestamptz DEFAULT now()")
                        : QStringLiteral("text DEFAULT (strftime('%Y-%m-%dT%H:%M:%fZ','now'))")),
            why))
        return fail(error, why);
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT coalesce(max(version), 0) FROM schema_version")) || !q.next())
            return fail(error, q.lastError().text());
        now = q.value(0).toInt();
    }
    for (int v = now + 1; v <= target; ++v) {
        const QStringList statements = migration(v, d);
        for (const QString &s : statements)
            if (!exec(db, s, why))
                return fail(error, QStringLiteral("migration %1: %2").arg(v).arg(why));
        if (!exec(db, QStringLiteral("INSERT INTO schema_version (version) VALUES (%1)").arg(v), why))
            return fail(error, why);
    }
    return exec(db, QStringLiteral("COMMIT"), error) || fail(error, error);
}
