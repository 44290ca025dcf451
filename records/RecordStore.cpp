#include "records/RecordStore.h"

#include "engine/Timeouts.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QVariant>

namespace {

QAtomicInt connections;

// The namespace of the UUIDs derived from a record's content.
const QUuid kRecordNamespace(QStringLiteral("{6c1f3e52-8a47-4d2b-9e0a-5b7d21c4f8a3}"));

bool runSql(QSqlDatabase &db, const QString &statement, QString &error)
{
    QSqlQuery q(db);
    if (q.exec(statement))
        return true;
    error = q.lastError().text();
    return false;
}

QVariant valueOf(const QJsonObject &r, const RecordSchema::Column &c, const QString &uuid)
{
    const QString field = QLatin1String(c.field);
    if (field == QLatin1String("uuid"))
        return uuid;
    if (field.isEmpty()) {
        QJsonObject whole = r;
        whole.insert(QStringLiteral("uuid"), uuid);
        return QString::fromUtf8(QJsonDocument(whole).toJson(QJsonDocument::Compact));
    }
    if (field == QLatin1String("time"))
        return RecordQuery::timeText(QDateTime::fromString(r.value(field).toString(), Qt::ISODateWithMs));
    // An older record has no "versionBefore": its "unitVersion" says the same.
    const QJsonValue v = field == QLatin1String("versionBefore") && !r.contains(field)
        ? r.value(QStringLiteral("unitVersion"))
        : r.value(field);
    if (c.number)
        return v.toDouble();
    // A field an older record lacks is stored empty (never NULL: the columns
    // are NOT NULL, for readers that compare them).
    const QString text = v.toString();
    return text.isNull() ? QStringLiteral("") : text;
}

} // namespace

RecordStore::RecordStore()
    : name(QStringLiteral("zq-records-%1").arg(connections.fetchAndAddRelaxed(1)))
{
}

RecordStore::~RecordStore()
{
    if (db.isValid()) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name);
    }
}

QString RecordStore::uuidOf(const QJsonObject &record)
{
    const QUuid given(record.value(QStringLiteral("uuid")).toString());
    if (!given.isNull())
        return given.toString(QUuid::WithoutBraces);
    QJsonObject content = record;
    content.remove(QStringLiteral("uuid"));
    return QUuid::createUuidV5(kRecordNamespace, QJsonDocument(content).toJson(QJsonDocument::Compact))
        .toString(QUuid::WithoutBraces);
}

bool RecordStore::open(QString &error)
{
    if (!db.open()) {
        error = db.lastError().text();
        return false;
    }
    return true;
}

bool RecordStore::openLocal(const QString &file, QString &error)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE"))) {
        error = QStringLiteral("Qt's SQLite driver (QSQLITE) is not installed");
        return false;
    }
    const QString dir = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(dir)) {
        error = QStringLiteral("cannot create the folder %1").arg(dir);
        return false;
    }
    db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(Timeouts::kRecordsBusyMs));
    if (!open(error))
        return false;
    QString why;
    // WAL lets a window and a watch write at once; NORMAL syncs at each
    // checkpoint, and a crash loses no committed record.
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next()
        || q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        error = q.lastError().isValid() ? q.lastError().text()
                                        : QStringLiteral("the file can't be put in WAL mode");
        return false;
    }
    q.finish();
    if (!runSql(db, QStringLiteral("PRAGMA synchronous=NORMAL"), error)
        || !runSql(db, QStringLiteral("PRAGMA foreign_keys=ON"), error))
        return false;
    return RecordSchema::migrate(db, error);
}

bool RecordStore::openServer(const QStringList &options, QString &error)
{
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL"))) {
        error = QStringLiteral("Qt's PostgreSQL driver (QPSQL) is not installed");
        return false;
    }
    db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setConnectOptions(options.join(QLatin1Char(';')));
    if (!open(error))
        return false;
    if (!runSql(db, QStringLiteral("SET statement_timeout = %1").arg(Timeouts::kRecordsStatementMs), error)
        || !runSql(db, QStringLiteral("SET client_min_messages = warning"), error))
        return false;
    QString why;
    const int version = RecordSchema::version(db, why);
    if (version >= RecordSchema::latest())
        return true;
    if (!RecordSchema::migrate(db, why)) {
        error = QStringLiteral("the server's records tables are at version %1 and this program "
                               "writes version %2, and they could not be brought to it (%3): "
                               "run \"zq-update records sync\" once as the database's owner")
                    .arg(version)
                    .arg(RecordSchema::latest())
                    .arg(why.trimmed());
        return false;
    }
    return true;
}

bool RecordStore::add(const QJsonObject &record, QString &error, bool *added)
{
    if (added != nullptr)
        *added = false;
    const QDateTime time = QDateTime::fromString(record.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs);
    if (!time.isValid() || !record.value(QStringLiteral("result")).isString()) {
        error = QStringLiteral("it is no unit record (no \"time\" or \"result\")");
        return false;
    }
    const bool pg = RecordSchema::dialectOf(db) == RecordSchema::PostgreSQL;
    const QString uuid = uuidOf(record);
    QStringList names;
    QStringList marks;
    for (const RecordSchema::Column &c : RecordSchema::columns()) {
        names << QLatin1String(c.name);
        marks << QStringLiteral("?");
    }
    const QString insert = QStringLiteral("INSERT INTO unit_record (%1) VALUES (%2) %3")
                               .arg(names.join(QLatin1Char(',')), marks.join(QLatin1Char(',')),
                                   pg ? QStringLiteral("ON CONFLICT (uuid) DO NOTHING")
                                      : QStringLiteral("ON CONFLICT (uuid) DO NOTHING"));
    if (!pg && !runSql(db, QStringLiteral("BEGIN IMMEDIATE"), error))
        return false;
    const auto fail = [this, pg, &error](const QString &why) {
        error = why;
        if (!pg)
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return false;
    };
    QSqlQuery q(db);
    if (!q.prepare(insert))
        return fail(q.lastError().text());
    for (const RecordSchema::Column &c : RecordSchema::columns())
        q.addBindValue(valueOf(record, c, uuid));
    if (!q.exec())
        return fail(q.lastError().text());
    const bool isNew = q.numRowsAffected() > 0;
    if (!pg) {
        if (isNew) {
            QSqlQuery box(db);
            box.prepare(QStringLiteral("INSERT INTO outbox (record_id) SELECT id FROM unit_record WHERE uuid = ?"));
            box.addBindValue(uuid);
            if (!box.exec())
                return fail(box.lastError().text());
        }
        if (!runSql(db, QStringLiteral("COMMIT"), error))
            return fail(error);
    }
    if (added != nullptr)
        *added = isNew;
    return true;
}

QList<QJsonObject> RecordStore::find(const RecordQuery &query, QString &error, int limit)
{
    QVariantList values;
    QString sql = QStringLiteral("SELECT record FROM unit_record") + query.where(values)
        + QStringLiteral(" ORDER BY recorded_at DESC, id DESC");
    if (limit > 0)
        sql += QStringLiteral(" LIMIT %1").arg(limit);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    QList<QJsonObject> out;
    if (!q.prepare(sql)) {
        error = q.lastError().text();
        return out;
    }
    for (const QVariant &v : std::as_const(values))
        q.addBindValue(v);
    if (!q.exec()) {
        error = q.lastError().text();
        return out;
    }
    while (q.next())
        out.append(QJsonDocument::fromJson(q.value(0).toString().toUtf8()).object());
    return out;
}

int RecordStore::count(QString &error)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM unit_record")) || !q.next()) {
        error = q.lastError().text();
        return -1;
    }
    return q.value(0).toInt();
}

QList<QPair<qint64, QJsonObject>> RecordStore::outbox(int limit, QString &error)
{
    QList<QPair<qint64, QJsonObject>> out;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT unit_record.id, record FROM outbox JOIN unit_record ON "
                               "unit_record.id = outbox.record_id ORDER BY unit_record.id LIMIT %1")
                    .arg(limit))) {
        error = q.lastError().text();
        return out;
    }
    while (q.next())
        out.append({ q.value(0).toLongLong(), QJsonDocument::fromJson(q.value(1).toString().toUtf8()).object() });
    return out;
}

int RecordStore::outboxSize(QString &error)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM outbox")) || !q.next()) {
        error = q.lastError().text();
        return -1;
    }
    return q.value(0).toInt();
}

bool RecordStore::delivered(const QList<qint64> &ids, QString &error)
{
    if (ids.isEmpty())
        return true;
    QStringList list;
    for (qint64 id : ids)
        list << QString::number(id);
    return runSql(db, QStringLiteral("DELETE FROM outbox WHERE record_id IN (%1)").arg(list.join(QLatin1Char(','))), error);
}
