#include "Console.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
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

#elif defined(Q_OS_WIN)
#include <io.h>
#include <stdio.h>
#include <windows.h>

bool Console::stderrIsTerminal()
{
    return _isatty(_fileno(stderr)) != 0;
}

int Console::stderrColumns()
{
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

#else
bool Console::stderrIsTerminal()
{
    return false;
}

int Console::stderrColumns()
{
    return 0;
}
#endif
