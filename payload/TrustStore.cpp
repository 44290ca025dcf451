#include "payload/TrustStore.h"

#include "payload/PackageLimits.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        unreadable << QStringLiteral("%1 (%2)").arg(QDir::toNativeSeparators(path), file.errorString());
}

void TrustStore::readPolicy(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return;
    policyPath = path;
    if (!file.open(QIODevice::ReadOnly)) {
        mustBeSigned = true;
        warnings << QStringLiteral(
            "the policy %1 cannot be read (%2); signed packages are required")
                        .arg(path, file.errorString());
        return;
    }
    const QByteArray bytes = file.read(PackageLimits::kMaxPolicyBytes + 1);
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
