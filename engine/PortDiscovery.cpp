#include "engine/PortDiscovery.h"

#include "engine/PortProblem.h"
#include "engine/SerialLink.h"

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

std::unique_ptr<SerialLink> PortDiscovery::openPort(const PortCandidate &candidate, QString &error)
{
    auto link = std::make_unique<SerialLink>(candidate);
    error = link->reopen(19200);
    return link;
}
