// The low-latency request on POSIX systems (Linux's serial driver).
#include "engine/LowLatency.h"

#include "link/Diagnostics.h"

#include <QString>

#ifdef __linux__
#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

namespace {

QString refusal(qintptr handle)
{
#ifdef __linux__
    const int fd = static_cast<int>(handle);
    if (fd < 0)
        return QStringLiteral("the port is not open");
    serial_struct settings {};
    if (ioctl(fd, TIOCGSERIAL, &settings) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    if ((settings.flags & ASYNC_LOW_LATENCY) != 0)
        return QString();
    settings.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(fd, TIOCSSERIAL, &settings) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return QString();
#else
    Q_UNUSED(handle);
    return QStringLiteral("not supported on this platform");
#endif
}

} // namespace

bool LowLatency::request(const QString &portName, qintptr handle)
{
    const QString why = refusal(handle);
    if (why.isEmpty())
        return true;
    qCDebug(lcJob).noquote() << "Low latency not set on" << portName << why;
    return false;
}

QString LowLatency::slowReplyAdvice(const QString &portName, double averageReplyMs)
{
    // The request above sets the FTDI latency timer where the driver allows.
    Q_UNUSED(portName);
    Q_UNUSED(averageReplyMs);
    return QString();
}
