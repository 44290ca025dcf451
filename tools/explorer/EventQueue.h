#pragma once
// The explorer's simulated clock: events ordered by time (and, at the same
// time, by when they were queued), run one by one. Nothing waits for real time.
#include <QtGlobal>

#include <functional>
#include <queue>
#include <vector>

class EventQueue
{
public:
    qint64 now() const
    {
        return nowNs;
    }
    // Runs what at ns (at once when ns is not later than now).
    void at(qint64 ns, std::function<void()> what);
    // Runs the earliest event; false when none is left.
    bool runNext();
    bool empty() const
    {
        return events.empty();
    }

private:
    struct Event {
        qint64 ns;
        quint64 order;
        std::function<void()> what;
        bool operator>(const Event &o) const
        {
            return ns != o.ns ? ns > o.ns : order > o.order;
        }
    };
    std::priority_queue<Event, std::vector<Event>, std::greater<Event>> events;
    qint64 nowNs = 0;
    quint64 queued = 0;
};
