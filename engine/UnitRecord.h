#pragma once
// The record of one unit's job, written when the job ends: when, where (host,
// slot, port, adapter), the unit's version before, the update (version, mode,
// the payload files' SHA-256), the result, the stages and what it cost. One
// JSON object, the one form of a unit's outcome: a line of a log (RecordLog)
// for the command line (--log) and the window (its history file), and a unit
// of the command line's report (--report). UnitRunner makes it.
#include "engine/UnitStatus.h"
#include "engine/UpdateMode.h"
#include "payload/ImageRecord.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

class PortTest;

struct UnitRecord {
    struct File {
        QString name; // as settings.json names it, or "fw1.bin"
        QString sha256; // hex; empty when the file could not be read
    };
    // What every unit of a run gets: the update and its files.
    struct Update {
        QString version; // settings.json's "Version"
        UpdateMode mode = FirmwareAndImages; // named as packages name it (UpdatePackage::modeName)
        File firmware; // fw1.bin (firmware mode only)
        QList<File> images;
        QString package; // the update package's file; empty for a payload folder
        QString packageSha256; // its SHA-256, hex
        QString signer; // the key id that signed it; empty when unsigned
    };

    // A stage the job reached, and when: seconds since the unit was added.
    struct Stage {
        QString name; // stageName()
        double seconds = 0;
    };

    QDateTime time; // UTC, when the job ended
    QString host;
    QString toolVersion;
    QString slot; // the station's slot; empty when none
    QString port; // as given, or the scanned adapter's device path
    QString adapterSerial;
    QString usbLocation;
    QString unitVersion; // before the update; empty when it never answered
    // After "$X": "confirmed", "not confirmed" or "" (not asked), and the
    // version the unit then reported (empty when it did not answer).
    QString confirmation;
    QString confirmedVersion;
    Update update;
    QString result; // "updated", "not updated", "connection lost", "interrupted"
    QString reason; // what was not done; empty when updated
    QList<Stage> stages;
    double seconds = 0; // the unit's job, from its adding to its end
    int linesSent = 0;
    int resends = 0;
    int replies = 0;
    double averageReplyMs = 0;
    double maximumReplyMs = 0; // the slowest answer (UnitRunner's)

    // A record of port's ended (or interrupted) job: the time (now), host,
    // tool, the unit's versions, the update, the result and the line figures.
    // The rest (the port's name, slot, adapter, stages, seconds, the slowest
    // answer, and the time the job ended) is the runner's (UnitRunner::recordOf).
    static UnitRecord of(const PortTest &port, const Update &update, bool interrupted);
    // The result word for a job's status.
    static QString resultOf(const UnitStatus &status, bool interrupted);
    // The confirmation word for a job's status: "confirmed", "not confirmed", "".
    static QString confirmationOf(const UnitStatus &status);
    // A stage's name in the records: "versionQuery", "firmware", ...
    static QString stageName(UnitStatus::Stage stage);
    // The update's files hashed as the job sends them: fw1.bin's bytes (in
    // firmware mode) and each image as read, named relative to the payload
    // folder dir.
    static Update describe(UpdateMode mode, const QString &version, const QByteArray &firmware,
        const QString &dir, const QList<ImageRecord> &images);
    // SHA-256 of bytes in hex.
    static QString sha256(const QByteArray &bytes);

    // The result as a table shows it: "updated", "updated, not confirmed",
    // "not updated: the firmware", ...
    QString resultText() const;

    QJsonObject json() const;
    // json() on one line, with its line feed.
    QByteArray line() const;
};
