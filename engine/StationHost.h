#pragma once
// What a StationWatch drives: the front end that runs the station's jobs (the
// command line's watch, the window's station view). The watch says which unit
// to start, which adapter went and which slots it holds.
#include "engine/StationFile.h"
#include "engine/UnitTarget.h"

#include <QList>
#include <QString>

class StationHost
{
public:
    virtual ~StationHost() = default;

    // Opens the target's port and starts its job; returns the unit's index.
    virtual int addUnit(const UnitTarget &target) = 0;
    // Unit index's adapter is gone: a running job ends as with a lost
    // connection, and its port is closed.
    virtual void adapterGone(int index) = 0;
    // Slot starts no job until message's cause is put right (an empty slot:
    // none does); again: said before, repeated while it lasts.
    virtual void slotHeld(const QString &slot, const QString &message, bool again) = 0;
    // The holds changed: these are the ones now (empty when all were put right).
    virtual void holdsNow(const QList<StationFile::Hold> &held) { Q_UNUSED(held); }
};
