#include "SimReplyQueue.h"

#include "FaultDice.h"
#include "PtyPair.h"
#include "SimConfig.h"
#include "SimWire.h"

#include <algorithm>
#include <unistd.h>

SimReplyQueue::SimReplyQueue(const SimConfig &config, FaultDice &dice, PtyPair &pty,
    const QElapsedTimer &clock, std::function<int()> toolSpeed)
    : config(config)
    , dice(dice)
    , pty(pty)
    , clock(clock)
    , toolSpeed(std::move(toolSpeed))
{
    sendTimer.setSingleShot(true);
    sendTimer.setTimerType(Qt::PreciseTimer);
    connect(&sendTimer, &QTimer::timeout, this, &SimReplyQueue::flushDue);
}

void SimReplyQueue::queue(
    const QByteArray &bytes, int baud, qint64 notBeforeUs, int delayMs, bool pause)
{
    const qint64 now = nowUs();
    qint64 due = std::max(now, notBeforeUs) + static_cast<qint64>(config.latencyMs * 1000);
    if (config.jitterMs > 0)
        due += dice.pick(static_cast<int>(config.jitterMs * 1000) + 1);
    if (config.pace) {
        due = std::max(due, txWireFreeUs) + SimWire::lineUs(bytes.size(), baud);
        txWireFreeUs = due;
    }
    due += static_cast<qint64>(delayMs) * 1000;
    // Behind a pause every line goes out in a write of its own, at least a
    // millisecond after the one before (an adapter with its latency timer at
    // 1 ms hands them over a USB packet a millisecond), so the tool reads
    // them one by one, not all in one read.
    qint64 gapUs = 0;
    if (pauseEndUs >= 0 && !pause) {
        const qint64 next
            = lastQueuedUs + std::max<qint64>(1000, SimWire::lineUs(bytes.size(), baud));
        if (due >= next) {
            pauseEndUs = -1; // this line comes after the pause's tail anyway
        } else {
            due = next;
            gapUs = next - lastQueuedUs;
        }
    }
    // A serial line keeps order: a reply held back holds back those after it.
    due = std::max(due, lastQueuedUs);
    lastQueuedUs = due;
    if (pause)
        pauseEndUs = due;

    const Outgoing out { due, bytes, baud, gapUs };
    if (due <= now && pending.empty() && (lastWriteUs < 0 || now >= lastWriteUs + gapUs)) {
        deliver(out);
        return;
    }
    auto at = std::upper_bound(pending.begin(), pending.end(), due,
        [](qint64 d, const Outgoing &o) { return d < o.dueUs; });
    pending.insert(at, out);
    flushDue();
}

void SimReplyQueue::flushDue()
{
    // Lines due within half a millisecond go now: the timer counts in whole ones.
    // A line that must keep its gap to the one before keeps it even when this
    // program ran late.
    const qint64 now = nowUs();
    qint64 gapDueUs = -1;
    while (!pending.empty() && pending.front().dueUs <= now + 500) {
        const Outgoing out = pending.front();
        if (out.gapUs > 0 && lastWriteUs >= 0 && now < lastWriteUs + out.gapUs) {
            gapDueUs = lastWriteUs + out.gapUs;
            break;
        }
        pending.pop_front();
        deliver(out);
    }
    if (!pending.empty()) {
        const qint64 waitUs = std::max(pending.front().dueUs, gapDueUs) - now;
        sendTimer.start(static_cast<int>((waitUs + 500) / 1000));
    }
}

void SimReplyQueue::deliver(const Outgoing &out)
{
    const int baud = toolSpeed();
    if (baud < 0)
        return;
    if (baud != out.baud) {
        ++notDelivered;
        return;
    }
    lastWriteUs = nowUs();
    const ssize_t n
        = ::write(pty.masterFd(), out.bytes.constData(), static_cast<size_t>(out.bytes.size()));
    const qint64 written = n > 0 ? n : 0;
    bytesToTool += written;
    bytesLost += out.bytes.size() - written;
    ++linesToTool;
}

void SimReplyQueue::restart()
{
    clear();
    txWireFreeUs = 0;
    pauseEndUs = -1;
}

void SimReplyQueue::clear()
{
    sendTimer.stop();
    pending.clear();
}
