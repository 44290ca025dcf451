#pragma once
// The records database's tables, the same on the local SQLite file and the
// plant's PostgreSQL server: the version in schema_version, and numbered
// migrations that bring a database of any earlier version to the latest one
// in place, all in one transaction. The columns a record fills and the JSON
// field each comes from.
#include <QList>
#include <QString>
#include <QStringList>

class QSqlDatabase;

class RecordSchema
{
public:
    enum Dialect { SQLite, PostgreSQL };

    struct Column {
        const char *name; // the column
        const char *field; // the record's JSON field
        bool number; // REAL / double precision, else text
        int since; // the version that added it
    };

    // The latest version this program writes.
    static int latest();
    // Every column a record fills, in insert order.
    static const QList<Column> &columns();
    // The statements of migration `version` (from version - 1) for dialect.
    static QStringList migration(int version, Dialect dialect);

    static Dialect dialectOf(const QSqlDatabase &db);
    // The database's version: 0 when it has no schema_version table yet;
    // -1 with error set when it can't be read.
    static int version(QSqlDatabase &db, QString &error);
    // Brings db to version target (latest() by default) in one transaction,
    // under a lock so that two programs never migrate at once.
    // A database newer than target is left alone. False with error set.
    static bool migrate(QSqlDatabase &db, QString &error, int target = 0);
};
