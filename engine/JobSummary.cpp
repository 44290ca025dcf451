#include "engine/JobSummary.h"

#include <algorithm>

double JobSummary::againSeconds(const JobTiming &t, double averageReplyMs)
{
    return static_cast<double>(t.againWaitNs) / 1e9
        + (t.resends + t.sectorLinesAgain) * averageReplyMs / 1000.0;
}

QString JobSummary::closingLine(const QString &portName, double seconds, double averageReplyMs,
    const Again &again)
{
    QString text = again.copies == 0 ? QStringLiteral("no line was sent again")
        : again.copies == 1 ? QStringLiteral("1 copy of a line was sent again when no answer came in time")
                            : QStringLiteral("%1 copies of lines were sent again when no answer "
                                             "came in time")
                                  .arg(again.copies);
    if (again.sectors > 0)
        text += again.sectors == 1 ? QStringLiteral(" (and 1 sector was written again)")
                                   : QStringLiteral(" (and %1 sectors were written again)").arg(again.sectors);
    if (again.copies > 0 || again.sectors > 0)
        text += QStringLiteral(", which cost about %1 s").arg(again.seconds, 0, 'f', 1);
    return QStringLiteral("%1: job took %2 s, replies took %3 ms on average, %4")
        .arg(portName)
        .arg(seconds, 0, 'f', 1)
        .arg(averageReplyMs, 0, 'f', 2)
        .arg(text);
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
        return QStringLiteral("%1: %2 of the %3 lines sent were lost on the link (for the other "
                              "copies sent again the answer came late): the link loses lines. "
                              "Check the cable and its plugs, keep it away from motors and mains "
                              "cables, or try another USB port or adapter.")
            .arg(portName)
            .arg(lost)
            .arg(linesSent);
    if (many(resends, linesSent))
        return QStringLiteral("%1: %2 of the %3 lines sent went out again because their answers "
                              "came late, not because they were lost: the PC or the unit answered "
                              "slowly. Close other programs on the PC; if it happens again, "
                              "check the unit.")
            .arg(portName)
            .arg(resends)
            .arg(linesSent);
    return QString();
}
