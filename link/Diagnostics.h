#pragma once
// Logging categories of the diagnostic log (the Qt logging facility's debug
// output). "zq.wire" carries one line per command sent ("TX <port> <line>") and
// per reply received ("RX <port> <reply word>"); "zq.job" carries the job's
// other diagnostic lines. Both are on by default; QT_LOGGING_RULES turns them off.
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcWire)
Q_DECLARE_LOGGING_CATEGORY(lcJob)
