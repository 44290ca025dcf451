#pragma once
// The record of one unit's job, written when the job ends: when, where (host,
// slot, port, adapter), the unit's version before, the update (version, mode,
// the payload files' SHA-256), the result and what it cost. One JSON object,
// written as one line of a log (RecordLog) by the command line (--log) and the
// window (its history file).
#include "engine/UnitStatus.h"
#include "payload/UpdateMode.h"
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
        UpdateMode mode = UpdateMode::FirmwareAndImages;
        File firmware; // fw1.bin (firmware mode only)
        QList<File> images;
        QString package; // the update package's file; empty for a payload folder
        QString packageSha256; // its SHA-256, hex
        QString signer; // the key id that signed it; empty when unsigned
    };

    QDateTime time; // UTC, when the job ended
    QString host;
    QString toolVersion;
    QString slot; // the station's slot; empty when none
    QString port;
    QString adapterSerial;
    QString usbLocation;
    QString unitVersion; // before the update; empty when it never answered
    // After "$X": "confirmed", "not confirmed" or "" (not asked), and the
    // version the unit then reported (empty when it did not answer).
    QString confirmation;
    QString confirmedVersion;
    Update update;
    QString result; // "updated", "not updated", "connection lost", "interrupted"
    QString reason;
    double seconds = 0;
    int resends = 0;

    // A record for port's ended (or interrupted) job, time and host filled in.
    static UnitRecord of(const PortTest &port, const Update &update, bool interrupted);
    // The result word for a job's status.
    static QString resultOf(const UnitStatus &status, bool interrupted);
    // The confirmation word for a job's status: "confirmed", "not confirmed", "".
    static QString confirmationOf(const UnitStatus &status);
    // The update's files hashed as the job sends them: fw1.bin's bytes (in
    // firmware mode) and each image as read, named relative to the payload
    // folder dir.
    static Update describe(UpdateMode mode, const QString &version, const QByteArray &firmware,
        const QString &dir, const QList<ImageRecord> &images);
    // SHA-256 of bytes in hex.
    static QString sha256(const QByteArray &bytes);

    QJsonObject json() const;
    // json() on one line, with its line feed.
    QByteArray line() const;
};
