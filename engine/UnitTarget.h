#pragma once
// One unit a job drives: its port, and the adapter's USB identity and the
// station's slot it stands for, where known.
#include "engine/PortDiscovery.h"

#include <QList>
#include <QString>

struct Adapter;

struct UnitTarget {
    PortCandidate candidate;
    QString device; // the device path
    QString slot; // empty: not chosen by slot
    QString serial; // the adapter's, where known
    QString location;

    // The port's name as given, or the scanned adapter's device path.
    QString path() const;
    // The target for a port given by name or found by the scan, with the
    // identity of the adapter (among adapters) that is its device.
    static UnitTarget of(const PortCandidate &candidate, const QList<Adapter> &adapters);
};
