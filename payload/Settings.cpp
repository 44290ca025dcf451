#include "payload/Settings.h"

#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace {
const char *const kDefaultVersion = "D.02n";
}

Settings Settings::parse(const QByteArray &bytes)
{
    Settings s;
    QJsonParseError error {};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (bytes.isEmpty())
        s.problem = QStringLiteral("settings.json is empty");
    else if (error.error != QJsonParseError::NoError)
        s.problem = QStringLiteral("settings.json is not valid JSON (%1 at byte %2)")
                        .arg(error.errorString())
                        .arg(error.offset);
    else if (!doc.isObject())
        s.problem = QStringLiteral("settings.json does not hold a JSON object");

    const QJsonObject root = doc.object();
    s.version = root.value(QStringLiteral("Version")).toString();
    if (s.version.isEmpty())
        s.version = QString::fromLatin1(kDefaultVersion);

    const QJsonArray images = root.value(QStringLiteral("Images")).toArray();
    for (const QJsonValue &element : images) {
        const QJsonObject entry = element.toObject();
        SettingsImage image;
        image.fileName = entry.value(QStringLiteral("FileName")).toString();
        image.imageName = entry.value(QStringLiteral("ImageName")).toInt(0);
        image.imageVersion = entry.value(QStringLiteral("ImageVersion")).toInt(0);
        s.images.append(image);
    }
    return s;
}

Settings Settings::read(const QString &path)
{
    qDebug() << "Settings file" << path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        Settings s = parse(QByteArray());
        s.problem = QStringLiteral("settings.json is missing or unreadable (%1): %2")
                        .arg(path, file.errorString());
        return s;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    return parse(bytes);
}
