#include "engine/PortTest.h"

PortTest::PortTest()
{
    rxLine[0] = '\0';
}

PortTest::~PortTest() = default;

void PortTest::resetJob()
{
    resetProgress();
    guards.reset();
    timing.reset();
    status = UnitStatus();
}

void PortTest::readWaiting()
{
    if (!isOpen())
        return;
    // Nothing there: the wait of 0 ms times out, which is no fault of the port.
    if (!waitForReadyRead(0) && error() == QSerialPort::TimeoutError)
        clearError();
}

// The first flush writes the line; the second finds nothing left to write and
// switches the write notification off, which would otherwise wake the event
// loop once more for the line. Neither changes a byte on the wire.
void PortTest::writeNow()
{
    flush();
    flush();
}
