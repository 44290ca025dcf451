#pragma once
// The closing lines of a unit's job log in a technician's words: how long the
// job took, how fast the unit answered, how many copies of lines went out
// again and what they cost, and a hint naming the lines lost when that many
// point at the cable or the adapter.
#include "engine/JobTiming.h"

#include <QString>

namespace JobSummary {

// A link that lost at least this many lines, and at least one in
// kLossyLinkRatio of the lines sent, gets the hint: a good cable loses none,
// and a busy computer now and then costs a copy or two.
constexpr int kLossyLinkResends = 5;
constexpr int kLossyLinkRatio = 1000;

// What went out again in a job: the copies of lines whose answer did not
// come in time, the sectors written again, and what both cost the job.
struct Again {
    int copies = 0; // lines sent again for want of an answer (the "resends")
    int sectors = 0; // sectors erased and written again
    double seconds = 0; // the waits before the copies, and every line sent again
};

// The seconds the lines sent again cost: the waits before the copies, and
// each copy and each line of a sector written again at the average reply time.
double againSeconds(const JobTiming &timing, double averageReplyMs);

// "<port>: job took 14.9 s, replies took 0.11 ms on average, no line was sent again",
// or "..., 1092 copies of lines were sent again when no answer came in time
// (and 2 sectors were written again), which cost about 2.4 s".
QString closingLine(const QString &portName, double seconds, double averageReplyMs, const Again &again);

// "<port>: 79 of the 15702 lines sent were lost on the link ..." when the
// link lost lines (copies sent again for which no late answer came), or "...
// the PC or the unit answered slowly" when the answers came late; otherwise empty.
QString lossyLinkHint(const QString &portName, int resends, int lateAnswers, int linesSent);

} // namespace JobSummary
