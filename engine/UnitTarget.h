#pragma once
// One unit a job drives: its port, and the adapter's USB identity and the
// station's slot it stands for, where known.
#include <QList>
#include <QString>

struct Adapter;

struct UnitTarget {
    QString port; // the port as given (a name or device path), or the adapter's device path
    QString device; // the device path
    QString slot; // empty: not chosen by slot
    QString serial; // the adapter's, where known
    QString location;

    // The port's name as given, or the adapter's device path.
    QString path() const { return port; }
    // The target for a port given by name, with the identity of the adapter
    // (among adapters) that is its device.
    static UnitTarget of(const QString &port, const QList<Adapter> &adapters);
    // The target for an adapter the scan found, by its device path.
    static UnitTarget of(const Adapter &adapter);
};
