// SIGPIPE and SIGXFSZ ignored: write(2) then fails with EPIPE or EFBIG (the
// history file, the diagnostics). SIGHUP (the terminal it was started from
// closed) ignored: writes to the terminal then fail with EIO.
#include "window/StartUp.h"

#include <csignal>

void StartUp::ignoreHangUps()
{
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
}
