#include "ScheduleTrace.h"

#include <algorithm>
#include <cstring>

void ScheduleTrace::note(qint64 ns, const char *what, const QByteArray &line)
{
    Entry &e = ring[static_cast<size_t>(next)];
    e.ns = ns;
    e.what = what;
    int n = 0;
    for (const char c : line) {
        if (n == static_cast<int>(sizeof e.text) - 1)
            break;
        e.text[n++] = c == '\n' ? '|' : c == '\r' ? '^' : c;
    }
    e.text[n] = '\0';
    next = (next + 1) % static_cast<int>(ring.size());
    size = std::min(size + 1, static_cast<int>(ring.size()));
}

void ScheduleTrace::note(qint64 ns, const char *what, qint64 number)
{
    note(ns, what, QByteArray::number(number));
}

QStringList ScheduleTrace::lines() const
{
    QStringList out;
    const int count = static_cast<int>(ring.size());
    for (int i = 0; i < size; ++i) {
        const Entry &e = ring[static_cast<size_t>((next - size + i + count) % count)];
        out << QStringLiteral("%1 ms  %2  %3")
                   .arg(static_cast<double>(e.ns) / 1e6, 12, 'f', 3)
                   .arg(QLatin1String(e.what), -10)
                   .arg(QLatin1String(e.text));
    }
    return out;
}
