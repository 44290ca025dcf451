#pragma once
// Asks the serial driver for low latency on an open port. An FTDI adapter
// holds received bytes for up to 16 ms by default, which paces a stop-and-wait
// protocol; in low-latency mode the Linux driver sets that timer to 1 ms.
class QSerialPort;

namespace LowLatency {

// Returns true when the driver took the request; otherwise writes one
// diagnostic line saying why not (a pseudo-terminal, another driver, another
// platform) and returns false. The port goes on either way.
bool request(QSerialPort &port);

} // namespace LowLatency
