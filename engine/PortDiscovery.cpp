#include "engine/PortDiscovery.h"

#include "engine/LowLatency.h"
#include "engine/PortProblem.h"
#include "engine/PortTest.h"

#include <QDebug>

QStringList PortDiscovery::namedPorts(const QString &value)
{
    QStringList names;
    for (const QString &entry : value.split(QLatin1Char(','))) {
        const QString name = entry.trimmed();
        if (!name.isEmpty())
            names.append(name);
    }
    return names;
}

QList<PortCandidate> PortDiscovery::candidates()
{
    QList<PortCandidate> found;
    QStringList taken;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        qDebug() << info.manufacturer();
        qDebug() << info.vendorIdentifier();
        qDebug() << info.description();
        if (!info.manufacturer().contains(QLatin1String(kAdapterMaker)))
            continue;
        found.append({ info, QString() });
        taken.append(PortProblem::devicePath(info.systemLocation()));
    }

    const QStringList named = namedPorts(qEnvironmentVariable("ZQ_UPDATER_PORTS"));
    for (const QString &name : named) {
        const QString path = PortProblem::devicePath(name);
        if (taken.contains(path))
            continue;
        found.append({ QSerialPortInfo(), name });
        taken.append(path);
    }
    return found;
}

PortTest *PortDiscovery::openPort(const PortCandidate &candidate, QString &error)
{
    auto *port = new PortTest;
    if (candidate.name.isEmpty())
        port->setPort(candidate.info);
    else
        port->setPortName(candidate.name);
    port->setBaudRate(19200, QSerialPort::AllDirections);
    port->rxLine[0] = '\0';
    port->rxLength = 0;
    error.clear();
    // Qt reads the lock file when it opens the port, and would block on a FIFO.
    const QString name = candidate.name.isEmpty() ? candidate.info.systemLocation() : candidate.name;
    error = PortProblem::lockFileProblem(PortProblem::devicePath(name));
    if (!error.isEmpty()) {
        port->resetJob();
        return port;
    }
    if (port->open(QIODevice::ReadWrite)) {
        LowLatency::request(*port);
    } else {
        qDebug() << "Could not open port" << port->errorString();
        error = PortProblem::explain(candidate.name.isEmpty() ? candidate.info.systemLocation()
                                                              : candidate.name,
            port->error(), port->errorString());
    }
    port->resetJob();
    return port;
}
