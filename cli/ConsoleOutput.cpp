// Writing to the console: escaping and streams that may close under the program.
#include "Console.h"

#include "payload/RawNames.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool lostOut = false;
bool lostErr = false;

bool writeTo(FILE *stream, const QByteArray &bytes)
{
    clearerr(stream);
    const size_t n = std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    return std::fflush(stream) == 0 && n == static_cast<size_t>(bytes.size()) && !std::ferror(stream);
}

} // namespace

QString Console::shown(const QString &given, bool keepLineFeeds)
{
    // A name given in bytes that are not UTF-8 is shown as given, with \xNN.
    const QString text = RawNames::shown(given);
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        const bool control = u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0xFFFD
            || c.isSurrogate() || u == 0x2028 || u == 0x2029 || (u >= 0x202A && u <= 0x202E)
            || (u >= 0x2066 && u <= 0x2069);
        if (!control || (keepLineFeeds && u == '\n'))
            out += c;
        else if (u < 0x100)
            out += QStringLiteral("\\x%1").arg(u, 2, 16, QLatin1Char('0'));
        else
            out += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
    }
    return out;
}

void Console::writeOut(const QByteArray &bytes)
{
    if (lostOut || bytes.isEmpty())
        return;
    if (writeTo(stdout, bytes))
        return;
    const int code = errno;
    lostOut = true;
    writeErr(QStringLiteral("zq-update: standard output can no longer be written (%1): its "
                            "lines are dropped from here on; the job goes on.\n")
                 .arg(QString::fromLocal8Bit(std::strerror(code)))
                 .toLocal8Bit());
}

void Console::writeErr(const QByteArray &bytes)
{
    if (lostErr || bytes.isEmpty())
        return;
    if (!writeTo(stderr, bytes))
        lostErr = true; // nowhere left to say so: the report and the log still are
}

bool Console::outLost()
{
    return lostOut;
}

bool Console::errLost()
{
    return lostErr;
}
