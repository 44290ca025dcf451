#pragma once
// Which serial ports a job drives when none is named, from the one scan of
// the system's adapters (Adapter::scan): every adapter whose manufacturer
// contains "FTDI", then every port named in ZQ_UPDATER_PORTS (comma-separated
// names or device paths), each once; and how a port is first opened.
#include "engine/UnitTarget.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class SerialLink;

namespace PortDiscovery {

// What a port's manufacturer contains for the tool to take it unasked (the
// package's udev rule, dist/linux/70-zq-updater.rules, matches the same).
inline constexpr char kAdapterMaker[] = "FTDI";

// The entries of a ZQ_UPDATER_PORTS value, in order, empty entries dropped.
QStringList namedPorts(const QString &value);

// The units a job drives unasked: the adapters the tool takes (logging each
// adapter's manufacturer, vendor identifier and description), then the ports
// ZQ_UPDATER_PORTS names that are none of them.
QList<UnitTarget> unasked(const QList<Adapter> &adapters);

// A new link to the port's name or device path, opened at 19200 baud for
// reading and writing (with low latency asked of the driver). It is returned
// whether it opened or not; when not, error says why.
std::unique_ptr<SerialLink> openPort(const QString &port, QString &error);

} // namespace PortDiscovery
