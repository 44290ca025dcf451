#pragma once
// Where a job's payload comes from: an update package (checked in memory with
// the trusted keys and the policy, its payload checked as a folder's is) or a
// payload folder, and the one signing policy for both front ends. The window
// opens one (nothing open means the program's own folder) and shows it before
// a job starts; the command line opens --package or --payload.
#include "engine/UpdateMode.h"
#include "payload/Problem.h"
#include "payload/UpdatePackage.h"

#include <QString>
#include <QStringList>

class TrustStore;

struct UpdateSource {
    QString path; // the package file or the folder
    bool isPackage = false;
    UpdatePackage package; // the checked package (isPackage)
    Problem problem; // why it can't be used at all; none when it can
    QStringList warnings; // unsigned, a keys-folder file that is no key, ...
    bool requireSigned = false; // the policy requires signed packages
    QString policyFile;
    QStringList policyNotes; // what is wrong with the policy file (it then requires signatures)
    Problem keysProblem; // a key named with --key that is no key (Keys)

    // What a job reads when nothing was opened: the program's folder
    // (PayloadDir::besideProgram), or no source at all (an empty path) for a
    // program installed in a system folder. The window and its dialogs both
    // take it from here.
    static UpdateSource programFolder();
    // Opens path: a .zqpkg file (or any file) as a package, a folder as a
    // payload folder. Package checks use the standard trusted keys.
    static UpdateSource open(const QString &path);
    // The same with the given keys and policy.
    static UpdateSource open(const QString &path, const TrustStore &trust);
    // path as a payload folder, named as given. The policy on folders: a
    // folder is no signed package, so a job that sends from it is refused
    // while the policy requires signed packages (problemFor), and otherwise
    // runs with a warning saying so.
    static UpdateSource openFolder(const QString &path, const TrustStore &trust);
    // path as a package, whatever it is, named as given. A package whose
    // payload can't make a job of a mode its manifest names is refused, and so
    // is any package while a key named with --key is no key.
    static UpdateSource openPackage(const QString &path, const TrustStore &trust);
    // Why a job of mode can't run from the checked package: what the package
    // says of itself, then its settings.json and images as a folder's are
    // checked (JobPayload::imagesProblem). None when it can.
    static Problem packageProblem(const UpdatePackage &package, UpdateMode mode);

    // Why a job of mode can't run from it; none when it can. Erasing sends
    // nothing from a folder and is never refused for one; any other job from
    // a folder is refused for a named key that is no key (Keys) and when the
    // policy requires signed packages (Unsigned).
    Problem problemFor(UpdateMode mode) const;
    // The folder files are read from (a folder source); empty for a package.
    QString folder() const
    {
        return isPackage ? QString() : path;
    }
    // For the main window: the update's version, its signer (or "unsigned")
    // and its files, a line each; their control characters shown as \xNN.
    QString summary() const;
};
