#include "EventQueue.h"

#include <algorithm>

void EventQueue::at(qint64 ns, std::function<void()> what)
{
    events.push(Event { std::max(ns, nowNs), queued++, std::move(what) });
}

bool EventQueue::runNext()
{
    if (events.empty())
        return false;
    // The event leaves the queue before it runs: it may queue others.
    Event next = events.top();
    events.pop();
    nowNs = next.ns;
    next.what();
    return true;
}
