#include "engine/PortDiscovery.h"

#include "engine/Adapter.h"
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

std::unique_ptr<SerialLink> PortDiscovery::openPort(const QString &port, QString &error)
{
    auto link = std::make_unique<SerialLink>(port);
    error = link->reopen(19200);
    return link;
}
