#include "engine/PortDiscovery.h"

#include "engine/Adapter.h"
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

QList<UnitTarget> PortDiscovery::unasked(const QList<Adapter> &adapters)
{
    QList<UnitTarget> found;
    QStringList taken;
    for (const Adapter &a : adapters) {
        qDebug() << a.device << a.manufacturer << a.vidPid() << a.description;
        if (!a.pickedUnnamed)
            continue;
        found.append(UnitTarget::of(a));
        taken.append(a.device);
    }

    const QStringList named = namedPorts(qEnvironmentVariable("ZQ_UPDATER_PORTS"));
    for (const QString &name : named) {
        const QString path = PortProblem::devicePath(name);
        if (taken.contains(path))
            continue;
        found.append(UnitTarget::of(name, adapters));
        taken.append(path);
    }
    return found;
}

PortTest *PortDiscovery::openPort(const QString &name, QString &error)
{
    auto *port = new PortTest;
    port->setPortName(name);
    port->setBaudRate(19200, QSerialPort::AllDirections);
    port->rxLine[0] = '\0';
    port->rxLength = 0;
    error.clear();
    // Qt reads the lock file when it opens the port, and would block on a FIFO.
    error = PortProblem::lockFileProblem(PortProblem::devicePath(name));
    if (!error.isEmpty()) {
        port->resetJob();
        return port;
    }
    if (port->open(QIODevice::ReadWrite)) {
        LowLatency::request(*port);
    } else {
        qDebug() << "Could not open port" << port->errorString();
        error = PortProblem::explain(name, port->error(), port->errorString());
    }
    port->resetJob();
    return port;
}
