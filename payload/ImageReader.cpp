#include "payload/ImageReader.h"

#include "payload/FileRead.h"
#include "payload/ReadLimits.h"

#include "payload/ConditionalSections.h"
#include "link/Diagnostics.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QVarLengthArray>
#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

enum CharClass : quint8 { Other, Alnum, Comma, Close, Open, Slash, Hash, Newline, Blank };

struct Tables {
    quint8 kind[256];
    quint8 digit[256]; // hexadecimal value; 0 for a letter that is no hex digit
};

const Tables &tables()
{
    static const Tables t = [] {
        Tables m {};
        for (int c = 0; c < 256; ++c) {
            quint8 kind = Other;
            quint8 digit = 0;
            if (c >= '0' && c <= '9') {
                kind = Alnum;
                digit = static_cast<quint8>(c - '0');
            } else if (c >= 'a' && c <= 'z') {
                kind = Alnum;
                digit = c <= 'f' ? static_cast<quint8>(c - 'a' + 10) : 0;
            } else if (c >= 'A' && c <= 'Z') {
                kind = Alnum;
                digit = c <= 'F' ? static_cast<quint8>(c - 'A' + 10) : 0;
            } else if (c == ',') {
                kind = Comma;
            } else if (c == '}') {
                kind = Close;
            } else if (c == '{') {
                kind = Open;
            } else if (c == '/') {
                kind = Slash;
            } else if (c == '#') {
                kind = Hash;
            } else if (c == '\n') {
                kind = Newline;
            } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
                kind = Blank;
            }
            m.kind[c] = kind;
            m.digit[c] = digit;
        }
        return m;
    }();
    return t;
}

// When a C comment starts at p, returns the position of its last byte (the
// "/" of "*/", or the byte before the line end of a "//" comment; n - 1 when
// the text ends first); otherwise -1.
int commentEnd(const char *s, int n, int p)
{
    if (p + 1 >= n || s[p] != '/')
        return -1;
    if (s[p + 1] == '/') {
        const void *newline = std::memchr(s + p, '\n', static_cast<size_t>(n - p));
        return newline ? static_cast<int>(static_cast<const char *>(newline) - s) - 1 : n - 1;
    }
    if (s[p + 1] == '*') {
        for (int q = p + 2; q + 1 < n; ++q) {
            if (s[q] == '*' && s[q + 1] == '/')
                return q + 1;
        }
        return n - 1;
    }
    return -1;
}

// The end of the preprocessor line whose "#" is at p: the position of the line
// end that closes it (escaped line ends and comments continue it), or n.
int directiveEnd(const char *s, int n, int p)
{
    int q = p + 1;
    while (q < n) {
        const char c = s[q];
        if (c == '\n')
            return q;
        if (c == '\\' && q + 1 < n && s[q + 1] == '\n') {
            q += 2;
        } else if (c == '\\' && q + 2 < n && s[q + 1] == '\r' && s[q + 2] == '\n') {
            q += 3;
        } else if (c == '/' && q + 1 < n && s[q + 1] == '*') {
            q = commentEnd(s, n, q) + 1;
        } else {
            ++q;
        }
    }
    return n;
}

// Position of the first "{" at or after p outside comments, or n.
int nextOpenBrace(const char *s, int n, int p)
{
    for (; p < n; ++p) {
        if (s[p] == '{')
            return p;
        if (s[p] == '/') {
            const int e = commentEnd(s, n, p);
            if (e >= 0)
                p = e;
        }
    }
    return n;
}

QString displayName(const ImageRecord &record)
{
    return record.fileName.isEmpty() ? QStringLiteral("(unnamed)")
                                     : QDir::toNativeSeparators(record.fileName);
}

// Whether cf names a colour format the unit cannot show. LVGL 9 names its formats
// LV_COLOR_FORMAT_*, LVGL 8 LV_IMG_CF_*; the unit shows 16-bit 5-6-5 colour, low byte first.
bool formatRefused(const QByteArray &cf)
{
    if (cf.startsWith("LV_COLOR_FORMAT_"))
        return cf != "LV_COLOR_FORMAT_RGB565" && cf != "LV_COLOR_FORMAT_NATIVE";
    if (cf.startsWith("LV_IMG_CF_"))
        return cf != "LV_IMG_CF_TRUE_COLOR";
    return false;
}

// The refusal for a damaged value that begins at position at of text: the
// file, the line and the value (its letters and digits, at most 16).
QString damagedValue(const ImageRecord &record, const QByteArray &text, int at)
{
    const int line = 1 + static_cast<int>(std::count(text.constBegin(), text.constBegin() + at, '\n'));
    QByteArray value; // its letters and digits up to the next separator
    for (int q = at; q < text.size() && value.size() < 16; ++q) {
        const char c = text[q];
        if (c == ',' || c == '}' || c == '\n' || c == '/')
            break;
        if (std::isalnum(static_cast<unsigned char>(c)))
            value += c;
    }
    return QStringLiteral("Image file %1, line %2: the value \"%3\" is no byte (one is written "
                          "0x and two hexadecimal digits): the file is damaged; the image is not sent")
        .arg(displayName(record))
        .arg(line)
        .arg(QString::fromLatin1(value));
}

// The descriptor's fields that the reader uses.
struct Descriptor {
    bool haveWidth = false, haveHeight = false;
    int width = 0, height = 0, stride = 0;
    QByteArray colorFormat;

    void apply(const QByteArray &key, const QByteArray &value)
    {
        if (key == ".header.w") {
            width = value.toInt(nullptr, 10);
            haveWidth = true;
        } else if (key == ".header.h") {
            height = value.toInt(nullptr, 10);
            haveHeight = true;
        } else if (key == ".header.stride") {
            stride = value.toInt(nullptr, 10);
        } else if (key == ".header.cf") {
            colorFormat = value;
        }
    }
};

} // namespace

QString ImageReader::parseImageSource(const QByteArray &text, ImageRecord &record)
{
    const Tables &t = tables();
    const char *s = text.constData();
    const int n = text.size();
    const int start = record.pixels.size();
    // The files in use write six characters per value ("0x%02x, ").
    record.pixels.reserve(start + n / 6 + 16);

    // Phase 1: the byte array, from the first "{" to the first "}" after it.
    // A token is the run of letters and digits since the last "," or "}";
    // only one that begins with "0x" gives a byte. Comments are skipped as if
    // absent, and preprocessor lines select the colour-depth section to keep.
    // A value must be a byte written "0x" and one or two hexadecimal digits:
    // anything else ("0xZZ", "0x1234", "12", a name) would shift or change the
    // pixels the unit gets, so the first such value refuses the image.
    enum Token { Empty, Zero, Hex, Junk };
    Token token = Empty;
    quint32 value = 0;
    int digits = 0; // hexadecimal digits of a Hex token, -1 once a letter is no digit
    int tokenStart = -1; // where the token began
    int damagedAt = -1; // where the first value that is no byte began
    ConditionalSections sections;
    bool lineStart = false;
    int p = nextOpenBrace(s, n, 0);
    bool arrayOpen = true;
    while (arrayOpen && ++p < n) {
        const auto c = static_cast<quint8>(s[p]);
        switch (t.kind[c]) {
        case Alnum:
            lineStart = false;
            if (!sections.active())
                break;
            if (token == Hex) {
                value = value << 4 | t.digit[c];
                digits = digits < 0 || (t.digit[c] == 0 && c != '0') ? -1 : digits + 1;
            } else if (token == Empty) {
                token = c == '0' ? Zero : Junk;
                tokenStart = p;
            } else if (token == Zero) {
                token = c == 'x' ? Hex : Junk;
                value = 0;
                digits = 0;
            }
            break;
        case Comma:
        case Close:
            lineStart = false;
            if (!sections.active())
                break;
            if (token == Hex)
                record.pixels.append(static_cast<char>(value & 0xFF));
            if (token != Empty && damagedAt < 0 && (token != Hex || digits < 1 || digits > 2))
                damagedAt = tokenStart;
            token = Empty;
            arrayOpen = c != '}';
            break;
        case Slash: {
            const int e = commentEnd(s, n, p);
            if (e >= 0)
                p = e;
            else
                lineStart = false;
            break;
        }
        case Hash:
            if (lineStart) {
                const int e = directiveEnd(s, n, p);
                sections.directive(s + p + 1, s + e);
                p = e - 1;
            }
            lineStart = false;
            break;
        case Newline: lineStart = true; break;
        case Blank: break;
        default: lineStart = false; break;
        }
    }
    if (arrayOpen && token != Empty && damagedAt < 0)
        damagedAt = tokenStart; // a last value the array never closed
    qCDebug(lcJob).nospace() << record.pixels.size() << " - " << p;

    // Phase 2: the descriptor, the next brace block: "key = value" fields
    // separated by ",". A nested block ".header = { .w = 340, ... }" names
    // its fields ".header.w" and so on.
    Descriptor descriptor;
    p = nextOpenBrace(s, n, qMin(p, n));
    QByteArray key, val, prefix;
    QVarLengthArray<int, 4> prefixLengths;
    bool afterEquals = false;
    while (++p < n) {
        const char c = s[p];
        if (c == ',' || c == '}') {
            descriptor.apply(prefix + key.trimmed(), val.trimmed());
            key.clear();
            val.clear();
            afterEquals = false;
            if (c == '}') {
                if (prefixLengths.isEmpty())
                    break;
                prefix.truncate(prefixLengths.last());
                prefixLengths.removeLast();
            }
        } else if (c == '{') {
            prefixLengths.append(prefix.size());
            if (afterEquals)
                prefix += key.trimmed();
            key.clear();
            val.clear();
            afterEquals = false;
        } else if (c == '=') {
            afterEquals = true;
        } else if (c == '/' && commentEnd(s, n, p) >= 0) {
            p = commentEnd(s, n, p);
        } else {
            (afterEquals ? val : key).append(c);
        }
    }
    // Sections of other colour depths make the reserve too large for the bytes kept.
    if (record.pixels.capacity() > 2 * record.pixels.size() + 4096)
        record.pixels.squeeze();

    if (descriptor.haveWidth)
        record.width = descriptor.width;
    if (descriptor.haveHeight)
        record.height = descriptor.height;

    // Rows padded to a stride longer than width x 2 lose their padding: the
    // unit wants width x 2 bytes a row.
    const qint64 rowBytes = qint64(record.width) * 2;
    const qint64 stride = descriptor.stride;
    if (record.width > 0 && record.height > 0 && stride > rowBytes
        && record.pixels.size() - start == stride * record.height) {
        char *data = record.pixels.data() + start;
        for (qint64 row = 1; row < record.height; ++row)
            std::memmove(data + row * rowBytes, data + row * stride, static_cast<size_t>(rowBytes));
        record.pixels.truncate(start + static_cast<int>(rowBytes * record.height));
    }

    qCDebug(lcJob).nospace() << "Image Loaded: " << record.pixels.size()
                             << " Width: " << record.width << " Height: " << record.height;

    record.damaged = damagedAt >= 0;
    if (record.damaged)
        return damagedValue(record, text, damagedAt);
    if (formatRefused(descriptor.colorFormat))
        return QStringLiteral("Image file %1 is in colour format %2, which the unit cannot show")
            .arg(displayName(record), QString::fromLatin1(descriptor.colorFormat));
    return QString();
}

ImageRecord ImageReader::loadImage(const QString &path, int imageName, int imageVersion)
{
    QByteArray text;
    QString error;
    const bool opened = FileRead::read(path, ReadLimits::kImageSourceBytes, text, error);
    qCDebug(lcJob) << text.size();
    if (opened)
        return imageFromText(path, text, imageName, imageVersion);

    ImageRecord record;
    record.fileName = path;
    record.imageName = imageName;
    record.imageVersion = imageVersion;
    record.problem = QFileInfo::exists(path)
        ? QStringLiteral("Image file %1 cannot be read (%2)").arg(displayName(record), error)
        : QStringLiteral("Image file %1 is missing").arg(displayName(record));
    return record;
}

ImageRecord ImageReader::imageFromText(
    const QString &fileName, const QByteArray &text, int imageName, int imageVersion)
{
    ImageRecord record;
    record.fileName = fileName;
    record.imageName = imageName;
    record.imageVersion = imageVersion;
    record.sha256 = QCryptographicHash::hash(text, QCryptographicHash::Sha256).toHex();
    const QString refusal = parseImageSource(text, record);
    const QString name = displayName(record);
    const qint64 expected = qint64(record.width) * record.height * 2;
    if (!refusal.isEmpty())
        record.problem = refusal;
    else if (record.pixels.isEmpty())
        record.problem = QStringLiteral("Image file %1 holds no image bytes").arg(name);
    else if (record.width <= 0 || record.height <= 0)
        record.problem = QStringLiteral("Image file %1 gives no width and height for its %2 bytes")
                             .arg(name)
                             .arg(record.pixels.size());
    else if (record.pixels.size() != expected)
        record.problem = QStringLiteral("Image file %1 holds %2 bytes, but %3 x %4 pixels need %5")
                             .arg(name)
                             .arg(record.pixels.size())
                             .arg(record.width)
                             .arg(record.height)
                             .arg(expected);
    return record;
}
