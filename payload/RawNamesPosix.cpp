// Names that are not UTF-8 on POSIX systems: the raw arguments from
// /proc/self/cmdline, a name Qt can carry for each that is not UTF-8, and
// the way back for messages.
#include "payload/RawNames.h"
#include "payload/FileRead.h"
#include "payload/ReadLimits.h"

#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QPair>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// (the name Qt got, the name as shown), for every argument replaced.
QList<QPair<QString, QString>> &replaced()
{
    static QList<QPair<QString, QString>> names;
    return names;
}

// Odd bytes decode to replacement characters, which do not encode back to them.
bool isUtf8(const QByteArray &bytes)
{
    return QString::fromUtf8(bytes).toUtf8() == bytes;
}

// A name Qt can open for the raw name, or an empty string.
QString carried(const QByteArray &raw)
{
    char real[PATH_MAX];
    if (::realpath(raw.constData(), real) != nullptr && isUtf8(QByteArray(real)))
        return QString::fromUtf8(real);
#ifdef O_PATH
    const int fd = ::open(raw.constData(), O_PATH | O_CLOEXEC);
#else
    const int fd = ::open(raw.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
#endif
    if (fd < 0)
        return QString();
    return QStringLiteral("/proc/self/fd/%1").arg(fd); // held open: the name must keep working
}

QString mapped(const QByteArray &raw)
{
    const QString shownName = RawNames::escaped(raw);
    QString name = raw.contains('\0') ? QString() : carried(raw);
    if (name.isEmpty())
        name = QFile::decodeName(raw); // not there: only its message needs it
    replaced().append({ name, shownName });
    return name;
}

} // namespace

QString RawNames::escaped(const QByteArray &bytes)
{
    QString out;
    int start = 0;
    while (start < bytes.size()) {
        // The longest UTF-8 run from start, then one odd byte.
        int end = start;
        while (end < bytes.size()) {
            const auto c = static_cast<unsigned char>(bytes[end]);
            const int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
            if (length == 0 || end + length > bytes.size() || !isUtf8(bytes.mid(end, length)))
                break;
            end += length;
        }
        out += QString::fromUtf8(bytes.mid(start, end - start));
        if (end < bytes.size())
            out += QStringLiteral("\\x%1").arg(static_cast<unsigned char>(bytes[end]), 2, 16, QLatin1Char('0'));
        start = end + 1;
    }
    return out;
}

QStringList RawNames::arguments()
{
    QStringList args = QCoreApplication::arguments();
    QByteArray bytes;
    QString error;
    if (!FileRead::read(QStringLiteral("/proc/self/cmdline"), ReadLimits::kCommandLineBytes, bytes, error))
        return args;
    QList<QByteArray> raw = bytes.split('\0');
    if (!raw.isEmpty() && raw.last().isEmpty())
        raw.removeLast();
    if (raw.size() != args.size())
        return args; // not the arguments Qt kept
    for (int i = 1; i < raw.size(); ++i) {
        if (isUtf8(raw[i]))
            continue;
        const int equals = raw[i].startsWith("--") ? raw[i].indexOf('=') : -1;
        args[i] = equals > 0 ? QString::fromUtf8(raw[i].left(equals + 1)) + mapped(raw[i].mid(equals + 1))
                             : mapped(raw[i]);
    }
    return args;
}

QString RawNames::shown(const QString &text)
{
    // The longest first: /proc/self/fd/5 must not take the front of /proc/self/fd/50.
    QList<QPair<QString, QString>> names = replaced();
    std::sort(names.begin(), names.end(),
        [](const auto &a, const auto &b) { return a.first.size() > b.first.size(); });
    QString out = text;
    for (const auto &name : std::as_const(names))
        out.replace(name.first, name.second);
    return out;
}
