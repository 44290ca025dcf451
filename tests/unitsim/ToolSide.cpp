#include "ToolSide.h"

#include "link/LineFrame.h"
#include "support/TestSupport.h"

#include <QFile>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The index just past the first whole line in bytes that starts with prefix, or 0.
int lineEnd(const QByteArray &bytes, const QByteArray &prefix)
{
    for (int start = 0, lf; (lf = bytes.indexOf('\n', start)) >= 0; start = lf + 1)
        if (bytes.mid(start, prefix.size()) == prefix)
            return lf + 1;
    return 0;
}

} // namespace

ToolSide::~ToolSide()
{
    if (handle >= 0)
        ::close(handle);
}

bool ToolSide::open(const QString &path, int baud)
{
    if (handle >= 0)
        ::close(handle);
    received.clear();
    handle = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    return handle >= 0 && setBaud(baud);
}

bool ToolSide::setBaud(int baud)
{
    termios t {};
    if (tcgetattr(handle, &t) != 0)
        return false;
    cfmakeraw(&t);
    cfsetspeed(&t, baud == 921600 ? B921600 : baud == 19200 ? B19200 : B0);
    return tcsetattr(handle, TCSANOW, &t) == 0;
}

bool ToolSide::write(const QByteArray &bytes)
{
    return ::write(handle, bytes.constData(), static_cast<size_t>(bytes.size())) == bytes.size();
}

QByteArray ToolSide::framed(const QByteArray &text)
{
    char buf[kLineBufferSize] = {};
    memcpy(buf, text.constData(), static_cast<size_t>(qMin(text.size(), kLineBufferSize - 1)));
    return QByteArray(buf, CompleteLine(buf));
}

QByteArray ToolSide::waitLine(const QByteArray &prefix, int timeoutMs)
{
    if (!TestSupport::pumpUntil(
            handle, received, [&](const QByteArray &b) { return lineEnd(b, prefix) > 0; },
            timeoutMs))
        return QByteArray();
    const int end = lineEnd(received, prefix);
    const int start = received.lastIndexOf('\n', end - 2) + 1;
    const QByteArray line = received.mid(start, end - start);
    received.remove(0, end);
    return line;
}

QList<QByteArray> ToolSide::waitLines(int count, int timeoutMs)
{
    TestSupport::pumpUntil(
        handle, received, [count](const QByteArray &b) { return b.count('\n') >= count; },
        timeoutMs);
    QList<QByteArray> lines;
    for (int lf; (lf = received.indexOf('\n')) >= 0; received.remove(0, lf + 1))
        lines.append(received.left(lf + 1));
    return lines;
}
