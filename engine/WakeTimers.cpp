#include "engine/WakeTimers.h"

#include "engine/PortTest.h"

#include <QTimer>

WakeTimers::WakeTimers(std::function<void(PortTest *)> wakeUp)
    : wake(std::move(wakeUp))
{
}

void WakeTimers::wakeAfter(PortTest *port, int ms)
{
    static const QString name = QStringLiteral("zq-wake");
    auto *timer = port->findChild<QTimer *>(name, Qt::FindDirectChildrenOnly);
    if (timer == nullptr) {
        timer = new QTimer(port);
        timer->setObjectName(name);
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(timer, &QTimer::timeout, port, [this, port] { wake(port); });
    }
    timer->start(ms);
}
