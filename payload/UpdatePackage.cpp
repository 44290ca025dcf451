#include "payload/UpdatePackage.h"

#include "payload/InputFiles.h"
#include "payload/FileRead.h"
#include "payload/FirmwareFile.h"
#include "payload/ImageReader.h"
#include "payload/MinisignSignature.h"
#include "payload/PackageArchive.h"
#include "payload/PackageLimits.h"
#include "payload/TrustStore.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

// The job modes (engine/UpdateMode.h), as numbers: this layer sits below the engine.
enum Mode { FirmwareAndImages = 0, ImagesOnly = 1, DeleteImages = 2 };

QString hex256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

// The trusted keys, for a message: each key's id and where it was found.
QString trustedKeys(const TrustStore &trust)
{
    QStringList keys;
    for (const MinisignKey &k : trust.keys())
        keys << QStringLiteral("%1 from %2").arg(k.idText(), QDir::toNativeSeparators(k.source));
    return QStringLiteral("trusted keys: %1").arg(keys.join(QStringLiteral(", ")));
}

// The signature check: none when manifest.json is signed by a trusted key
// (signer set), else why not.
Problem checkSignature(const QByteArray &manifest, const QByteArray &sigText,
    const TrustStore &trust, const QString &name, UpdatePackage &p)
{
    const QString sigName = QString::fromLatin1(UpdatePackage::kSignatureName);
    MinisignSignature sig;
    QString error;
    if (sigText.size() > PackageLimits::kMaxSignatureBytes)
        return { Problem::TooLarge,
            QStringLiteral("%1: %2 is larger than a signature may be (%3 bytes, at most %4)")
                .arg(name, sigName)
                .arg(sigText.size())
                .arg(PackageLimits::kMaxSignatureBytes) };
    if (!MinisignSignature::parse(sigText, sig, error))
        return { Problem::Damaged, QStringLiteral("%1: %2 %3").arg(name, sigName, error) };
    const MinisignKey *key = trust.find(sig.keyId);
    // A key file that exists but cannot be read may hold the key: that is
    // the problem to name, not a missing key.
    if (!key && !trust.unreadable.isEmpty())
        return { Problem::Keys,
            QStringLiteral("%1: %2 is made with key %3, and a key file that may hold it "
                           "cannot be read by this user: %4. Make it readable (chmod a+r), or "
                           "run as a user who may read it")
                .arg(name, sigName, MinisignKey::idText(sig.keyId),
                    trust.unreadable.join(QStringLiteral(", "))) };
    if (!key)
        return { Problem::Signature,
            QStringLiteral("%1: %2 is made with key %3, which is not trusted here (%4)")
                .arg(name, sigName, MinisignKey::idText(sig.keyId),
                    trust.keys().isEmpty()
                        ? QStringLiteral("no trusted key was found: put the signer's .pub file "
                                         "in %1/keys, or name it with --key")
                              .arg(QDir::toNativeSeparators(TrustStore::systemFolder()))
                        : trustedKeys(trust)) };
    switch (sig.verify(manifest, *key)) {
    case MinisignSignature::Valid:
        p.isSigned = true;
        p.signerId = key->idText();
        p.signerKeyFile = key->source;
        return {};
    case MinisignSignature::BadComment:
        return { Problem::Signature,
            QStringLiteral("%1: the trusted comment of %2 was changed after signing")
                .arg(name, sigName) };
    case MinisignSignature::WrongKey:
        return { Problem::Signature,
            QStringLiteral("%1: %2 carries the id of the trusted key %3, but it does not "
                           "verify with that key: another key made it, or it was altered")
                .arg(name, sigName, key->idText()) };
    case MinisignSignature::BadSignature: break;
    }
    const QString signedName = sig.signedFileName();
    if (!signedName.isEmpty() && signedName != QLatin1String(UpdatePackage::kManifestName))
        return { Problem::Signature,
            QStringLiteral("%1: %2 is the signature of another file (%3), not of manifest.json")
                .arg(name, sigName, signedName) };
    return { Problem::Signature,
        QStringLiteral("%1: manifest.json does not match its signature: it was changed after "
                       "it was signed")
            .arg(name) };
}

} // namespace

QString UpdatePackage::modeName(int mode)
{
    switch (mode) {
    case FirmwareAndImages: return QStringLiteral("firmware-and-images");
    case ImagesOnly: return QStringLiteral("images");
    case DeleteImages: return QStringLiteral("erase-images");
    }
    return QString();
}

UpdatePackage UpdatePackage::open(const QString &path, const TrustStore &trust)
{
    const QString name = QFileInfo(path).fileName();
    UpdatePackage p;
    p.path = path;
    InputFiles::note(path);
    const QFileInfo info(path);
    if (!info.exists()) {
        p.problem = { Problem::NotFound, QStringLiteral("%1 is missing").arg(path) };
        return p;
    }
    if (!info.isFile()) {
        p.problem = { Problem::NotFound, QStringLiteral("%1 is not a file").arg(path) };
        return p;
    }
    // Read once, with a bound, without blocking: what is checked is what is
    // sent. (One byte more than the limit, so that check() sees it is over.)
    QByteArray bytes;
    QString error;
    qint64 size = 0;
    if (FileRead::regularFile(path, size, error) && size > PackageLimits::kMaxPackageBytes) {
        p.problem = { Problem::TooLarge,
            QStringLiteral("%1 is larger than a package may be (more than %2 bytes)")
                .arg(name)
                .arg(PackageLimits::kMaxPackageBytes) };
        return p;
    }
    if (!FileRead::read(path, PackageLimits::kMaxPackageBytes + 1, bytes, error)) {
        p.problem
            = { Problem::Unreadable, QStringLiteral("%1 cannot be read (%2)").arg(path, error) };
        return p;
    }
    UpdatePackage checked = check(bytes, name, trust);
    checked.path = path;
    return checked;
}

UpdatePackage UpdatePackage::check(
    const QByteArray &bytes, const QString &name, const TrustStore &trust)
{
    UpdatePackage p;
    p.path = name;
    if (bytes.size() > PackageLimits::kMaxPackageBytes) {
        p.problem = { Problem::TooLarge,
            QStringLiteral("%1 is larger than a package may be (more than %2 bytes)")
                .arg(name)
                .arg(PackageLimits::kMaxPackageBytes) };
        return p;
    }
    p.sha256 = hex256(bytes).toLatin1();

    PackageArchive archive;
    QString error;
    if (!PackageArchive::read(bytes, archive, error)) {
        p.problem = { Problem::Damaged, QStringLiteral("%1 %2").arg(name, error) };
        return p;
    }
    const QString manifestName = QString::fromLatin1(kManifestName);
    const QString sigName = QString::fromLatin1(kSignatureName);
    if (!archive.files.contains(manifestName)) {
        p.problem = { Problem::Damaged,
            QStringLiteral("%1 holds no manifest.json: it is not an update package").arg(name) };
        return p;
    }
    const QByteArray manifestBytes = archive.files.take(manifestName);
    if (manifestBytes.size() > PackageLimits::kMaxManifestBytes) {
        p.problem = { Problem::TooLarge,
            QStringLiteral(
                "%1: manifest.json is larger than a manifest may be (%2 bytes, at most %3)")
                .arg(name)
                .arg(manifestBytes.size())
                .arg(PackageLimits::kMaxManifestBytes) };
        return p;
    }

    // The signature first: nothing the manifest says counts before it is known
    // to be the one released.
    if (archive.files.contains(sigName)) {
        const Problem bad
            = checkSignature(manifestBytes, archive.files.take(sigName), trust, name, p);
        if (bad) {
            p.problem = bad;
            return p;
        }
    } else if (trust.requireSigned()) {
        QString text = QStringLiteral("%1 is not signed (it holds no %2), and the policy %3 "
                                      "requires signed packages")
                           .arg(name, sigName, QDir::toNativeSeparators(trust.policyFile()));
        if (!trust.keys().isEmpty())
            text += QStringLiteral(" (%1)").arg(trustedKeys(trust));
        p.problem = { Problem::Unsigned, text };
        return p;
    } else if (!trust.keys().isEmpty()) {
        // A station that trusts a key takes signed packages only: else removing
        // the signature would pass any package the key never signed.
        p.problem = { Problem::Unsigned,
            QStringLiteral("%1 is not signed (it holds no %2), and this station trusts "
                           "signing keys, so it takes signed packages only (%3)")
                .arg(name, sigName, trustedKeys(trust)) };
        return p;
    } else {
        p.warnings << QStringLiteral("%1 is not signed (it holds no %2): nothing shows that it is "
                                     "the update as released")
                          .arg(name, sigName);
    }

    if (!PackageManifest::parse(manifestBytes, p.manifest, error)) {
        p.problem = { Problem::Damaged, QStringLiteral("%1: manifest.json %2").arg(name, error) };
        return p;
    }
    for (const PackageManifest::File &f : std::as_const(p.manifest.files)) {
        const QString quoted = QLatin1Char('"') + f.path + QLatin1Char('"');
        const QString bad = PackageArchive::pathProblem(f.path);
        if (!bad.isEmpty()) {
            p.problem = { Problem::Damaged,
                QStringLiteral("%1: manifest.json names %2, which %3").arg(name, quoted, bad) };
            return p;
        }
        if (f.path == manifestName || f.path == sigName) {
            p.problem = { Problem::Damaged,
                QStringLiteral("%1: manifest.json lists itself or its signature").arg(name) };
            return p;
        }
        if (archive.folders.contains(f.path)) {
            p.problem = { Problem::Damaged,
                QStringLiteral("%1: %2 is a folder, but the manifest names a file there")
                    .arg(name, quoted) };
            return p;
        }
        if (!archive.files.contains(f.path)) {
            p.problem = { Problem::Damaged,
                QStringLiteral("%1: %2 is named in the manifest but missing from the package")
                    .arg(name, quoted) };
            return p;
        }
        const QByteArray &data = archive.files[f.path];
        if (data.size() != f.size) {
            p.problem = { Problem::Damaged,
                QStringLiteral("%1: %2 holds %3 bytes, the manifest says %4")
                    .arg(name, quoted)
                    .arg(data.size())
                    .arg(f.size) };
            return p;
        }
        if (hex256(data).toLatin1() != f.sha256) {
            p.problem = { Problem::Damaged,
                QStringLiteral("%1: %2 differs from the manifest (its SHA-256 is not the "
                               "one signed): the file was changed or damaged")
                    .arg(name, quoted) };
            return p;
        }
    }
    for (auto it = archive.files.cbegin(); it != archive.files.cend(); ++it) {
        if (!p.manifest.file(it.key())) {
            p.problem = { Problem::Damaged,
                QStringLiteral("%1: \"%2\" is in the package but not in the manifest")
                    .arg(name, it.key()) };
            return p;
        }
    }
    p.files = archive.files;

    // The payload, as the folder would give it.
    p.hasFirmware = p.files.contains(QStringLiteral("fw1.bin"));
    p.firmware = p.files.value(QStringLiteral("fw1.bin"));
    if (p.files.contains(QStringLiteral("settings.json")))
        p.settings = Settings::parse(p.files.value(QStringLiteral("settings.json")));
    else
        p.settings.problem = QStringLiteral("settings.json is missing from %1").arg(name);
    for (const SettingsImage &entry : std::as_const(p.settings.images)) {
        if (p.files.contains(entry.fileName)) {
            p.images << ImageReader::imageFromText(
                entry.fileName, p.files.value(entry.fileName), entry.imageName, entry.imageVersion);
        } else {
            ImageRecord missing;
            missing.fileName = entry.fileName;
            missing.imageName = entry.imageName;
            missing.imageVersion = entry.imageVersion;
            missing.problem
                = QStringLiteral("Image file %1 is missing from %2").arg(entry.fileName, name);
            p.images << missing;
        }
        if (!p.images.last().problem.isEmpty())
            p.warnings << p.images.last().problem;
    }
    return p;
}

Problem UpdatePackage::problemFor(int mode) const
{
    if (problem)
        return problem;
    const QString name = QFileInfo(path).fileName();
    if (!manifest.modes.contains(modeName(mode)))
        return { Problem::WrongMode,
            QStringLiteral("%1 is for %2, not for %3")
                .arg(name, manifest.modes.join(QStringLiteral(", ")), modeName(mode)) };
    if (mode == DeleteImages)
        return {};
    if (mode == FirmwareAndImages) {
        if (!hasFirmware)
            return { Problem::Firmware, QStringLiteral("%1 holds no fw1.bin").arg(name) };
        const Problem bad = FirmwareFile::sizeProblem(QStringLiteral("fw1.bin"), firmware.size());
        if (bad)
            return bad.reworded(QStringLiteral("%1: %2").arg(name, bad.message));
    }
    if (!settings.problem.isEmpty())
        return { Problem::Settings, QStringLiteral("%1: %2").arg(name, settings.problem) };
    if (mode == ImagesOnly
        && std::none_of(images.cbegin(), images.cend(),
            [](const ImageRecord &i) { return i.problem.isEmpty() && !i.pixels.isEmpty(); }))
        return { Problem::Images,
            QStringLiteral("%1: settings.json names no image that can be sent").arg(name) };
    return {};
}
