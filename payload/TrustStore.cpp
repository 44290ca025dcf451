#include "payload/TrustStore.h"

#include "payload/InputFiles.h"
#include "payload/FileRead.h"
#include "payload/PackageLimits.h"
#include "payload/ShownText.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

QString TrustStore::systemFolder()
{
#ifdef Q_OS_WIN
    const QString programData
        = qEnvironmentVariable("PROGRAMDATA", QStringLiteral("C:/ProgramData"));
    return QDir::fromNativeSeparators(programData) + QStringLiteral("/zq-updater");
#else
    return QStringLiteral("/etc/zq-updater");
#endif
}

QStringList TrustStore::standardKeyFolders()
{
    QStringList folders;
    folders << QCoreApplication::applicationDirPath() + QStringLiteral("/keys");
    folders << systemFolder() + QStringLiteral("/keys");
    const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (!config.isEmpty())
        folders << config + QStringLiteral("/zq-updater/keys");
    return folders;
}

TrustStore TrustStore::standard(const QStringList &keyFiles)
{
    TrustStore store;
    for (const QString &file : keyFiles)
        store.addKeyFile(file);
    const QStringList folders = standardKeyFolders();
    for (const QString &folder : folders)
        store.addKeyFolder(folder);
    store.readPolicy(systemFolder() + QStringLiteral("/policy.json"));
    return store;
}

void TrustStore::addKeyFile(const QString &path)
{
    MinisignKey key;
    QString error;
    if (!MinisignKey::read(path, key, error)) {
        problems << QStringLiteral("the key file %1 %2").arg(path, error);
        noteUnreadable(path);
        return;
    }
    searched << path;
    if (!find(key.id))
        trusted << key;
}

void TrustStore::addKeyFolder(const QString &folder)
{
    const QDir dir(folder);
    if (!dir.exists())
        return;
    searched << folder;
    const QStringList names = dir.entryList({ QStringLiteral("*.pub") }, QDir::Files, QDir::Name);
    for (int i = 0; i < names.size() && i < PackageLimits::kMaxKeyFiles; ++i) {
        MinisignKey key;
        QString error;
        const QString path = dir.filePath(names[i]);
        if (!MinisignKey::read(path, key, error)) {
            warnings << QStringLiteral("the key file %1 %2; it is not used").arg(path, error);
            noteUnreadable(path);
        } else if (!find(key.id)) {
            trusted << key;
        }
    }
}

void TrustStore::noteUnreadable(const QString &path)
{
    // Opened as every input is (without blocking): a key that is there but
    // can't be opened is named, not taken for a missing one.
    qint64 size = 0;
    QString error;
    if (FileRead::regularFile(path, size, error))
        return;
    const QString prefix = path + QStringLiteral(": ");
    if (error.startsWith(prefix))
        error = error.mid(prefix.size());
    unreadable << QStringLiteral("%1 (%2)").arg(QDir::toNativeSeparators(path), error);
}

void TrustStore::readPolicy(const QString &path)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return;
    InputFiles::note(path);
    policyPath = path;
    // Without blocking, a regular file only (a FIFO is named at once), bounded.
    QByteArray bytes;
    QString readError;
    if (!FileRead::read(path, PackageLimits::kMaxPolicyBytes, bytes, readError)) {
        mustBeSigned = true;
        warnings << QStringLiteral(
            "the policy %1 cannot be read (%2); signed packages are required")
                        .arg(path, readError);
        return;
    }
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (bytes.size() > PackageLimits::kMaxPolicyBytes || error.error != QJsonParseError::NoError
        || !doc.isObject()) {
        mustBeSigned = true;
        warnings << QStringLiteral(
            "the policy %1 is not a JSON object; signed packages are required")
                        .arg(path);
        return;
    }
    // Fails closed: any "requireSigned" but false requires signatures ("true",
    // 1 and null were once read as false), and so does a policy that names
    // only keys this program does not know (a misspelt "requireSigned").
    // Only {} or "requireSigned": false requires nothing.
    const QJsonObject policy = doc.object();
    const QString known = QStringLiteral("requireSigned");
    QStringList unknown;
    for (auto it = policy.constBegin(); it != policy.constEnd(); ++it)
        if (it.key() != known)
            unknown << QLatin1Char('"') + ShownText::of(it.key()) + QLatin1Char('"');
    const QJsonValue require = policy.value(known);
    if (require.isUndefined())
        mustBeSigned = !unknown.isEmpty();
    else
        mustBeSigned = !(require.isBool() && !require.toBool());
    if (!require.isUndefined() && !require.isBool())
        warnings << QStringLiteral("the policy %1 gives \"requireSigned\" a value that is not true "
                                   "or false; signed packages are required")
                        .arg(path);
    if (!unknown.isEmpty())
        warnings << QStringLiteral("the policy %1 holds %2, which this program does not know (it "
                                   "knows only \"requireSigned\"); %3")
                        .arg(path, unknown.join(QStringLiteral(", ")),
                            mustBeSigned ? QStringLiteral("signed packages are required")
                                         : QStringLiteral("signed packages are not required"));
}

const MinisignKey *TrustStore::find(const QByteArray &id) const
{
    for (const MinisignKey &key : trusted)
        if (key.id == id)
            return &key;
    return nullptr;
}
