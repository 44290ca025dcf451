#include "engine/UnitTarget.h"

#include "engine/Adapter.h"
#include "engine/PortProblem.h"

UnitTarget UnitTarget::of(const QString &port, const QList<Adapter> &adapters)
{
    UnitTarget t;
    t.port = port;
    t.device = PortProblem::devicePath(port);
    for (const Adapter &a : adapters) {
        if (a.device == t.device) {
            t.serial = a.serial;
            t.location = a.location;
        }
    }
    return t;
}

UnitTarget UnitTarget::of(const Adapter &adapter)
{
    UnitTarget t;
    t.port = adapter.device;
    t.device = adapter.device;
    t.serial = adapter.serial;
    t.location = adapter.location;
    return t;
}
