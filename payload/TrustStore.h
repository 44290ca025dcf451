#pragma once
// The public keys whose signatures an update package may carry, and the
// policy that can require one. Keys are minisign .pub files from, in order:
// --key FILE, the keys/ folder beside the program (an update kit), the system
// folder (Linux /etc/zq-updater/keys, Windows %PROGRAMDATA%\zq-updater\keys)
// and the user's configuration folder (.../zq-updater/keys). The policy is
// policy.json in the system folder: {"requireSigned": true}. Once any key is
// trusted, or the policy requires it, an unsigned package is refused
// (UpdatePackage); a payload folder only under the policy.
#include "payload/MinisignKey.h"

#include <QList>
#include <QString>
#include <QStringList>

class TrustStore
{
public:
    // The folders keys are read from, in order (see above).
    static QStringList standardKeyFolders();
    // The system folder: /etc/zq-updater, or %PROGRAMDATA%\zq-updater.
    static QString systemFolder();

    // The standard store: the given key files, the standard folders and the
    // system folder's policy.
    static TrustStore standard(const QStringList &keyFiles);

    // Adds one key file; a file that is not a key is a problem (a --key the
    // user named must be usable).
    void addKeyFile(const QString &path);
    // Adds every *.pub in folder; a missing folder adds nothing. Files that
    // are not keys are noted in warnings.
    void addKeyFolder(const QString &folder);
    // Reads the policy file at path; a missing file or {} requires nothing,
    // "requireSigned": false neither. Any other "requireSigned" requires
    // signatures, and so does a policy that cannot be read or names only keys
    // this program does not know (it was meant to say something); those and
    // every unknown key are noted in warnings.
    void readPolicy(const QString &path);

    // The trusted key with this id, or nullptr.
    const MinisignKey *find(const QByteArray &id) const;

    const QList<MinisignKey> &keys() const
    {
        return trusted;
    }
    bool requireSigned() const
    {
        return mustBeSigned;
    }
    QString policyFile() const
    {
        return policyPath;
    }
    QStringList folders() const
    {
        return searched;
    }
    QStringList problems; // a key file named with --key that is no key
    QStringList warnings; // a file in a keys folder that is no key, an unreadable policy
    // Key files found that this user cannot open ("PATH (Permission denied)"):
    // any of them may hold the key a package was signed with.
    QStringList unreadable;

private:
    void noteUnreadable(const QString &path);

    QList<MinisignKey> trusted;
    QStringList searched;
    bool mustBeSigned = false;
    QString policyPath;
};
