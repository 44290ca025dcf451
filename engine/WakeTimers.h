#pragma once
// The engine's wake-ups on a real clock (JobHost::wakeAfter): one single-shot
// timer per port, owned by the port, so a front end only forwards the request.
#include <functional>

class PortTest;

class WakeTimers
{
public:
    explicit WakeTimers(std::function<void(PortTest *)> wake);

    // Calls wake(port) once ms have passed; replaces the port's earlier request.
    void wakeAfter(PortTest *port, int ms);

private:
    std::function<void(PortTest *)> wake;
};
