#include "update/PortTest.h"

PortTest::PortTest()
{
    rxLine[0] = '\0';
}

PortTest::~PortTest() = default;

void PortTest::resetJob()
{
    resetRecord();
    guards.reset();
    timing.reset();
    status = UnitStatus();
}
