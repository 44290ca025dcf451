#pragma once
// The job of one attached unit, as the engine keeps it: where the job stands,
// the receive line, the guards and timing of the job and what a front end
// shows of it, beside the link the unit is reached through (not owned).
#include "link/LineFrame.h"
#include "engine/JobProgress.h"
#include "engine/JobTiming.h"
#include "engine/ReplyGuards.h"
#include "engine/UnitLink.h"
#include "engine/UnitStatus.h"

#include <cstdint>

class UnitJob : public JobProgress
{
public:
    explicit UnitJob(UnitLink &unitLink);
    UnitJob(const UnitJob &) = delete;
    UnitJob &operator=(const UnitJob &) = delete;

    UnitLink &link;

    // Receive line: the bytes since the last line feed.
    char rxLine[kLineBufferSize];
    std::int16_t rxLength = 0;

    ReplyGuards guards;
    JobTiming timing;
    UnitStatus status;

    // The unit's port, as its link names it.
    QString portName() const { return link.name(); }
    // Resets the job's progress, its guards, timing and status for a new job.
    void resetJob();
};
