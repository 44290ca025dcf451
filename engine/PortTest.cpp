#include "engine/PortTest.h"

PortTest::PortTest(UnitLink &unitLink)
    : link(unitLink)
{
    rxLine[0] = '\0';
}

void PortTest::resetJob()
{
    resetProgress();
    guards.reset();
    timing.reset();
    status = UnitStatus();
}
