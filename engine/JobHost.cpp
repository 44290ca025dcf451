#include "engine/JobHost.h"

#include "engine/PortTest.h"

#include <QElapsedTimer>

void JobHost::readWaiting(PortTest *port)
{
    port->readWaiting();
}

qint64 JobHost::nowNs() const
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.nsecsElapsed();
}
