#include "ToolSide.h"

#include "link/LineFrame.h"
#include "support/TestSupport.h"

#include <QFile>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

int lineStartingWith(const QByteArray &bytes, const QByteArray &prefix, int *end)
{
    int start = 0;
    for (;;) {
        const int lf = bytes.indexOf('\n', start);
        if (lf < 0)
            return -1;
        if (bytes.mid(start, prefix.size()) == prefix) {
            *end = lf + 1;
            return start;
        }
        start = lf + 1;
    }
}

} // namespace

ToolSide::~ToolSide()
{
    close();
}

bool ToolSide::open(const QString &path, int baud)
{
    close();
    handle = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (handle < 0)
        return false;
    return setBaud(baud);
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

void ToolSide::close()
{
    if (handle >= 0)
        ::close(handle);
    handle = -1;
    received.clear();
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

bool ToolSide::send(const QByteArray &text)
{
    return write(framed(text));
}

QByteArray ToolSide::waitLine(const QByteArray &prefix, int timeoutMs)
{
    int end = 0;
    const bool found = TestSupport::pumpUntil(
        handle, received,
        [&](const QByteArray &bytes) { return lineStartingWith(bytes, prefix, &end) >= 0; },
        timeoutMs);
    if (!found)
        return QByteArray();
    const int start = lineStartingWith(received, prefix, &end);
    const QByteArray line = received.mid(start, end - start);
    received.remove(0, end);
    return line;
}

QByteArray ToolSide::command(const QByteArray &text, int timeoutMs)
{
    if (!send(text))
        return QByteArray();
    return waitLine("$", timeoutMs);
}

QList<QByteArray> ToolSide::waitLines(int count, int timeoutMs)
{
    TestSupport::pumpUntil(
        handle, received, [count](const QByteArray &bytes) { return bytes.count('\n') >= count; },
        timeoutMs);
    QList<QByteArray> lines;
    int lf;
    while ((lf = received.indexOf('\n')) >= 0) {
        lines.append(received.left(lf + 1));
        received.remove(0, lf + 1);
    }
    return lines;
}
