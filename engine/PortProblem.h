#pragma once
// Why a serial port can't be used, in words that name the fix: a port the user
// has no permission for says which group owns it and how to join it (or, where
// the package's device rule is installed, to plug the adapter in again; a port
// built into the computer is told apart from an adapter); a port another
// program holds says so, with that program's process where the system shows
// it, and a lock file that locks it for nobody is named. The window's job log
// and the command line both use it.
#include <QSerialPort>
#include <QString>
#include <QStringList>

namespace PortProblem {

// What the system tells of a device without opening it (a file per platform).
struct Probe {
    bool exists = true;
    bool denied = false; // the user may not read and write it
    QString group; // the group that owns the device; empty when unknown
    QString user; // the user this program runs as
    QString owner; // the user that owns the device; empty when unknown
    QStringList holders; // other processes that hold it: "1234 (minicom)"
    bool ruleInstalled = false; // the package's udev rule that gives the seat's user access
    bool notSerial = false; // a file, folder or device that is no serial port (/dev/null)
    bool groupMayUse = true; // joining the owning group would give access
    // A USB device (an adapter), or not known; false for a port built into
    // the computer (/dev/ttyS0), which no adapter rule covers.
    bool adapter = true;
};
// holders: the process named by the port's lock file; with scanProcesses, else
// every other process that has the device open.
Probe probe(const QString &devicePath, bool scanProcesses);

// The device path of a port name or path ("ttyUSB0" -> "/dev/ttyUSB0"), links
// resolved; on Windows the name itself (a file per platform).
QString devicePath(const QString &nameOrPath);

// The text for a port that did not open: error and errorText are the port's
// after the failed open().
QString explain(const QString &nameOrPath, QSerialPort::SerialPortError error,
    const QString &errorText);

// Why the port's lock file (/run/lock/LCK..ttyUSB0) stops it from being opened:
// one that is no regular file (a FIFO anyone may put there) would hold the
// open for ever, and one that holds no process id, or names a process seen
// not to use the port, locks it for nobody; such a port is not tried, and the
// lock file is named. Empty when there is none or it names a program that
// holds the port, or one that no longer runs (a file per platform).
QString lockFileProblem(const QString &devicePath);
// After an open failed: a lock file naming a process that no longer runs,
// which could not be removed; empty when there is none.
QString staleLockFile(const QString &devicePath);

// Why a port that has not been opened can't be, as far as the system tells
// without opening it; empty when nothing stands in the way.
QString beforeOpening(const QString &nameOrPath);

} // namespace PortProblem
