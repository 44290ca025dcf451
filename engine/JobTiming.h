#pragma once
// When things happened in one unit's job, and the reply times learned from
// it; UnitJob carries it, the sequencer resets it with the job.
#include "engine/ReplyTimer.h"

#include <QtGlobal>

// When things happened, on the engine's clock (JobHost::nowNs).
struct JobTiming {
    qint64 startNs = -1; // the job's first step
    qint64 lastSendNs = -1; // the last command, -1 once answered
    qint64 replyNsTotal = 0; // sum of the answered commands' reply times
    int replyCount = 0;
    int linesSent = 0; // framed command lines written
    int resends = 0; // lines that went out again for want of an answer
    // Answers that came for a copy whose line had gone out again meanwhile: the
    // line was not lost, its answer was late. resends less these were lost.
    int lateAnswers = 0;
    // What the copies cost: before each, the time since the last line went
    // out with its answer still awaited (lastSendNs).
    qint64 againWaitNs = 0;
    int sectorsAgain = 0; // sectors erased and written again mid-sector, or after "$P"
    int sectorLinesAgain = 0; // the lines those sectors sent again, "$E" and "$P" included
    // The longest answer this port has shown, counted from the first copy of
    // the line it answered: owed answers are waited for twice as long.
    qint64 longestAnswerNs = 0;
    qint64 silentSinceNs = -1; // the last reply, or the last moment nothing was awaited
    int restarts = 0; // the unit's bootloader started again mid-job
    qint64 captureSentNs = -1; // the first "$G" for a "$Bootloader" not answered yet
    // The unit has sent a reply whose checksum was right: from then on a reply
    // whose checksum is present and wrong was garbled on its way, and is dropped.
    bool checksumsShown = false;
    int garbledReplies = 0; // replies dropped for a wrong checksum
    ReplyTimer dataTimer; // "$D" answers
    ReplyTimer chunkTimer; // "$F" answers

    void reset() { *this = JobTiming(); }
};
