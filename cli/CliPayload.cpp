#include "CliPayload.h"

#include "payload/FirmwareFile.h"
#include "payload/ImageReader.h"
#include "payload/Settings.h"

#include <algorithm>

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
    for (const SettingsImage &entry : settings.images) {
        p.inputs.images.append(ImageReader::loadImage(
            dir + QLatin1Char('/') + entry.fileName, entry.imageName, entry.imageVersion));
        if (!p.inputs.images.last().problem.isEmpty())
            p.warnings << p.inputs.images.last().problem;
    }
    if (mode == DeleteImages)
        return p; // erasing needs no payload

    const QString fix = QStringLiteral(" Put the update's files in %1 or name their folder "
                                       "with --payload.")
                            .arg(dir);
    if (mode == FirmwareAndImages) {
        const QString firmware = FirmwareFile::problem(p.inputs.firmwarePath);
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
        if (!sendable)
            p.problem = QStringLiteral("settings.json names no image that can be sent.") + fix;
    }
    return p;
}
