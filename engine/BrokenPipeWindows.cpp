// Windows has no SIGPIPE: a write to a closed pipe already fails.
#include "engine/BrokenPipe.h"

void BrokenPipe::ignore() { }
