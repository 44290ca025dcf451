#pragma once
// One attached unit, the object every part of a job works on: its serial port,
// its receive line, where its job stands, the guards and timing of that job,
// and what a front end shows of it. Despite its name it is no test.
#include "link/LineFrame.h"
#include "engine/JobProgress.h"
#include "engine/JobTiming.h"
#include "engine/ReplyGuards.h"
#include "engine/UnitStatus.h"

#include <QSerialPort>
#include <cstdint>

class PortTest : public QSerialPort, public JobProgress
{
public:
    PortTest();
    ~PortTest() override;

    // Receive line: the bytes since the last line feed.
    char rxLine[kLineBufferSize];
    std::int16_t rxLength = 0;

    ReplyGuards guards;
    JobTiming timing;
    UnitStatus status;

    // Resets the job's progress, its guards, timing and status for a new job.
    void resetJob();
    // Writes the line just queued at once rather than on the port's next
    // write notification, so it leaves when the job's clock says it did.
    void writeNow();
    // Reads what the system holds for the port now; readyRead() is emitted for
    // it before this returns.
    void readWaiting();
};
