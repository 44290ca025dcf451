#pragma once
// The payload of a job, in one place for the window and the command line:
// read from a folder (fw1.bin, settings.json, the images it names) or taken
// from a checked update package, with what makes it unusable for the mode and
// what each unit's record says of the update.
#include "engine/Sequencer.h"
#include "engine/UnitRecord.h"
#include "engine/UpdateMode.h"
#include "payload/Problem.h"

#include <QHash>
#include <QByteArray>
#include <QString>
#include <QStringList>

struct UpdatePackage;

struct JobPayload {
    JobInputs inputs; // what the sequencer runs on, fw1.bin's bytes among them
    QString updateVersion; // settings.json's "Version"
    QStringList warnings; // for the job log: images that will not be sent, ...
    Problem problem; // why nothing can start in this mode; none when usable
    // Why fw1.bin can't be written (firmware mode), as FirmwareFile has it.
    Problem firmwareProblem;
    QString folder; // the folder read; empty for a package
    QString firmwarePath; // the fw1.bin read from the folder; empty for a package
    // From an update package; empty for a folder.
    QString packageFile;
    QString packageSha256; // hex
    QString signer; // the key id that signed it; empty when unsigned
    QHash<QString, QString> packageHashes; // path -> SHA-256 (hex) of each file in it

    // How a folder is read. Either way every file is read once, and fw1.bin
    // (firmware mode) into inputs.firmware: the job sends those bytes and the
    // records hash them. Checked (the command line): entries the protocol
    // can't carry, a file outside the folder, an image that can't be sent or
    // more image bytes than an update carries refuse the run. AsNamed (the
    // window): every entry of settings.json is read as it names it, and the
    // job sends what can be sent, as the window always did.
    enum Reading { Checked, AsNamed };
    // Reads the payload in dir for mode; never fails (problem says what is
    // wrong: NoUpdate, NotFound, Settings, Images, or FirmwareFile's). fix
    // ends the problems the folder's files can put right.
    static JobPayload read(const QString &dir, UpdateMode mode, Reading reading = Checked,
        const QString &fix = QString());
    // The payload of a checked package (file, as given) for mode, refused
    // (problem) as a folder read Checked would be: settings.json's entries the
    // protocol can't carry, an image that can't be sent.
    static JobPayload fromPackage(const UpdatePackage &package, const QString &file, UpdateMode mode);

    // Why settings.json's entries (Settings) and the images read for them
    // (Images) can't make a job of mode that updates the unit; none when they
    // can. Shared by folders read Checked and packages.
    static Problem imagesProblem(
        UpdateMode mode, const QStringList &entryProblems, const QList<ImageRecord> &images);

    // What every unit's record names: the update, its mode and the SHA-256
    // of the bytes the job sends (a folder's fw1.bin and images as read; a
    // package's from its manifest).
    UnitRecord::Update update() const;
};
