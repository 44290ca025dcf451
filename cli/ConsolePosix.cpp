// The console on POSIX systems.
#include "Console.h"

#include <sys/ioctl.h>
#include <unistd.h>

bool Console::stderrIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

int Console::stderrColumns()
{
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}
