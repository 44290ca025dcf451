#include "ExplorerHost.h"

#include "engine/Timeouts.h"
#include "link/LineFrame.h"

namespace {
constexpr qint64 kTickNs = Timeouts::kTickMs * 1000000LL;
}

ExplorerHost::ExplorerHost(
    EventQueue &clockRef, LinkUnit &unitRef, ScheduleTrace &traceRef, int mode)
    : clock(clockRef)
    , unit(unitRef)
    , trace(traceRef)
{
    engine.inputs.mode = mode;
    port.resetJob();
}

void ExplorerHost::start(int address)
{
    firstAddress = address;
    whenRunning(kTickNs, [this] { tick(); });
}

// Runs what at ns, or once the program runs again when the PC is busy then
// (what waited meanwhile then runs in any order: a timer's event may come
// before the read of bytes that arrived first); afterwards the PC may be busy
// for a while.
void ExplorerHost::whenRunning(qint64 ns, std::function<void()> what)
{
    clock.at(ns, [this, what] {
        if (clock.now() < busyUntilNs) {
            whenRunning(busyUntilNs + unit.drawHoldNs(0.001, 0.2), what);
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
    engine.step(&port);
    if (firstAddress > port.address && port.jobState == ProgramFirmware
        && port.sectorStep == SectorStart)
        port.address = firstAddress;
    if (port.status.ended())
        return;
    // A periodic timer: ticks missed while the PC was busy are not made up.
    whenRunning((clock.now() / kTickNs + 1) * kTickNs, [this] { tick(); });
}

void ExplorerHost::sendLine(PortTest *, char *text)
{
    const int n = CompleteLine(text);
    if (n > 0)
        unit.fromTool(QByteArray(text, n));
}

void ExplorerHost::sendRaw(PortTest *, const QString &text)
{
    QByteArray line = text.toLatin1();
    if (!line.endsWith('\n'))
        line += '\n';
    unit.fromTool(line);
}

void ExplorerHost::wakeAfter(PortTest *, int ms)
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
    whenRunning(clock.now(), [this] {
        readDue = false;
        QByteArray bytes;
        bytes.swap(unread);
        engine.receive(&port, bytes);
    });
}

int ExplorerHost::baud() const
{
    return port.baudRate() == LinkUnit::kBootloaderBaud ? LinkUnit::kBootloaderBaud
                                                        : LinkUnit::kApplicationBaud;
}
