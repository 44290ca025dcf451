#include "engine/UnitJob.h"

UnitJob::UnitJob(UnitLink &unitLink)
    : link(unitLink)
{
    rxLine[0] = '\0';
}

void UnitJob::resetJob()
{
    resetProgress();
    guards.reset();
    timing.reset();
    status = UnitStatus();
}
