#pragma once
// The command line of zq-update, read with QCommandLineParser: the job's mode,
// the ports, the payload folder, the report file and the output wanted.
#include "payload/UpdateMode.h"

#include <QString>
#include <QStringList>

class QCoreApplication;

struct CliOptions {
    UpdateMode mode = UpdateMode::FirmwareAndImages;
    QStringList ports; // --port values, split at commas; empty: discover them
    // (each a name or path, or "serial:NUMBER" / "location:PATH": an adapter)
    QString payloadDir; // --payload, else the executable's folder unless installed (then empty)
    QString reportFile; // --report; empty: none
    bool quiet = false; // only the final table and errors
    bool check = false; // validate the payload and exit
    bool list = false; // "list": show the serial ports and exit
    bool json = false; // list --json
    QString logFile; // --log: a record line per unit appended here
    QString stationFile; // --station: the slots, by adapter
    bool events = false; // JSON event lines on standard output
    bool watch = false; // hands-free: run until Ctrl-C or SIGTERM
    QString packageFile; // --package (or "verify FILE"): an update package instead of a folder
    QStringList keyFiles; // --key: trusted public keys besides the standard folders
    bool verify = false; // "verify FILE": check the package, send nothing
    int timeoutSeconds = 0; // --timeout: the whole run's limit; 0: none
    bool requireConfirm = false; // an updated unit not seen running the update counts as failed
    // The records database: --records (the plant's server, else records.conf's);
    // "history" with its filters and --csv; "records sync"; "records import FILE".
    QString recordsUrl;
    bool history = false;
    bool recordsSync = false;
    QString importFile; // "records import FILE"; empty otherwise
    bool csv = false;
    QString serial, slot, stationName, result, updateVersion, since, until;

    // Reads the application's arguments. --help and --version print and exit
    // the program with status 0; anything else wrong returns false with error
    // set.
    bool parse(const QCoreApplication &app, QString &error);
};
