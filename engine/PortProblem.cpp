#include "engine/PortProblem.h"

namespace {

QString deniedText(const QString &path, const PortProblem::Probe &p)
{
    const QString user = p.user.isEmpty() ? QStringLiteral("$USER") : p.user;
    // A port built into the computer and kept for root: no adapter to plug
    // in again, no group to join.
    if (!p.adapter && !p.groupMayUse)
        return QStringLiteral("permission denied: %1 is a serial port built into the computer, "
                              "not an adapter, and only its owner%2 may use it. Choose the "
                              "adapter's port (zq-update list shows them), or run with the "
                              "permission to use %1 (as its owner, or after the administrator "
                              "gave access to it).")
            .arg(path, p.owner.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(p.owner));
    // The rule gives the user at the desktop access when the adapter appears:
    // an adapter plugged in before it was installed, or a remote login, is not
    // covered.
    if (p.ruleInstalled && p.adapter) {
        const QString group = p.group.isEmpty() || !p.groupMayUse
            ? QString()
            : QStringLiteral(" (sudo usermod -aG %1 %2)").arg(p.group, user);
        return QStringLiteral("permission denied: your user may not use %1, although "
                              "zq-updater's device rule is installed. Unplug the adapter and "
                              "plug it in again. The rule gives access to the user at the "
                              "desktop only: over a remote login add the user to the device's "
                              "group%2, then log out and in again.")
            .arg(path, group);
    }
    if (!p.adapter && !p.group.isEmpty())
        return QStringLiteral("permission denied: %1 is a serial port built into the computer, "
                              "not an adapter, and belongs to the group %2. Choose the adapter's "
                              "port (zq-update list shows them), or add the user to the group "
                              "(sudo usermod -aG %2 %3), then log out and in again.")
            .arg(path, p.group, user);
    if (!p.groupMayUse)
        return QStringLiteral("permission denied: only the owner of %1 may use it (its group %2 "
                              "has no read and write access). Ask the administrator for access "
                              "to it (a udev rule that gives it to the dialout group), then try again.")
            .arg(path, p.group.isEmpty() ? QStringLiteral("-") : p.group);
    if (p.group.isEmpty())
        return QStringLiteral("permission denied: your user may not use %1. Ask for read and "
                              "write access to it, then try again.")
            .arg(path);
    return QStringLiteral("permission denied: %1 belongs to the group %2, and your user is not "
                          "in it. Install the zq-updater package (its device rule gives the "
                          "user at the desktop access), or add the user to the group (sudo "
                          "usermod -aG %2 %3), then log out and in again.")
        .arg(path, p.group, user);
}

QString inUseText(const PortProblem::Probe &p)
{
    if (p.holders.isEmpty())
        return QStringLiteral("the port is in use by another program. Close that program "
                              "(a terminal program, another updater) and try again.");
    return QStringLiteral("the port is in use by another program: process %1. Close that "
                          "program and try again.")
        .arg(p.holders.join(QStringLiteral(", process ")));
}

} // namespace

QString PortProblem::explain(
    const QString &nameOrPath, QSerialPort::SerialPortError error, const QString &errorText)
{
    const QString path = devicePath(nameOrPath);
    const Probe p = probe(path, true);
    if (!p.exists || error == QSerialPort::DeviceNotFoundError)
        return QStringLiteral("no such port (%1): is the adapter plugged in?").arg(errorText);
    if (p.notSerial)
        return QStringLiteral("%1 is not a serial port (%2)").arg(path, errorText);
    if (p.denied)
        return deniedText(path, p);
    // Qt reports a port that another program locked or holds exclusively as a
    // permission error ("Permission error while locking the device").
    // A lock file is named rather than any process that has the device open.
    QString lock = lockFileProblem(path);
    if (lock.isEmpty() && error == QSerialPort::PermissionError && p.holders.isEmpty())
        lock = staleLockFile(path);
    if (!lock.isEmpty())
        return lock;
    if (error == QSerialPort::PermissionError || !p.holders.isEmpty())
        return inUseText(p);
    return errorText;
}

QString PortProblem::beforeOpening(const QString &nameOrPath)
{
    const QString path = devicePath(nameOrPath);
    // Another process having the device open is no proof of a conflict (a
    // simulated unit holds its end, a monitor may only read): only a lock counts.
    const Probe p = probe(path, false);
    if (!p.exists)
        return QStringLiteral("no such port");
    if (p.notSerial)
        return QStringLiteral("%1 is not a serial port").arg(path);
    const QString lock = lockFileProblem(path);
    if (!lock.isEmpty())
        return lock;
    if (p.denied)
        return deniedText(path, p);
    if (!p.holders.isEmpty())
        return inUseText(p);
    return QString();
}
