#pragma once
// Where unit records go: the local SQLite file (always) and the plant's
// PostgreSQL server (when --records or records.conf names one). A connection
// string may name no password: libpq reads it from ~/.pgpass or a service file.
#include <QString>
#include <QStringList>

struct RecordsConfig {
    QString localFile; // the SQLite file
    // The server's libpq parameters, each "keyword='value'"; empty: no server.
    QStringList serverOptions;
    QString server; // the connection string as given (no password in it)
    QString source; // where it came from: "--records" or the config file's path

    bool hasServer() const { return !serverOptions.isEmpty(); }

    // The local file: records.sqlite in the station's data folder
    // (zq-updater in the user's data folder, as XDG_DATA_HOME or
    // %LOCALAPPDATA% say), shared by the window and the command line.
    static QString defaultLocalFile();
    // /etc/zq-updater/records.conf (Windows: %PROGRAMDATA%\zq-updater\records.conf);
    // ZQ_RECORDS_CONF names another.
    static QString configFile();

    // The configuration: url when given (--records), else the config file's
    // "server" line when the file exists. False with error set for a file
    // that can't be read or a connection string that can't be used.
    static bool load(const QString &url, RecordsConfig &config, QString &error);
    // A connection string's libpq parameters ("postgresql://USER@HOST:PORT/DB?k=v"
    // or "host=.. dbname=.."); false with error set when it names a password,
    // can't be read, or has a value the driver can't pass (a ';').
    static bool parseServer(const QString &conn, QStringList &options, QString &error);
};
