#pragma once
// The payload of a job, in one place for the window and the command line:
// read from a folder (fw1.bin, settings.json, the images it names) or taken
// from a checked update package, with what makes it unusable for the mode and
// what each unit's record says of the update.
#include "engine/Sequencer.h"
#include "engine/UnitRecord.h"
#include "engine/UpdateMode.h"

#include <QHash>
#include <QByteArray>
#include <QString>
#include <QStringList>

struct UpdatePackage;

struct JobPayload {
    JobInputs inputs; // what the sequencer runs on
    QString updateVersion; // settings.json's "Version"
    QStringList warnings; // for the job log: images that will not be sent, ...
    QString problem; // why nothing can start in this mode; empty when usable
    // Why fw1.bin can't be written (firmware mode), as FirmwareFile words it.
    QString firmwareProblem;
    QString folder; // the folder read; empty for a package
    // From an update package; empty for a folder.
    QString packageFile;
    QString packageSha256; // hex
    QString signer; // the key id that signed it; empty when unsigned
    QHash<QString, QString> packageHashes; // path -> SHA-256 (hex) of each file in it
    QByteArray firmware; // fw1.bin as read and checked (folder, firmware mode only)

    // How a folder is read. Checked (the command line): entries the protocol
    // can't carry, a file outside the folder or more image bytes than an
    // update carries stop the images from being read, and fw1.bin is read
    // once, into firmware. AsNamed (the window): every entry of settings.json
    // is read as it names it, whatever it holds, and fw1.bin is only looked at;
    // the job sends what can be sent, and checks fw1.bin again itself.
    enum Reading { Checked, AsNamed };
    // Reads the payload in dir for mode; never fails (problem says what is
    // wrong). fix ends the problems the folder's files can put right.
    static JobPayload read(const QString &dir, UpdateMode mode, Reading reading = Checked,
        const QString &fix = QString());
    // The payload of a checked package (file, as given) for mode; fw1.bin is
    // read from firmwarePath (the package's, sealed in memory).
    static JobPayload fromPackage(const UpdatePackage &package, const QString &file,
        UpdateMode mode, const QString &firmwarePath);

    // What every unit's record names: the update, its mode and its files'
    // SHA-256 (a folder's files hashed as they are now, fw1.bin at
    // inputs.firmwarePath; a package's from its manifest).
    UnitRecord::Update update() const;
};
