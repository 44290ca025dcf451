// SIGPIPE and SIGXFSZ ignored: write(2) then fails with EPIPE or EFBIG.
#include "engine/BrokenPipe.h"

#include <csignal>

void BrokenPipe::ignore()
{
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGXFSZ, SIG_IGN);
}
