#pragma once
// A private PostgreSQL server for the records tests: initdb makes a cluster
// in a temporary folder, pg_ctl starts it listening on a Unix socket only
// (no TCP port), as the postgres user when the tests run as root (the server
// refuses root). Stopped and removed with the object.
#include <QString>
#include <QTemporaryDir>

class PgCluster
{
public:
    PgCluster();
    ~PgCluster();
    PgCluster(const PgCluster &) = delete;
    PgCluster &operator=(const PgCluster &) = delete;

    // Where initdb and pg_ctl are (PATH, then /usr/lib/postgresql/*/bin);
    // empty when PostgreSQL is not installed.
    static QString binDir();
    // Makes the cluster (database "zq", superuser "zq_owner"); false with
    // why set.
    bool create(QString &why);
    bool start(QString &why);
    bool stop();

    // The connection string for role (the superuser when empty) and
    // database: "postgresql:///zq?host=SOCKETDIR&port=PORT&user=ROLE".
    QString url(const QString &role = QString()) const;
    // Runs sql through psql as the superuser in database (zq when empty);
    // false when psql failed. Its output (unaligned, tuples only) in *out.
    bool psql(const QString &sql, QString *out = nullptr, const QString &database = QString()) const;
    // The one value sql selects, as text; "?" when psql failed.
    QString value(const QString &sql) const;

private:
    bool runTool(const QString &tool, const QStringList &args, QString &why, int timeoutMs) const;

    QTemporaryDir dir;
    QString data;
    QString sockets;
    int port = 0;
    bool isRunning = false;
    bool asPostgres = false;
};
