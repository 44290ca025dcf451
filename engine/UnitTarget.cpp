#include "engine/UnitTarget.h"

#include "engine/Adapter.h"
#include "engine/PortProblem.h"

QString UnitTarget::path() const
{
    return candidate.name.isEmpty() ? candidate.info.systemLocation() : candidate.name;
}

UnitTarget UnitTarget::of(const PortCandidate &candidate, const QList<Adapter> &adapters)
{
    UnitTarget t;
    t.candidate = candidate;
    t.device = PortProblem::devicePath(t.path());
    for (const Adapter &a : adapters) {
        if (a.device == t.device) {
            t.serial = a.serial;
            t.location = a.location;
        }
    }
    return t;
}
