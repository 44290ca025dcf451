#pragma once
// Asks the serial driver for low latency on an open port (SerialLink does, as
// it opens one). An FTDI adapter holds received bytes for up to 16 ms by
// default, which paces a stop-and-wait protocol; in low-latency mode the Linux
// driver sets that timer to 1 ms.
#include <QString>
#include <QtGlobal>

namespace LowLatency {

// Returns true when the driver took the request; otherwise writes one
// diagnostic line saying why not (a pseudo-terminal, another driver, another
// platform) and returns false. The port goes on either way.
// handle: the open port's descriptor (a file descriptor on POSIX systems).
bool request(const QString &portName, qintptr handle);

// Replies above this average mean the adapter holds them back.
constexpr double kSlowReplyMs = 8.0;

// Where the latency timer can't be set from the program (Windows: it is a
// driver setting), a job-log line telling how to lower it when the port's
// replies took more than kSlowReplyMs on average; otherwise empty.
QString slowReplyAdvice(const QString &portName, double averageReplyMs);

} // namespace LowLatency
