#pragma once
// The closing lines of a unit's job log in a technician's words: how long the
// job took, how fast the unit answered, how many lines had to be sent again,
// and a hint when that many point at the cable or the adapter.
#include <QString>

namespace JobSummary {

// A link that lost at least this many lines, and at least one in
// kLossyLinkRatio of the lines sent, gets the hint: a good cable loses none,
// and a busy computer now and then costs a copy or two.
constexpr int kLossyLinkResends = 5;
constexpr int kLossyLinkRatio = 1000;

// "<port>: job took 14.9 s, replies took 0.11 ms on average, no line was sent again"
QString closingLine(const QString &portName, double seconds, double averageReplyMs, int resends);

// "<port>: 79 of 15702 lines had to be sent again ..." when the link lost
// lines (lines sent again for which no late answer came), or "... the PC or
// the unit answered slowly" when the answers came late; otherwise empty.
QString lossyLinkHint(const QString &portName, int resends, int lateAnswers, int linesSent);

} // namespace JobSummary
