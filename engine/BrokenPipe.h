#pragma once
// A reader that went away (`zq-update ... | head`, a closed terminal) or a file
// size limit must never end a job in the middle of the firmware: the signals
// that would (SIGPIPE, SIGXFSZ, SIGHUP) are ignored, and the failed write is
// seen as an error instead.
// Both programs call this first. A file per platform.
namespace BrokenPipe {

void ignore();

} // namespace BrokenPipe
