#include "link/Diagnostics.h"

Q_LOGGING_CATEGORY(lcWire, "zq.wire")
Q_LOGGING_CATEGORY(lcJob, "zq.job")
