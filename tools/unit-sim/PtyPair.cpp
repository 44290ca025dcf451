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
