#pragma once
// Which serial ports a job drives: every port whose manufacturer contains
// "FTDI", then every port named in ZQ_UPDATER_PORTS (comma-separated names or
// device paths), each once; and how a port is first opened.
#include <QList>
#include <QSerialPortInfo>
#include <QString>
#include <QStringList>

#include <memory>

class SerialLink;

struct PortCandidate {
    QSerialPortInfo info; // set for a scanned adapter
    QString name; // the name or path given in ZQ_UPDATER_PORTS, else empty
};

namespace PortDiscovery {

// What a port's manufacturer contains for the tool to take it unasked (the
// package's udev rule, dist/linux/70-zq-updater.rules, matches the same).
inline constexpr char kAdapterMaker[] = "FTDI";

// The entries of a ZQ_UPDATER_PORTS value, in order, empty entries dropped.
QStringList namedPorts(const QString &value);

// Scans the system's ports (logging each one's manufacturer, vendor identifier
// and description) and adds the named ports that the scan did not find.
QList<PortCandidate> candidates();

// A new link to the candidate's port, opened at 19200 baud for reading and
// writing (with low latency asked of the driver). It is returned whether it
// opened or not; when not, error says why.
std::unique_ptr<SerialLink> openPort(const PortCandidate &candidate, QString &error);

} // namespace PortDiscovery
