#include "engine/JobPayload.h"

#include "payload/FirmwareFile.h"
#include "payload/ImageReader.h"
#include "payload/ReadLimits.h"
#include "payload/Settings.h"
#include "payload/UpdatePackage.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

namespace {

// Whether path, links resolved, lies inside the folder dir.
bool inside(const QString &path, const QString &dir)
{
    const QString folder = QFileInfo(dir).canonicalFilePath();
    const QString file = QFileInfo(path).canonicalFilePath();
    if (folder.isEmpty() || file.isEmpty())
        return true; // a missing file is reported as missing
    // The folder itself is inside: reading it says it is a folder.
    return file == folder || file.startsWith(folder + QLatin1Char('/'));
}

// Reads every image settings.json names into p, each one's problem a
// warning. checked: a file outside the folder, a damaged image file, or more
// image bytes than one update carries stop the reading (false, with p.problem set).
bool readImages(const Settings &settings, const QString &dir, bool checked, JobPayload &p)
{
    qint64 pixelBytes = 0;
    int number = 0;
    for (const SettingsImage &entry : settings.images) {
        ++number;
        const QString path = dir + QLatin1Char('/') + entry.fileName;
        if (checked && !inside(path, dir)) {
            p.problem = { Problem::Images,
                QStringLiteral("settings.json, image %1 (\"%2\"): FileName leads outside the "
                               "payload folder %3.")
                    .arg(number)
                    .arg(entry.fileName, dir) };
            return false;
        }
        p.inputs.images.append(ImageReader::loadImage(path, entry.imageName, entry.imageVersion));
        if (checked && p.inputs.images.last().damaged) {
            p.problem = { Problem::Images, p.inputs.images.last().problem + QLatin1Char('.') };
            p.inputs.images.clear();
            return false;
        }
        if (!p.inputs.images.last().problem.isEmpty())
            p.warnings << p.inputs.images.last().problem;
        pixelBytes += p.inputs.images.last().pixels.size();
        if (checked && pixelBytes > ReadLimits::kPayloadImageBytes) {
            p.problem = { Problem::Images,
                QStringLiteral("the images settings.json names come to more than %1 bytes by "
                               "image %2 (\"%3\"), more than one update carries.")
                    .arg(ReadLimits::kPayloadImageBytes)
                    .arg(number)
                    .arg(entry.fileName) };
            p.inputs.images.clear();
            return false;
        }
    }
    return true;
}

} // namespace

Problem JobPayload::imagesProblem(
    UpdateMode mode, const QStringList &entryProblems, const QList<ImageRecord> &images)
{
    if (mode == DeleteImages)
        return {};
    if (!entryProblems.isEmpty())
        return { Problem::Settings, entryProblems.join(QStringLiteral("; ")) };
    QStringList unsendable;
    for (const ImageRecord &image : images)
        if (!image.problem.isEmpty())
            unsendable << image.problem;
    if (!unsendable.isEmpty())
        return { Problem::Images,
            QStringLiteral("settings.json names %1 that cannot be sent: %2")
                .arg(unsendable.size() == 1 ? QStringLiteral("an image")
                                            : QStringLiteral("%1 images").arg(unsendable.size()),
                    unsendable.join(QStringLiteral("; "))) };
    if (mode == ImagesOnly && images.isEmpty())
        return { Problem::Images, QStringLiteral("settings.json names no image that can be sent") };
    return {};
}

JobPayload JobPayload::read(
    const QString &dir, UpdateMode mode, Reading reading, const QString &fix)
{
    const bool checked = reading == Checked && mode != DeleteImages;
    JobPayload p;
    p.inputs.mode = mode;
    if (dir.isEmpty()) { // an installed program without --payload
        if (mode != DeleteImages)
            p.problem = { Problem::NoUpdate,
                QStringLiteral("no update given: name its folder with --payload DIR (an "
                               "installed zq-update does not look beside itself).") };
        return p;
    }
    // A file or a name that is not there is no payload, for any mode: the
    // run would otherwise read files inside a file, or erase "with" a folder
    // that does not exist.
    const QFileInfo folderInfo(dir);
    if (!folderInfo.isDir()) {
        p.problem = { Problem::NotFound,
            folderInfo.exists()
                ? QStringLiteral("%1 is a file, not a folder: the payload is the folder that holds "
                                 "fw1.bin and settings.json.")
                      .arg(QDir::toNativeSeparators(dir))
                : QStringLiteral("the payload folder %1 does not exist.")
                      .arg(QDir::toNativeSeparators(dir)) };
        return p;
    }
    p.folder = dir;
    p.firmwarePath = dir + QStringLiteral("/fw1.bin");
    const Settings settings = Settings::read(dir + QStringLiteral("/settings.json"));
    if (!settings.problem.isEmpty())
        p.inputs.settingsProblem = { Problem::Settings, settings.problem };
    p.updateVersion = settings.version;
    // Entries the protocol can't carry stop every mode that sends images;
    // none of their files is read.
    if (checked && !settings.entryProblems.isEmpty()) {
        p.problem = { Problem::Settings,
            settings.entryProblems.join(QStringLiteral("; ")) + QLatin1Char('.') };
        return p;
    }
    if (reading == AsNamed && mode != DeleteImages)
        p.warnings += settings.entryProblems;
    if (!readImages(settings, dir, checked, p))
        return p;
    if (mode == DeleteImages)
        return p; // erasing needs no payload

    if (mode == FirmwareAndImages) {
        // Read once: the job sends these bytes and the records hash them,
        // whatever fw1.bin holds later.
        p.firmwareProblem = FirmwareFile::read(p.firmwarePath, p.inputs.firmware);
        p.inputs.firmwareProblem = p.firmwareProblem;
        if (p.firmwareProblem && checked) {
            p.problem
                = p.firmwareProblem.reworded(p.firmwareProblem.message + QLatin1Char('.') + fix);
            return p;
        }
    }
    if (reading == AsNamed)
        return p; // the window sends what can be sent
    const Problem images = p.inputs.settingsProblem
        ? p.inputs.settingsProblem
        : imagesProblem(mode, settings.entryProblems, p.inputs.images);
    if (images)
        p.problem = images.reworded(images.message + QLatin1Char('.') + fix);
    return p;
}

JobPayload JobPayload::fromPackage(const UpdatePackage &package, const QString &file, UpdateMode mode)
{
    JobPayload p;
    p.inputs.mode = mode;
    p.packageFile = file;
    p.packageSha256 = QString::fromLatin1(package.sha256);
    p.signer = package.signerId;
    for (const PackageManifest::File &f : package.manifest.files)
        p.packageHashes.insert(f.path, QString::fromLatin1(f.sha256));
    p.updateVersion = package.settings.version;
    p.inputs.images = package.images;
    if (!package.settings.problem.isEmpty())
        p.inputs.settingsProblem = { Problem::Settings, package.settings.problem };
    p.inputs.expectedVersion = package.manifest.unitVersion;
    if (mode == FirmwareAndImages)
        p.inputs.firmware = package.firmware; // checked against the manifest's digest
    const Problem images = imagesProblem(mode, package.settings.entryProblems, package.images);
    if (images)
        p.problem = images.reworded(
            QStringLiteral("%1: %2.").arg(QFileInfo(file).fileName(), images.message));
    return p;
}

UnitRecord::Update JobPayload::update() const
{
    const auto mode = static_cast<UpdateMode>(inputs.mode);
    if (packageFile.isEmpty())
        return UnitRecord::describe(mode, updateVersion, inputs.firmware, folder, inputs.images);
    UnitRecord::Update u;
    u.version = updateVersion;
    u.mode = mode;
    u.package = packageFile;
    u.packageSha256 = packageSha256;
    u.signer = signer;
    if (mode == FirmwareAndImages)
        u.firmware = { QStringLiteral("fw1.bin"), packageHashes.value(QStringLiteral("fw1.bin")) };
    if (mode != DeleteImages)
        for (const ImageRecord &image : inputs.images)
            u.images.append({ image.fileName, packageHashes.value(image.fileName) });
    return u;
}
