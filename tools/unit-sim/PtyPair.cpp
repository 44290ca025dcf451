#include "PtyPair.h"

#include <cerrno>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

PtyPair::~PtyPair()
{
    closeMaster();
}

bool PtyPair::open()
{
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    termios t {};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    path = QString::fromLocal8Bit(name);
    return true;
}

bool PtyPair::openDevice(const QString &devicePath)
{
    master
        = ::open(devicePath.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master < 0)
        return false;
    termios t {};
    if (tcgetattr(master, &t) != 0) {
        closeMaster();
        return false;
    }
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS);
    tcsetattr(master, TCSANOW, &t);
    path = devicePath;
    device = true;
    return true;
}

void PtyPair::setBaudRate(int baud)
{
    speed_t speed = B0;
    switch (baud) {
    case 19200: speed = B19200; break;
    case 921600: speed = B921600; break;
    default: return;
    }
    termios t {};
    if (master < 0 || tcgetattr(master, &t) != 0)
        return;
    cfsetspeed(&t, speed);
    tcsetattr(master, TCSADRAIN, &t);
}

int PtyPair::baudRate() const
{
    if (master < 0)
        return 0;
    termios t {};
    if (tcgetattr(master, &t) != 0)
        return 0;
    switch (cfgetospeed(&t)) {
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    case B230400: return 230400;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return 0;
    }
}

void PtyPair::discardPendingToTool()
{
    if (slave >= 0)
        tcflush(slave, TCIFLUSH);
}

void PtyPair::closeMaster()
{
    if (master >= 0)
        ::close(master);
    if (slave >= 0)
        ::close(slave);
    master = slave = -1;
}
