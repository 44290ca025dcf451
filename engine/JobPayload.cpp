#include "CliPayload.h"

#include "payload/FirmwareFile.h"
#include "payload/ImageReader.h"
#include "payload/ReadLimits.h"
#include "payload/Settings.h"

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
    return file.startsWith(folder + QLatin1Char('/'));
}

} // namespace

CliPayload CliPayload::read(const QString &dir, int mode)
{
    CliPayload p;
    p.inputs.mode = mode;
    if (dir.isEmpty()) { // an installed program without --payload
        if (mode != DeleteImages)
            p.problem = QStringLiteral("no update given: name its folder with --payload DIR (an "
                                       "installed zq-update does not look beside itself).");
        return p;
    }
    p.inputs.firmwarePath = dir + QStringLiteral("/fw1.bin");
    const Settings settings = Settings::read(dir + QStringLiteral("/settings.json"));
    p.inputs.settingsProblem = settings.problem;
    p.updateVersion = settings.version;
    const QString fix = QStringLiteral(" Put the update's files in %1 or name their folder "
                                       "with --payload.")
                            .arg(dir);
    // Entries the protocol can't carry stop every mode that sends images;
    // none of their files is read.
    if (mode != DeleteImages && !settings.entryProblems.isEmpty()) {
        p.problem = settings.entryProblems.join(QStringLiteral("; ")) + QLatin1Char('.');
        return p;
    }
    qint64 pixelBytes = 0;
    int number = 0;
    for (const SettingsImage &entry : settings.images) {
        ++number;
        const QString path = dir + QLatin1Char('/') + entry.fileName;
        if (mode != DeleteImages && !inside(path, dir)) {
            p.problem = QStringLiteral("settings.json, image %1 (\"%2\"): FileName leads outside "
                                       "the payload folder %3.")
                            .arg(number)
                            .arg(entry.fileName, dir);
            return p;
        }
        p.inputs.images.append(ImageReader::loadImage(path, entry.imageName, entry.imageVersion));
        if (!p.inputs.images.last().problem.isEmpty())
            p.warnings << p.inputs.images.last().problem;
        pixelBytes += p.inputs.images.last().pixels.size();
        if (mode != DeleteImages && pixelBytes > ReadLimits::kPayloadImageBytes) {
            p.problem = QStringLiteral("the images settings.json names come to more than %1 "
                                       "bytes by image %2 (\"%3\"), more than one update carries.")
                            .arg(ReadLimits::kPayloadImageBytes)
                            .arg(number)
                            .arg(entry.fileName);
            p.inputs.images.clear();
            return p;
        }
    }
    if (mode == DeleteImages)
        return p; // erasing needs no payload

    if (mode == FirmwareAndImages) {
        // The bytes checked are the bytes sent and hashed: the job sends this
        // copy, not whatever fw1.bin holds later.
        const QString firmware = FirmwareFile::read(p.inputs.firmwarePath, p.firmware);
        if (!firmware.isEmpty()) {
            p.problem = firmware + QLatin1Char('.') + fix;
            return p;
        }
    }
    if (!settings.problem.isEmpty()) {
        p.problem = settings.problem + QLatin1Char('.') + fix;
        return p;
    }
    if (mode == ImagesOnly) {
        const bool sendable = std::any_of(p.inputs.images.cbegin(), p.inputs.images.cend(),
            [](const ImageRecord &i) { return i.problem.isEmpty() && !i.pixels.isEmpty(); });
        if (!sendable) {
            p.problem = QStringLiteral("settings.json names no image that can be sent");
            if (!p.warnings.isEmpty())
                p.problem += QStringLiteral(" (%1)").arg(p.warnings.join(QStringLiteral("; ")));
            p.problem += QLatin1Char('.') + fix;
        }
    }
    return p;
}
