// The console on Windows.
#include "Console.h"

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
