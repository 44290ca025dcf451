// Writing to the console: escaping and streams that may close under the program.
#include "Console.h"

#include "payload/ShownText.h"
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
    return ShownText::of(RawNames::shown(given), keepLineFeeds);
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
