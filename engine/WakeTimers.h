#pragma once
// The engine's wake-ups on a real clock (JobHost::wakeAfter): one single-shot
// timer per port, kept here until the port's job is forgotten, so a front end
// only forwards the request.
#include <functional>
#include <map>
#include <memory>

class UnitJob;
class QTimer;

class WakeTimers
{
public:
    explicit WakeTimers(std::function<void(UnitJob *)> wake);
    ~WakeTimers();
    WakeTimers(const WakeTimers &) = delete;
    WakeTimers &operator=(const WakeTimers &) = delete;

    // Calls wake(port) once ms have passed; replaces the port's earlier request.
    void wakeAfter(UnitJob *port, int ms);
    // The port's job is going: its wake-up, if any, is dropped.
    void forget(const UnitJob *port);

private:
    std::function<void(UnitJob *)> wake;
    std::map<const UnitJob *, std::unique_ptr<QTimer>> timers;
};
