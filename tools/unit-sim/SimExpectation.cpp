#include "SimExpectation.h"

#include "payload/ImageReader.h"
#include "payload/Settings.h"

#include <QFile>

SimExpectation SimExpectation::fromPayloadDir(const QString &dir, QString *problem)
{
    SimExpectation e;
    QStringList problems;
    QFile fw(dir + QStringLiteral("/fw1.bin"));
    if (fw.open(QIODevice::ReadOnly)) {
        e.firmware = fw.readAll();
        e.hasFirmware = true;
    } else {
        problems << QStringLiteral("no fw1.bin in %1").arg(dir);
    }

    const QString settingsPath = dir + QStringLiteral("/settings.json");
    if (QFile::exists(settingsPath)) {
        const Settings settings = Settings::read(settingsPath);
        e.hasImages = true;
        e.version = settings.version;
        for (const SettingsImage &si : settings.images) {
            const ImageRecord r = ImageReader::loadImage(
                dir + QLatin1Char('/') + si.fileName, si.imageName, si.imageVersion);
            if (!r.problem.isEmpty())
                problems << r.problem;
            e.images.append(SimExpectedImage { si.imageName, si.imageVersion, r.pixels });
        }
    } else {
        problems << QStringLiteral("no settings.json in %1").arg(dir);
    }
    if (problem)
        *problem = problems.join(QStringLiteral("; "));
    return e;
}
