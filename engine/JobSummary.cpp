#include "engine/JobSummary.h"

#include <algorithm>

QString JobSummary::closingLine(const QString &portName, double seconds, double averageReplyMs,
    int resends)
{
    const QString again = resends == 0 ? QStringLiteral("no line was sent again")
        : resends == 1                 ? QStringLiteral("1 line was sent again")
                                       : QStringLiteral("%1 lines were sent again").arg(resends);
    return QStringLiteral("%1: job took %2 s, replies took %3 ms on average, %4")
        .arg(portName)
        .arg(seconds, 0, 'f', 1)
        .arg(averageReplyMs, 0, 'f', 2)
        .arg(again);
}

namespace {
bool many(int count, int linesSent)
{
    return count >= JobSummary::kLossyLinkResends
        && static_cast<qint64>(count) * JobSummary::kLossyLinkRatio >= linesSent;
}
} // namespace

QString JobSummary::lossyLinkHint(const QString &portName, int resends, int lateAnswers, int linesSent)
{
    const int lost = std::max(0, resends - lateAnswers);
    if (many(lost, linesSent))
        return QStringLiteral("%1: %2 of %3 lines had to be sent again: the link loses lines. "
                              "Check the cable and its plugs, keep it away from motors and mains "
                              "cables, or try another USB port or adapter.")
            .arg(portName)
            .arg(lost)
            .arg(linesSent);
    if (many(resends, linesSent))
        return QStringLiteral("%1: %2 of %3 lines were sent again because their answers came "
                              "late, not because they were lost: the PC or the unit answered "
                              "slowly. Close other programs on the PC; if it happens again, "
                              "check the unit.")
            .arg(portName)
            .arg(resends)
            .arg(linesSent);
    return QString();
}
