#pragma once
// Asks the serial driver for low latency on an open port. An FTDI adapter
// holds received bytes for up to 16 ms by default, which paces a stop-and-wait
// protocol; in low-latency mode the Linux driver sets that timer to 1 ms.
#include <QString>

class QSerialPort;

namespace LowLatency {

// Returns an empty string when the driver took the request, else why not
// (a pseudo-terminal, another driver, another platform).
QString request(QSerialPort &port);

} // namespace LowLatency
