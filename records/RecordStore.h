#pragma once
// One records database: the local SQLite file (WAL, so that a window and a
// --watch on one PC write at once; each record also put in the outbox) or the
// plant's PostgreSQL server (each record stored once by its UUID). Opened on
// the calling thread, used only there.
#include "records/RecordQuery.h"
#include "records/RecordSchema.h"

#include <QJsonObject>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

class RecordStore
{
public:
    RecordStore();
    ~RecordStore();
    RecordStore(const RecordStore &) = delete;
    RecordStore &operator=(const RecordStore &) = delete;

    // Opens (creating it and its folder) the SQLite file and brings its
    // schema to the latest version. False with error set.
    bool openLocal(const QString &file, QString &error);
    // Connects to the server (libpq options, RecordsConfig::serverOptions)
    // and brings its schema to the latest version, or finds it there.
    bool openServer(const QStringList &options, QString &error);
    bool isOpen() const { return db.isOpen(); }
    QSqlDatabase &database() { return db; }

    // Stores record (a UnitRecord's JSON, or one read back) under its UUID
    // (uuidOf), once: a record whose UUID is there already is left as it is
    // (*added false). Locally it goes into the outbox in the same
    // transaction. False with error set.
    bool add(const QJsonObject &record, QString &error, bool *added = nullptr);
    // The records query matches, newest first (at most limit; 0: all), each
    // the JSON stored with its "uuid".
    QList<QJsonObject> find(const RecordQuery &query, QString &error, int limit = 0);
    int count(QString &error);

    // The local outbox: up to limit records not yet on the server, oldest
    // first, as (row id, record) pairs; and their removal once delivered.
    QList<QPair<qint64, QJsonObject>> outbox(int limit, QString &error);
    int outboxSize(QString &error);
    bool delivered(const QList<qint64> &ids, QString &error);

    // A record's UUID: its "uuid" when it has a valid one, else one derived
    // from its content (UUID v5 of its compact JSON), so that a record read
    // from a --log file or history.jsonl twice is the same record.
    static QString uuidOf(const QJsonObject &record);

private:
    bool open(QString &error);
    QString name;
    QSqlDatabase db;
};
