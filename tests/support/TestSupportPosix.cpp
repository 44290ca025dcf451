// The test support that reads pseudo-terminals: POSIX only.
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace TestSupport {

int readAvailable(int fd, QByteArray &into)
{
    char buf[4096];
    int total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<int>(n));
            total += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EIO)
            return total > 0 ? total : -1;
        return total;
    }
}

bool pumpUntil(
    int fd, QByteArray &into, const std::function<bool(const QByteArray &)> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done(into)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        pollfd p { fd, POLLIN, 0 };
        ::poll(&p, 1, 5);
        readAvailable(fd, into);
    }
    return true;
}

} // namespace TestSupport

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

SerialPeer::~SerialPeer()
{
    if (owned)
        ::close(fd);
}

bool SerialPeer::open(const QString &path, int baud)
{
    if (owned)
        ::close(fd);
    received.clear();
    fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    owned = fd >= 0;
    return owned && setBaud(baud);
}

bool SerialPeer::setBaud(int baud)
{
    termios t {};
    if (tcgetattr(fd, &t) != 0)
        return false;
    cfmakeraw(&t);
    cfsetspeed(&t, baud == 921600 ? B921600 : baud == 19200 ? B19200 : B0);
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

bool SerialPeer::write(const QByteArray &bytes)
{
    return ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

QByteArray SerialPeer::waitLine(const QByteArray &prefix, int timeoutMs)
{
    const auto arrived = [&prefix](const QByteArray &b) { return lineEnd(b, prefix) > 0; };
    if (!TestSupport::pumpUntil(fd, received, arrived, timeoutMs))
        return QByteArray();
    const int end = lineEnd(received, prefix);
    const int start = end >= 2 ? received.lastIndexOf('\n', end - 2) + 1 : 0;
    const QByteArray line = received.mid(start, end - start);
    received.remove(0, end);
    return line;
}
