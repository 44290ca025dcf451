#pragma once
// The outcome of a zq-update run, unit by unit: the table printed at the end
// and the same as a JSON report (--report), written atomically.
#include "engine/UnitStatus.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

class UnitRunner;
struct CliOptions;

class CliReport
{
public:
    struct Stage {
        QString name; // stageName()
        double seconds = 0; // since the job started
    };
    struct Unit {
        QString port;
        QString slot; // the station's slot; empty when none
        QString adapterSerial;
        QString usbLocation;
        QString unitVersion; // "$MVERR"; empty when the unit never answered
        QString result; // "updated", "not updated", "connection lost", "interrupted"
        QString reason; // what was not done; empty when updated
        QString confirmation; // after "$X": "confirmed", "not confirmed" or "" (not asked)
        QString confirmedVersion; // what the unit then reported; empty when it did not answer
        QList<Stage> stages;
        double seconds = 0; // the unit's job, first step to its end
        int linesSent = 0;
        int resends = 0;
        int replies = 0;
        double averageReplyMs = 0;
        double maximumReplyMs = 0;
    };

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
    QList<Unit> units;

    // The result column: "updated", "updated, not confirmed", "not updated: the firmware", ...
    static QString resultText(const Unit &unit);
    // The report of a run with options: the tool's version, the mode and
    // where the payload comes from.
    static CliReport forRun(const CliOptions &options);
    // Unit index of runner as the report shows it, with its stages so far.
    static Unit unitOf(const UnitRunner &runner, int index, const QList<Stage> &stages);
    // A stage's name in the report: "versionQuery", "firmware", ...
    static QString stageName(UnitStatus::Stage stage);

    // One row per unit under a header, columns aligned.
    QString table() const;
    QByteArray json() const;
    // Writes json() to file whole or not at all (FileWrite::replaceWhole); false
    // with error set on failure, the file as it was.
    bool write(const QString &file, QString &error) const;
};
