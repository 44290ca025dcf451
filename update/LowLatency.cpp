#include "update/LowLatency.h"

#include <QSerialPort>

#ifdef __linux__
#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>
#endif

QString LowLatency::request(QSerialPort &port)
{
#ifdef __linux__
    const int fd = static_cast<int>(port.handle());
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
    Q_UNUSED(port);
    return QStringLiteral("not supported on this platform");
#endif
}
