#include "engine/ReplyTimer.h"

#include "engine/Timeouts.h"

#include <algorithm>

void ReplyTimer::sample(qint64 ns)
{
    if (ns < 0)
        return;
    if (count == 0) {
        smoothed = ns;
        variation = ns / 2;
        peak = ns;
    } else {
        const qint64 error = ns > smoothed ? ns - smoothed : smoothed - ns;
        variation += (error - variation) / 4;
        smoothed += (ns - smoothed) / 8;
        // The slowest recent reply, forgotten over some 32 replies.
        peak = ns >= peak ? ns : peak - (peak - smoothed) / 32;
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
    // to learn from, and a reply a few milliseconds late is no lost line. And
    // half as much again as the slowest recent reply: the variation of replies
    // spread evenly (an adapter's latency timer) shrinks whenever a few come
    // in near the middle, and the next slow one would be taken for lost.
    const int floorMs = count >= Timeouts::kFloorLearnSamples ? Timeouts::kSettledFloorMs
                                                              : Timeouts::kResendFloorMs;
    return std::max({ qint64(floorMs) * 1000000LL, smoothed + 4 * variation, 2 * smoothed,
        peak + peak / 2 });
}
