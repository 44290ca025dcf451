#include "update/ReplyTimer.h"

#include "update/Timeouts.h"

#include <algorithm>

void ReplyTimer::sample(qint64 ns)
{
    if (ns < 0)
        return;
    if (count == 0) {
        smoothed = ns;
        variation = ns / 2;
    } else {
        const qint64 error = ns > smoothed ? ns - smoothed : smoothed - ns;
        variation += (error - variation) / 4;
        smoothed += (ns - smoothed) / 8;
    }
    ++count;
}

bool ReplyTimer::learned() const
{
    return count >= Timeouts::kLearnSamples;
}

qint64 ReplyTimer::timeoutNs() const
{
    // Twice the smoothed time as well: a steady reply time has no variation
    // to learn from, and a reply a few milliseconds late is no lost line.
    return std::max({ qint64(Timeouts::kResendFloorMs) * 1000000LL, smoothed + 4 * variation,
        2 * smoothed });
}
