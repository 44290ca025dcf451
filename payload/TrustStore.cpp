#include "payload/TrustStore.h"

#include "payload/FileRead.h"
#include "payload/PackageLimits.h"

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
        if (!MinisignKey::read(path, key, error))
            warnings << QStringLiteral("the key file %1 %2; it is not used").arg(path, error);
        else if (!find(key.id))
            trusted << key;
    }
}

void TrustStore::readPolicy(const QString &path)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return;
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
    mustBeSigned = doc.object().value(QStringLiteral("requireSigned")).toBool(false);
}

const MinisignKey *TrustStore::find(const QByteArray &id) const
{
    for (const MinisignKey &key : trusted)
        if (key.id == id)
            return &key;
    return nullptr;
}
