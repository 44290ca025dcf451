#include "payload/PackageManifest.h"

#include "payload/ShownText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>

#include <cmath>
#include <vector>

namespace {

// Whether one object of json (text QJsonDocument read without error) holds a
// key twice, at any depth; key is set to it, as QJsonObject reads it.
// QJsonObject keeps one of the two silently, while another reader may keep the
// other: what a reviewer sees would not be what is checked. A walk over the
// text, no recursion: it only needs to tell keys from values and find where
// each string ends, and never reads past the end, whatever the text.
bool duplicateKey(const QByteArray &json, QString &key)
{
    struct Level {
        bool object = false;
        bool keyNext = false; // inside an object, the next string is a key
        QSet<QString> keys;
    };
    std::vector<Level> levels;
    const int n = json.size();
    for (int i = 0; i < n; ++i) {
        const char c = json[i];
        if (c == '{' || c == '[') {
            levels.push_back(Level { c == '{', c == '{', {} });
        } else if (c == '}' || c == ']') {
            if (!levels.empty())
                levels.pop_back();
        } else if (c == ',') {
            if (!levels.empty() && levels.back().object)
                levels.back().keyNext = true;
        } else if (c == '"') {
            const int start = i;
            bool escaped = false;
            for (++i; i < n && json[i] != '"'; ++i)
                if (json[i] == '\\') {
                    escaped = true;
                    ++i; // the escaped character, "\"" included
                }
            if (levels.empty() || !levels.back().keyNext)
                continue;
            levels.back().keyNext = false;
            const QByteArray raw = json.mid(start, i + 1 - start);
            // An escaped key decoded as QJsonDocument decodes it ("\u0066iles"
            // is "files").
            key = escaped
                ? QJsonDocument::fromJson('[' + raw + ']').array().at(0).toString()
                : QString::fromUtf8(raw.mid(1, raw.size() - 2));
            if (levels.back().keys.contains(key))
                return true;
            levels.back().keys.insert(key);
        }
    }
    return false;
}

} // namespace

bool PackageManifest::parse(const QByteArray &bytes, PackageManifest &manifest, QString &error)
{
    QJsonParseError parseError {};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        error = QStringLiteral("is not a JSON object");
        return false;
    }
    QString twice;
    if (duplicateKey(bytes, twice)) {
        error = QStringLiteral("holds the key \"%1\" twice in one object; a manifest holds each "
                               "key once (another JSON reader could take the other one)")
                    .arg(ShownText::of(twice));
        return false;
    }
    const QJsonObject root = doc.object();
    const QJsonValue format = root.value(QStringLiteral("format"));
    if (!format.isDouble() || format.toInt(-1) != kFormat) {
        error = QStringLiteral("has format %1; this program reads format %2")
                    .arg(format.isDouble() ? QString::number(format.toDouble())
                                           : QStringLiteral("(none)"))
                    .arg(kFormat);
        return false;
    }
    manifest.format = kFormat;
    manifest.version = root.value(QStringLiteral("version")).toString();
    if (manifest.version.isEmpty()) {
        error = QStringLiteral("names no version");
        return false;
    }
    manifest.created
        = QDateTime::fromString(root.value(QStringLiteral("created")).toString(), Qt::ISODate);
    if (!manifest.created.isValid()) {
        error = QStringLiteral("has no valid \"created\" time");
        return false;
    }
    manifest.created = manifest.created.toUTC();
    manifest.modes.clear();
    const QJsonArray modes = root.value(QStringLiteral("modes")).toArray();
    for (const QJsonValue &m : modes)
        manifest.modes << m.toString();
    if (manifest.modes.isEmpty()) {
        error = QStringLiteral("names no mode it is for");
        return false;
    }
    manifest.unitVersion = root.value(QStringLiteral("unitVersion")).toString();

    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    manifest.files.clear();
    const QJsonValue files = root.value(QStringLiteral("files"));
    if (!files.isArray()) {
        error = QStringLiteral("has no list of files");
        return false;
    }
    const QJsonArray list = files.toArray();
    for (const QJsonValue &v : list) {
        const QJsonObject o = v.toObject();
        File f;
        f.path = o.value(QStringLiteral("path")).toString();
        // A whole number of bytes, within what a double holds exactly (and
        // far past any limit), before it is taken as an integer.
        const double size = o.value(QStringLiteral("size")).toDouble(-1);
        const bool whole = size >= 0 && size <= 9007199254740992.0 && size == std::floor(size);
        f.size = whole ? static_cast<qint64>(size) : -1;
        const QString sha = o.value(QStringLiteral("sha256")).toString();
        if (f.path.isEmpty() || !whole || !hex.match(sha).hasMatch()) {
            error = QStringLiteral("has a file entry without a path, a whole size and a SHA-256 "
                                   "(entry %1)")
                        .arg(manifest.files.size() + 1);
            return false;
        }
        if (manifest.file(f.path)) {
            error = QStringLiteral("names %1 twice").arg(f.path);
            return false;
        }
        f.sha256 = sha.toLatin1();
        manifest.files << f;
    }
    return true;
}

QByteArray PackageManifest::toJson() const
{
    QJsonArray list;
    for (const File &f : files)
        list.append(QJsonObject { { QStringLiteral("path"), f.path },
            { QStringLiteral("size"), double(f.size) },
            { QStringLiteral("sha256"), QString::fromLatin1(f.sha256) } });
    QJsonObject root { { QStringLiteral("format"), format }, { QStringLiteral("version"), version },
        { QStringLiteral("created"), created.toUTC().toString(Qt::ISODate) },
        { QStringLiteral("modes"), QJsonArray::fromStringList(modes) },
        { QStringLiteral("files"), list } };
    if (!unitVersion.isEmpty())
        root.insert(QStringLiteral("unitVersion"), unitVersion);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

const PackageManifest::File *PackageManifest::file(const QString &path) const
{
    for (const File &f : files)
        if (f.path == path)
            return &f;
    return nullptr;
}
