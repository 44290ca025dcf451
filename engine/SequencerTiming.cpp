// The sequencer's clock-driven part: the learned resend of "$D" and "$F" and
// the hold for answers owed to earlier copies. The end of a job whose unit
// fell silent or keeps restarting is in SequencerEnding.cpp.
#include "engine/Sequencer.h"

#include "link/Diagnostics.h"
#include "engine/JobHost.h"
#include "engine/UnitJob.h"
#include "engine/Protocol.h"
#include "engine/Timeouts.h"

#include <algorithm>

using namespace Timeouts;

namespace {
// A wake-up or step this much later than the wake-up asked for means this
// program did not run for a while: an answer may be waiting unread.
bool lateFor(qint64 nowNs, qint64 dueNs)
{
    return dueNs >= 0 && nowNs - dueNs > kLateWakeMs * 1000000LL;
}
} // namespace

// How long an answer may still come after its copy went out: the longest
// pause the promise covers, plus the answer's own way back (the longest answer
// shown, at least kWayBackMs): a pause holds back an answer that was on its
// way already, and the answers queued behind a held one follow it. The
// promise that no answer is counted for the wrong line rests on it.
qint64 Sequencer::horizonNs(const UnitJob *port) const
{
    constexpr qint64 cap = qint64(kLongestPauseMs) * 1000000LL;
    const qint64 longest = port->timing.longestAnswerNs;
    const qint64 pause = std::min(std::max(qint64(kOwedHorizonMs) * 1000000LL, 2 * longest), cap);
    // The cap is the pause's: the way back comes on top of it (a cap on the
    // sum left an answer held exactly kLongestPauseMs no time to arrive). The
    // hold lasts kSettleSteps, as long as the longest horizon: a horizon longer
    // than the hold would leave copies owed after it, every answer would then
    // be taken by one of them, the lines would take longer, and the horizon
    // grow with them.
    return pause + std::max(qint64(kWayBackMs) * 1000000LL, std::min(longest, cap));
}

// An answer came this long after the first copy of the line it answers.
void Sequencer::noteAnswer(UnitJob *port, qint64 sinceFirstCopyNs)
{
    qint64 &longest = port->timing.longestAnswerNs;
    longest = std::max(longest, sinceFirstCopyNs);
}

// The copies whose owed answers hold the next command in the job's state.
const AnswerLedger *Sequencer::heldLedger(const UnitJob *port) const
{
    if (port->jobState == JobState::ProgramFirmware)
        return &port->guards.firmware.dataCopies;
    if (port->jobState == JobState::SendImages)
        return &port->guards.images.headerCopies;
    return nullptr;
}

// A step spends one of the hold's steps while an earlier copy may still be
// answered: true while the next "$D" or "$I" is held, and the hold ends (false)
// once nothing is owed or its steps are spent. The step count bounds the hold;
// after it the ledger still places every answer, at the price of a copy more
// per line.
bool Sequencer::spendHoldStep(UnitJob *port, const AnswerLedger &ledger)
{
    ReplyGuards &g = port->guards;
    const qint64 now = host.nowNs();
    // The hold's wake-up ends it, with more time for the owed answers when it
    // comes late. A step after the hold's end and before that wake-up (or
    // within its grace) runs late too: an owed answer may be waiting unread.
    const bool wakeToCome
        = g.waits.wakeGraced ? now < g.waits.wakeDueNs : lateFor(now, g.waits.wakeDueNs);
    if (g.waits.holdSteps > 0 && (ledger.owedUntilNs(now, horizonNs(port)) >= 0 || wakeToCome)) {
        --g.waits.holdSteps;
        return true;
    }
    g.waits.holdSteps = 0;
    return false;
}

// The "$D" lines of the current sector still to be written.
int Sequencer::linesLeftInSector(const UnitJob *port)
{
    return (Protocol::kSectorSize - port->address % Protocol::kSectorSize)
        / Protocol::kDataLineBytes;
}

// An answer was counted for its line: while another copy may still be
// answered, the next command of its kind waits for that answer (or for the
// moment it can no longer come). Sending on is as safe (the ledger places
// every answer) but costs each of the linesLeft lines of a "$D" sector one
// more copy per owed answer that never comes: when that is the cheaper, the
// lines go on at once.
void Sequencer::holdForOwed(
    UnitJob *port, const AnswerLedger &ledger, int linesLeft, bool answersQueued)
{
    const qint64 now = host.nowNs();
    const qint64 until = ledger.owedUntilNs(now, horizonNs(port));
    const JobTiming &t = port->timing;
    const qint64 reply = t.replyCount > 0 ? t.replyNsTotal / t.replyCount : 0;
    const qint64 owed = ledger.owedCount(now, horizonNs(port));
    // With several copies owed, each line sent on needs more copies still, and
    // an answer an owed copy takes counts from the first copy of that copy's
    // line, several answers back: the longest answer shown, and with it every
    // later wait, grew by a line's time with each line. That matters only
    // while those waits are short.
    const bool sendOnAllowed
        = owed == 1 || t.longestAnswerNs > qint64(kSeveralOwedSendOnMs) * 1000000LL;
    const bool sendOn = linesLeft >= 0 && t.replyCount > 0 && sendOnAllowed
        && until - now > linesLeft * owed * reply;
    const bool erase = until >= 0 && linesLeft > 0 && t.replyCount > 0
        && eraseSettlesSooner(port, linesLeft, reply, until - now,
            sendOn ? linesLeft * owed * reply : until - now);
    ReplyGuards::Waits &w = port->guards.waits;
    // When the line went out again before its answer came (answersQueued),
    // that answer may have been held back, and the answers to its later
    // copies, queued behind it, come right after it, often in the next read:
    // before the lines go on or the sector is erased again, they get one
    // learned time-out to arrive and end the hold.
    const qint64 grace = t.dataTimer.learned() ? t.dataTimer.timeoutNs() : 0;
    if ((sendOn || erase) && answersQueued && w.choiceDueNs < 0 && grace > 0
        && now + grace < until) {
        w.choiceDueNs = now + grace;
        w.holdSteps = kSettleSteps;
        w.wakeGraced = false;
        wakeAt(port, w.choiceDueNs);
        return;
    }
    w.choiceDueNs = -1;
    if (erase) {
        eraseAgain(port, until);
        return;
    }
    port->guards.waits.holdSteps = until < 0 || sendOn ? 0 : kSettleSteps;
    if (port->guards.waits.holdSteps > 0) {
        port->guards.waits.wakeGraced = false;
        wakeAt(port, until);
    }
}

// The link keeps order, so the "$EACK" of a "$E" sent now comes after the
// answers of every "$D" copy sent before it: a "$E" settles every answer
// owed, and the sector's lines are written again from its first. That costs
// the lines already written, against a hold of up to twice the longest answer
// shown, or a second copy of each line left: true when it is the cheapest.
// Once a sector, while its one "$E" was answered (the next "$EACK" is then
// the new one's), and when the port has shown checksums (no garbled "$DACK"
// passes for an "$EACK"). Once: a unit that holds back the same line's
// answer every time it is written would otherwise never get past it.
bool Sequencer::eraseSettlesSooner(const UnitJob *port, int linesLeft, qint64 replyNs,
    qint64 holdNs, qint64 otherwiseNs) const
{
    const ReplyGuards::Firmware &f = port->guards.firmware;
    const JobTiming &t = port->timing;
    if (port->jobState != JobState::ProgramFirmware || port->sectorStep != SectorStep::Data || !f.sectorErased
        || f.eraseAfterLine.size() != 1 || f.eraseAnswers != 1 || !t.checksumsShown)
        return false;
    constexpr int kSectorLines = Protocol::kSectorSize / Protocol::kDataLineBytes;
    const int linesDone = kSectorLines - linesLeft;
    // A lost "$E" or "$EACK" costs the hold after all, and the sector twice.
    const double lost = t.linesSent > 0
        ? std::max(0, t.resends - t.lateAnswers) / static_cast<double>(t.linesSent)
        : 0;
    const double eraseNs = (linesDone + 1) * static_cast<double>(replyNs)
        + 2 * lost * (2 * static_cast<double>(holdNs) + 2 * kSectorLines * static_cast<double>(replyNs));
    return eraseNs < static_cast<double>(otherwiseNs);
}

// Sends the sector's "$E" again and holds its first line until the "$EACK"
// (which settles the owed answers) or until they can no longer come.
void Sequencer::eraseAgain(UnitJob *port, qint64 untilNs)
{
    ReplyGuards::Waits &w = port->guards.waits;
    qCDebug(lcJob).noquote() << port->portName() << "erasing the sector at" << Qt::hex
                             << port->address - port->address % Protocol::kSectorSize
                             << "again: its owed answers come before the $EACK";
    ++port->timing.sectorsAgain;
    port->timing.sectorLinesAgain += port->address % Protocol::kSectorSize / Protocol::kDataLineBytes + 1;
    port->address -= port->address % Protocol::kSectorSize;
    sendSectorErase(port);
    port->sectorStep = SectorStep::Data;
    commandDueNow(port);
    w.holdSteps = kSettleSteps;
    w.wakeGraced = false;
    wakeAt(port, untilNs);
}

// An answer owed to an earlier copy came while the next command was held:
// when nothing more is owed, it goes out now.
void Sequencer::releaseHold(UnitJob *port, const AnswerLedger &ledger)
{
    ReplyGuards &g = port->guards;
    if (g.waits.holdSteps > 0 && ledger.owedUntilNs(host.nowNs(), horizonNs(port)) < 0) {
        g.waits.holdSteps = 0;
        g.waits.choiceDueNs = -1;
        step(port);
    }
}

const ReplyTimer *Sequencer::awaitedTimer(const UnitJob *port) const
{
    const ReplyTimer *timer = nullptr;
    if (port->guards.waits.awaited == AwaitedLine::Data)
        timer = &port->timing.dataTimer;
    else if (port->guards.waits.awaited == AwaitedLine::Chunk)
        timer = &port->timing.chunkTimer;
    return timer != nullptr && timer->learned() ? timer : nullptr;
}

void Sequencer::wakeAt(UnitJob *port, qint64 ns)
{
    port->guards.waits.wakeDueNs = ns;
    const qint64 ms = (ns - host.nowNs() + 999999) / 1000000;
    host.wakeAfter(port, static_cast<int>(std::max<qint64>(1, ms)));
}

// When the latest copy of the awaited "$D" or "$F" is due to go out again: one
// learned time-out after it, and for the fourth copy on doubled for each copy
// before the third, as a transport protocol backs off, so an answer held up for
// long costs a few copies, not one every time-out. A line lost twice (one in
// some 2,500 on a link that loses 1 % each way) then shows an answer some 27 ms
// after its first copy, not 40: the longest answer shown sets every
// later wait for owed answers.
qint64 Sequencer::resendDueNs(const UnitJob *port, const ReplyTimer &timer) const
{
    const ReplyGuards &g = port->guards;
    // Copies the unit has not answered: an answer owed to an earlier copy
    // shows the link is alive, and the line it sends again starts afresh.
    const int copies = g.waits.awaited == AwaitedLine::Data ? g.firmware.dataUnanswered : g.images.chunkSends;
    const int doublings = std::min(std::max(copies - 2, 0), kMaxBackOffs);
    return g.waits.lastCopyNs + (timer.timeoutNs() << doublings);
}

// After a "$D" or "$F" went out: its resend is due at the learned time-out.
void Sequencer::armResend(UnitJob *port)
{
    if (const ReplyTimer *timer = awaitedTimer(port))
        wakeAt(port, resendDueNs(port, *timer));
}

// A wake-up more than kLateWakeMs late means this program did not run for a
// while: an answer that came in time may be waiting unread, and read after
// the next line went out it would be counted for that line. Once, it gets
// kWayBackMs more; true when it did.
bool Sequencer::graceLateWake(UnitJob *port, qint64 now)
{
    ReplyGuards::Waits &w = port->guards.waits;
    if (w.wakeGraced || !lateFor(now, w.wakeDueNs))
        return false;
    w.wakeGraced = true;
    wakeAt(port, now + kWayBackMs * 1000000LL);
    return true;
}

// The wake-up of a hold for owed answers (holdSteps > 0).
void Sequencer::wakeHeld(UnitJob *port)
{
    const qint64 now = host.nowNs();
    ReplyGuards &g = port->guards;
    const AnswerLedger *ledger = heldLedger(port);
    const qint64 until = ledger != nullptr ? ledger->owedUntilNs(now, horizonNs(port)) : -1;
    if (until >= 0 && g.waits.choiceDueNs >= 0 && now >= g.waits.choiceDueNs
        && port->jobState == JobState::ProgramFirmware && port->sectorStep == SectorStep::Data) {
        // Answers are still owed after the time-out given them: the lines
        // go on, the sector is erased again, or the hold goes on.
        holdForOwed(port, g.firmware.dataCopies, linesLeftInSector(port));
        if (g.waits.holdSteps == 0)
            step(port);
        return;
    }
    if (until >= 0) {
        wakeAt(port, until);
        return;
    }
    if (graceLateWake(port, now))
        return;
    g.waits.holdSteps = 0;
    step(port); // no answer is owed any more: the held command goes out now
}

void Sequencer::wake(UnitJob *port)
{
    // A reply that came before this wake-up was due is read before anything
    // goes out: whatever order the event loop runs timers and reads in.
    port->link.readWaiting();
    if (port->status.ended() || port->jobState == JobState::Finish)
        return;
    if (port->guards.waits.holdSteps > 0) {
        wakeHeld(port);
        return;
    }
    const qint64 now = host.nowNs();
    ReplyGuards &g = port->guards;
    const ReplyTimer *timer = awaitedTimer(port);
    if (timer == nullptr)
        return;
    qint64 due = resendDueNs(port, *timer);
    if (g.waits.wakeGraced)
        due = std::max(due, g.waits.wakeDueNs);
    if (now < due) {
        wakeAt(port, due);
        return;
    }
    if (graceLateWake(port, now))
        return;
    if (g.waits.awaited == AwaitedLine::Data && port->jobState == JobState::ProgramFirmware
        && port->sectorStep == SectorStep::Data) {
        commandDueNow(port);
        step(port);
    } else if (g.waits.awaited == AwaitedLine::Chunk && port->jobState == JobState::SendImages
        && (port->imageStep == ImageStep::Chunks || port->imageStep == ImageStep::Restart)) {
        // The chunk at imageOffset (the last one too) goes out again.
        port->imageStep = ImageStep::Chunks;
        port->stepCountdown = 0;
        step(port);
    }
}
