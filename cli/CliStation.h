#pragma once
// The station summary zq-update prints when a watch (--watch) ends: per slot
// the units updated and not, and the line's units per hour.
#include <QString>

class UnitRunner;

class CliStation
{
public:
    // Per slot (or port, without a station) the units of runner updated and
    // not, in the order first seen, and the line's units per hour over hours.
    static QString summary(const UnitRunner &runner, double hours);
};
