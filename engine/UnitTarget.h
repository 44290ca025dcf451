#pragma once
// One unit a zq-update run drives: its port, and the slot and adapter it
// stands for when it was chosen by one.
#include "engine/PortDiscovery.h"

#include <QString>

struct CliTarget {
    PortCandidate candidate;
    QString device; // the device path
    QString slot; // empty: not chosen by slot
    QString serial; // the adapter's, where known
    QString location;
};

