#pragma once
// The payload a job needs, read from its folder as the update dialog reads it
// (fw1.bin, settings.json, the images it names), and whether it is usable for
// the mode: checked before any port is opened.
#include "engine/Sequencer.h"

#include <QHash>
#include <QByteArray>
#include <QString>
#include <QStringList>

struct CliPayload {
    JobInputs inputs; // what the sequencer runs on
    QString updateVersion; // settings.json's "Version"
    QStringList warnings; // for the job log: images that will not be sent, ...
    QString problem; // why nothing can start in this mode; empty when usable
    // From an update package (--package); empty for a folder.
    QString packageFile;
    QString packageSha256; // hex
    QString signer; // the key id that signed it; empty when unsigned
    QHash<QString, QString> packageHashes; // path -> SHA-256 (hex) of each file in it
    QByteArray firmware; // fw1.bin as read and checked (firmware mode only)

    // Reads the payload in dir for mode; never fails (problem says what is wrong).
    static CliPayload read(const QString &dir, int mode);
};
