// Ctrl-C on Windows: the console's control handler runs on a thread of its
// own, so it only queues the signal for the event loop and tells the system
// the event is handled.
#include "SignalRelay.h"

#include <QMetaObject>
#include <windows.h>

namespace {

SignalRelay *relay = nullptr;

BOOL WINAPI onControl(DWORD type)
{
    if (relay == nullptr || (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT))
        return FALSE;
    QMetaObject::invokeMethod(relay, "interrupted", Qt::QueuedConnection, Q_ARG(int, 2));
    return TRUE;
}

} // namespace

// Windows has no SIGPIPE: a write to a closed pipe already fails.
void SignalRelay::ignoreBrokenPipe() { }

SignalRelay::SignalRelay(QObject *parent)
    : QObject(parent)
{
    relay = this;
    SetConsoleCtrlHandler(onControl, TRUE);
}

SignalRelay::~SignalRelay()
{
    SetConsoleCtrlHandler(onControl, FALSE);
    relay = nullptr;
}
