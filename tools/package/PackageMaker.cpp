#include "PackageMaker.h"

#include "FolderNames.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>

namespace {

// Whether the file rel (with its bytes) is a package or a part of one: a
// package left in the folder, or a manifest and signature from --write-manifest.
// Packed in, it would travel inside the next package, or clash with its own
// manifest.json.
bool isPackageOutput(const QString &rel, const QByteArray &data)
{
    static const char kManifestEntry[] = "manifest.json"; // a package's first tar entry
    return rel.endsWith(QLatin1String(".zqpkg"), Qt::CaseInsensitive)
        || rel == QLatin1String("manifest.json") || rel == QLatin1String("manifest.json.minisig")
        || (data.size() >= 512 && data.startsWith(QByteArray(kManifestEntry, sizeof kManifestEntry)));
}

} // namespace

bool PackageMaker::collect(const QString &dir, QList<TarEntry> &files, QString &error)
{
    const QDir root(QDir(dir).absolutePath()); // relative names are taken from an absolute root
    if (!root.exists()) {
        error = QStringLiteral("%1 is not a folder").arg(dir);
        return false;
    }
    // Qt's listing leaves such a name out: it is looked for first.
    const QStringList notUtf8 = FolderNames::notUtf8(root.path());
    if (!notUtf8.isEmpty()) {
        error = QStringLiteral("%1: the file name is not UTF-8; a package names its files in UTF-8. "
                               "Rename it")
                    .arg(notUtf8.first());
        return false;
    }
    QDirIterator it(root.path(),
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString rel = root.relativeFilePath(path);
        if (info.isSymLink()) {
            error = QStringLiteral("%1 is a link; a package holds files only").arg(rel);
            return false;
        }
        if (info.isDir())
            continue;
        if (!info.isFile()) {
            error = QStringLiteral("%1 is not a regular file").arg(rel);
            return false;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("%1 cannot be read (%2)").arg(rel, file.errorString());
            return false;
        }
        TarEntry e;
        e.path = rel;
        e.data = file.readAll();
        if (isPackageOutput(rel, e.data)) {
            error = QStringLiteral("%1 is a package or a part of one (an earlier output): a "
                                   "package is never packed into another. Move it out of %2")
                        .arg(rel, dir);
            return false;
        }
        files << e;
    }
    std::sort(files.begin(), files.end(),
        [](const TarEntry &a, const TarEntry &b) { return a.path.toUtf8() < b.path.toUtf8(); });
    return true;
}

PackageManifest PackageMaker::describe(const QList<TarEntry> &files, const QString &version,
    const QDateTime &created, const QStringList &modes, const QString &unitVersion)
{
    PackageManifest m;
    m.version = version;
    m.created = created.toUTC();
    m.modes = modes;
    m.unitVersion = unitVersion;
    for (const TarEntry &e : files)
        m.files.append({ e.path, e.data.size(),
            QCryptographicHash::hash(e.data, QCryptographicHash::Sha256).toHex() });
    return m;
}

QByteArray PackageMaker::sign(
    const QByteArray &manifest, const QString &secretKey, QString &error, bool legacy)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("manifest.json"));
    QFile file(path);
    if (!dir.isValid() || !file.open(QIODevice::WriteOnly)
        || file.write(manifest) != manifest.size()) {
        error = QStringLiteral("cannot write the manifest to sign (%1)").arg(file.errorString());
        return QByteArray();
    }
    file.close();
    QProcess minisign;
    minisign.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    minisign.setInputChannelMode(QProcess::ForwardedInputChannel);
    QStringList args { QStringLiteral("-S"), QStringLiteral("-s"), secretKey, QStringLiteral("-m"),
        path };
    if (legacy)
        args << QStringLiteral("-l");
    minisign.start(QStringLiteral("minisign"), args);
    if (!minisign.waitForStarted()) {
        error
            = QStringLiteral("cannot run minisign (%1): install it (Debian: apt install minisign)")
                  .arg(minisign.errorString());
        return QByteArray();
    }
    minisign.waitForFinished(-1);
    if (minisign.exitStatus() != QProcess::NormalExit || minisign.exitCode() != 0) {
        error = QStringLiteral("minisign could not sign the manifest with %1").arg(secretKey);
        return QByteArray();
    }
    QFile sig(path + QStringLiteral(".minisig"));
    if (!sig.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("minisign wrote no signature");
        return QByteArray();
    }
    return sig.readAll();
}

QByteArray PackageMaker::build(const QByteArray &manifest, const QByteArray &signature,
    const QList<TarEntry> &files, QString &error)
{
    QList<TarEntry> entries;
    entries.append({ QStringLiteral("manifest.json"), manifest });
    if (!signature.isEmpty())
        entries.append({ QStringLiteral("manifest.json.minisig"), signature });
    entries += files;
    return TarWriter::write(entries, error);
}
