#include "ExplorerHost.h"

#include "engine/Timeouts.h"
#include "link/LineFrame.h"

#include <algorithm>

namespace {
constexpr qint64 kTickNs = Timeouts::kTickMs * 1000000LL;
}

ExplorerHost::ExplorerHost(
    EventQueue &clockRef, LinkUnit &unitRef, ScheduleTrace &traceRef, UpdateMode mode)
    : clock(clockRef)
    , unit(unitRef)
    , trace(traceRef)
{
    engine.inputs.mode = mode;
    port.resetJob();
}

void ExplorerHost::start()
{
    whenRunning(kTickNs, [this] { tick(); });
}

// Runs what at ns, or once the program runs again when the PC is busy then:
// what waited meanwhile then runs in the order the host's dispatcher takes
// (in any order; due timers before reads, as Qt's Unix dispatcher does in one
// pass; or reads first). Afterwards the PC may be busy for a while.
void ExplorerHost::whenRunning(qint64 ns, std::function<void()> what, bool read)
{
    clock.at(ns, [this, what, read] {
        if (clock.now() < busyUntilNs) {
            qint64 at = busyUntilNs + unit.drawHoldNs(0.001, 0.2);
            if ((dispatch == Dispatch::TimersFirst && read)
                || (dispatch == Dispatch::ReadsFirst && !read))
                at += 250000; // after everything of the other kind
            whenRunning(at, what, read);
            return;
        }
        what();
        if (unit.roll(busyShare)) {
            busyUntilNs = clock.now() + unit.drawHoldNs(1, busyMaxMs);
            trace.note(clock.now(), "busy ms", (busyUntilNs - clock.now()) / 1000000);
        }
    });
}

void ExplorerHost::tick()
{
    trace.note(clock.now(), "step");
    engine.tick(&port);
    if (port.status.ended())
        return;
    // A periodic timer: ticks missed while the PC was busy are not made up.
    whenRunning((clock.now() / kTickNs + 1) * kTickNs, [this] { tick(); });
}

void ExplorerHost::sendLine(UnitJob *, char *text)
{
    const int n = CompleteLine(text);
    if (n > 0)
        unit.fromTool(QByteArray(text, n));
}

void ExplorerHost::sendRaw(UnitJob *, const QString &text)
{
    QByteArray line = text.toLatin1();
    if (!line.endsWith('\n'))
        line += '\n';
    unit.fromTool(line);
}

void ExplorerHost::busyFor(qint64 ns)
{
    busyUntilNs = std::max(busyUntilNs, clock.now() + ns);
    trace.note(clock.now(), "busy ms", ns / 1000000);
}

void ExplorerHost::wakeAfter(UnitJob *, int ms)
{
    const quint64 request = ++wakeRequest;
    whenRunning(clock.now() + ms * 1000000LL, [this, request] {
        if (request != wakeRequest)
            return;
        trace.note(clock.now(), "wake");
        engine.wake(&port);
    });
}

void ExplorerHost::arrive(const QByteArray &bytes)
{
    unread += bytes;
    if (readDue)
        return;
    readDue = true;
    whenRunning(clock.now(), [this] { readWaiting(); }, true);
}

void ExplorerHost::readWaiting()
{
    readDue = false;
    if (unread.isEmpty())
        return;
    QByteArray bytes;
    bytes.swap(unread);
    engine.receive(&port, bytes);
}

int ExplorerHost::baud() const
{
    return speed == LinkUnit::kBootloaderBaud ? LinkUnit::kBootloaderBaud
                                              : LinkUnit::kApplicationBaud;
}
