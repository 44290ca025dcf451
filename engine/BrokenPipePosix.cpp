// SIGPIPE and SIGXFSZ ignored: write(2) then fails with EPIPE or EFBIG. SIGHUP
// (the terminal closed) ignored: writes to the terminal then fail with EIO.
#include "engine/BrokenPipe.h"

#include <csignal>

void BrokenPipe::ignore()
{
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
}
