#include "engine/JobHost.h"

#include <QElapsedTimer>

qint64 JobHost::nowNs() const
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.nsecsElapsed();
}
