#include "FaultDice.h"

bool FaultDice::roll(double share, const char *what, qint64 index)
{
    if (share <= 0)
        return false;
    // The raw 32-bit output, so the decisions don't depend on the standard
    // library's distribution code.
    const double u = static_cast<double>(engine()) / 4294967296.0;
    if (u >= share)
        return false;
    const QString entry = QStringLiteral("%1 %2").arg(QLatin1String(what)).arg(index);
    if (decisions.size() < kTraceLimit)
        decisions.append(entry);
    for (QChar c : entry) {
        hash ^= c.unicode();
        hash *= 1099511628211ull;
    }
    return true;
}

int FaultDice::pick(int n)
{
    return n > 0 ? static_cast<int>(engine() % static_cast<quint32>(n)) : 0;
}
