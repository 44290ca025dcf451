#pragma once
// The outcome of a zq-update run, unit by unit: the table printed at the end
// and the same as a JSON report (--report), written atomically. Each unit is
// its UnitRecord, as --log and the window's history have it.
#include "engine/UnitRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

struct CliOptions;

class CliReport
{
public:
    QString toolVersion;
    QString mode; // the --mode value
    QString updateVersion; // settings.json's "Version"
    QString payloadDir;
    QString package; // --package; empty for a folder
    QString packageSha256; // hex
    QString signer; // the key id that signed the package; empty when unsigned
    QDateTime started;
    QDateTime ended;
    bool interrupted = false;
    QString refusal; // why the run did not start (exit 2); empty when it did
    int exitStatus = 0;
    QList<UnitRecord> units;

    // The report of a run with options: the tool's version, the mode and
    // where the payload comes from.
    static CliReport forRun(const CliOptions &options);

    // One row per unit under a header, columns aligned.
    QString table() const;
    QByteArray json() const;
    // Writes json() to file whole or not at all (FileWrite::replaceWhole); false
    // with error set on failure, the file as it was.
    bool write(const QString &file, QString &error) const;
};
