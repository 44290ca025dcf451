#include "payload/Settings.h"

#include "payload/FileRead.h"
#include "payload/ReadLimits.h"

#include <QDebug>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>
#include <cmath>

namespace {
const char *const kDefaultVersion = "D.02n";

// An image header carries its name and version in one byte each.
constexpr int kLargestNumber = 255;

// Why the entry's number key can't go into an image header; empty when it can
// (or is absent: 0, as before).
QString numberProblem(const QJsonObject &entry, const QString &key)
{
    const QJsonValue value = entry.value(key);
    if (value.isUndefined())
        return QString();
    const double number = value.toDouble(-1);
    if (!value.isDouble() || number < 0 || number > kLargestNumber
        || number != std::floor(number)) {
        const QString shown = value.isString()
            ? QStringLiteral("\"%1\" (a text)").arg(value.toString().left(40))
            : QString::fromUtf8(QJsonDocument(QJsonArray { value }).toJson(QJsonDocument::Compact))
                  .mid(1)
                  .chopped(1)
                  .left(40);
        return QStringLiteral("%1 %2 is not a whole number from 0 to %3").arg(key, shown).arg(kLargestNumber);
    }
    return QString();
}

// Why a FileName can't name a file inside the payload folder; empty when it can.
QString fileNameProblem(const QJsonValue &value)
{
    if (!value.isString())
        return QStringLiteral("FileName is missing or not a text");
    const QString name = value.toString();
    if (name.trimmed().isEmpty())
        return QStringLiteral("FileName is blank");
    if (name.contains(QChar(0)))
        return QStringLiteral("FileName holds a NUL character");
    if (name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1Char('\\'))
        || (name.size() > 1 && name.at(1) == QLatin1Char(':')))
        return QStringLiteral("FileName \"%1\" is absolute; name a file inside the payload folder").arg(name);
    const QStringList parts = name.split(QRegularExpression(QStringLiteral("[/\\\\]")));
    if (parts.contains(QStringLiteral("..")))
        return QStringLiteral("FileName \"%1\" climbs out of the payload folder with \"..\"").arg(name);
    // ".", "images/" and "images/.": a folder, never an image file.
    if (parts.last().isEmpty() || parts.last() == QLatin1String("."))
        return QStringLiteral("FileName \"%1\" names a folder, not an image file").arg(name);
    return QString();
}

} // namespace

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
    const QJsonValue version = root.value(QStringLiteral("Version"));
    s.version = version.toString();
    if (!version.isUndefined() && !version.isString()) {
        // A number or the like is shown as written, never as the default:
        // the record must not name a version the payload does not give.
        s.version = QString::fromUtf8(QJsonDocument(QJsonArray { version }).toJson(QJsonDocument::Compact))
                        .mid(1)
                        .chopped(1)
                        .left(40);
        s.entryProblems << QStringLiteral("settings.json: Version %1 is not a text; write it in "
                                          "quotes, as \"D.03a\"")
                               .arg(s.version);
    }
    if (s.version.isEmpty())
        s.version = QString::fromLatin1(kDefaultVersion);

    const QJsonArray images = root.value(QStringLiteral("Images")).toArray();
    if (images.size() > ReadLimits::kImageEntries)
        s.entryProblems << QStringLiteral("settings.json names %1 images, more than the %2 "
                                          "one update can carry; only the first %2 were read")
                               .arg(images.size())
                               .arg(ReadLimits::kImageEntries);
    int number = 0;
    QHash<int, int> entryOfName; // ImageName -> the first entry with it
    for (const QJsonValue &element : images) {
        if (++number > ReadLimits::kImageEntries)
            break;
        const QJsonObject entry = element.toObject();
        SettingsImage image;
        image.fileName = entry.value(QStringLiteral("FileName")).toString();
        image.imageName = entry.value(QStringLiteral("ImageName")).toInt(0);
        image.imageVersion = entry.value(QStringLiteral("ImageVersion")).toInt(0);
        s.images.append(image);
        QStringList why;
        why << fileNameProblem(entry.value(QStringLiteral("FileName")))
            << numberProblem(entry, QStringLiteral("ImageName"))
            << numberProblem(entry, QStringLiteral("ImageVersion"));
        why.removeAll(QString());
        // The unit keeps one image a number: a second entry with the same
        // ImageName replaces the first on the unit, so one of the two was
        // never meant to be sent as it stands.
        if (why.isEmpty() && entry.contains(QStringLiteral("ImageName"))) {
            const int first = entryOfName.value(image.imageName, 0);
            if (first > 0)
                why << QStringLiteral("ImageName %1 is also image %2's: the unit keeps one image "
                                      "a number, and this one would replace it")
                           .arg(image.imageName)
                           .arg(first);
            else
                entryOfName.insert(image.imageName, number);
        }
        if (!why.isEmpty())
            s.entryProblems << QStringLiteral("settings.json, image %1%2: %3")
                                   .arg(number)
                                   .arg(image.fileName.isEmpty()
                                           ? QString()
                                           : QStringLiteral(" (\"%1\")").arg(image.fileName.left(80)),
                                       why.join(QStringLiteral("; ")));
    }
    return s;
}

Settings Settings::read(const QString &path)
{
    qDebug() << "Settings file" << path;
    QByteArray bytes;
    QString error;
    if (!FileRead::read(path, ReadLimits::kSettingsBytes, bytes, error)) {
        Settings s = parse(QByteArray());
        s.problem = QStringLiteral("settings.json is missing or unreadable (%1)").arg(error);
        return s;
    }
    // As QIODevice::Text read it: CR LF as LF.
    bytes.replace("\r\n", "\n");
    return parse(bytes);
}
