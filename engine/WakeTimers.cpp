#include "engine/WakeTimers.h"

#include <QTimer>

WakeTimers::WakeTimers(std::function<void(UnitJob *)> wakeUp)
    : wake(std::move(wakeUp))
{
}

WakeTimers::~WakeTimers() = default;

void WakeTimers::wakeAfter(UnitJob *port, int ms)
{
    std::unique_ptr<QTimer> &timer = timers[port];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer.get(), &QTimer::timeout, timer.get(), [this, port] { wake(port); });
    }
    timer->start(ms);
}

void WakeTimers::forget(const UnitJob *port)
{
    timers.erase(port);
}
