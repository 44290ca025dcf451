// What Windows tells of a serial device without opening it: nothing that
// names another program, so a port in use is reported without its process.
#include "engine/PortProblem.h"

// A port is named as the system lists it ("COM3").
QString PortProblem::devicePath(const QString &nameOrPath)
{
    return nameOrPath;
}

PortProblem::Probe PortProblem::probe(const QString &devicePath, bool scanProcesses)
{
    Q_UNUSED(devicePath);
    Q_UNUSED(scanProcesses);
    return Probe();
}

QString PortProblem::lockFileProblem(const QString &devicePath)
{
    Q_UNUSED(devicePath);
    return QString(); // no lock files
}

QString PortProblem::staleLockFile(const QString &devicePath)
{
    Q_UNUSED(devicePath);
    return QString(); // no lock files
}
