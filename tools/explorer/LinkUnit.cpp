#include "LinkUnit.h"

#include "link/LineFrame.h"

#include <QtGlobal>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr qint64 kMs = 1000000;
constexpr qint64 kUsbNs = 200000; // the tool's write to the adapter's wire
constexpr qint64 kAnnounceNs = 100 * kMs; // "$Bootloader" period
constexpr qint64 kRestartNs = 200 * kMs; // "$BOOTLOADM" until the bootloader runs

qint64 byteNs(int baud)
{
    return 10 * 1000000000LL / baud; // 10 bits a byte
}

// The fields after the command word, read as hexadecimal numbers.
std::vector<quint32> numbers(const QByteArray &body)
{
    std::vector<quint32> out;
    out.reserve(70);
    int i = body.indexOf(',');
    while (i >= 0 && i < body.size()) {
        quint32 value = 0;
        for (++i; i < body.size() && body[i] != ','; ++i) {
            const char c = body[i];
            value = value * 16 + static_cast<quint32>(c <= '9' ? c - '0' : (c & ~0x20) - 'A' + 10);
        }
        out.push_back(value);
    }
    return out;
}

QByteArray bytesOf(const std::vector<quint32> &fields, size_t first)
{
    QByteArray bytes;
    bytes.reserve(static_cast<int>(fields.size()));
    for (size_t i = first; i < fields.size(); ++i)
        bytes.append(static_cast<char>(fields[i] & 0xFF));
    return bytes;
}

} // namespace

LinkUnit::LinkUnit(
    EventQueue &clockRef, std::mt19937 &diceRef, ScheduleTrace &traceRef, const LinkFaults &f)
    : clock(clockRef)
    , dice(diceRef)
    , trace(traceRef)
    , faults(f)
    , flipDice(f.flipSeed)
{
    if (faults.startInBootloader)
        clock.at(0, [this] { enterBootloader(); });
}

bool LinkUnit::roll(double share)
{
    return share > 0 && std::uniform_real_distribution<double>(0, 1)(dice) < share;
}

qint64 LinkUnit::holdCapNs() const
{
    if (faults.promiseFactor <= 0)
        return std::numeric_limits<qint64>::max();
    // The promise: max(50 ms, twice the longest answer shown), at most 4 s.
    const qint64 bound = std::min(std::max(50 * kMs, 2 * longestAnswerNs), 4000 * kMs);
    return static_cast<qint64>(faults.promiseFactor * static_cast<double>(bound));
}

qint64 LinkUnit::drawHoldNs(double minMs, double maxMs)
{
    const double ms
        = std::exp(std::uniform_real_distribution<double>(std::log(minMs), std::log(maxMs))(dice));
    return std::min(static_cast<qint64>(ms * kMs), holdCapNs());
}

qint64 LinkUnit::promisedRoundTripNs() const
{
    // The pause covered and the answer's way back on top of it.
    const qint64 cap = 4000 * kMs;
    const qint64 pause = std::min(std::max(50 * kMs, 2 * longestAnswerNs), cap);
    const qint64 back = std::max(20 * kMs, std::min(longestAnswerNs, cap));
    return pause + back;
}

qint64 LinkUnit::roundTripCapNs() const
{
    if (faults.promiseFactor <= 0)
        return std::numeric_limits<qint64>::max();
    return static_cast<qint64>(faults.promiseFactor * static_cast<double>(promisedRoundTripNs()));
}

qint64 LinkUnit::answerDueNs(qint64 sentNs) const
{
    // The answer's way back: the adapter's latency, the answers on their way
    // or still to be given ahead of it, and a little.
    const qint64 ahead = static_cast<qint64>(unread.size() + outgoing.size());
    const qint64 wayBack = static_cast<qint64>(faults.latencyMs * kMs) + 3 * kMs
        + ahead * 16 * byteNs(kBootloaderBaud);
    const qint64 cap = roundTripCapNs();
    return cap == std::numeric_limits<qint64>::max() ? cap : sentNs + cap - wayBack;
}

int LinkUnit::baud() const
{
    return stage == Stage::Running   ? kApplicationBaud
        : stage == Stage::Bootloader ? kBootloaderBaud
                                     : 0;
}

// --- the tool's lines ---------------------------------------------------------

void LinkUnit::fromTool(const QByteArray &line)
{
    const int speed = toolBaud();
    const qint64 now = clock.now();
    toUnitFreeNs = std::max(now + kUsbNs, toUnitFreeNs) + line.size() * byteNs(speed);
    trace.note(now, "tool>", line);

    const int star = line.indexOf('*');
    const QByteArray body = line.mid(1, (star < 0 ? line.size() - 1 : star) - 1);
    if (body.startsWith('E') || body.startsWith('I'))
        firstCopyNs.clear(); // a new sector or image: its lines are new
    if (!firstCopyNs.contains(body))
        firstCopyNs.insert(body, now);
    const int scripted = faults.script.isEmpty() ? -1 : scriptedFor(body);
    if (scripted >= 0 && faults.script.at(scripted).what == ScriptedFault::LoseCommand) {
        trace.note(now, "lost>", line);
        return;
    }
    if (scripted >= 0 && faults.script.at(scripted).what == ScriptedFault::GarbleCommand) {
        trace.note(now, "garbled>", line); // the unit's checksum drops it
        return;
    }

    const bool hit = !faults.dataLinesOnly || body.startsWith('D') || body.startsWith('F');
    if (hit && roll(faults.lostToUnit)) {
        trace.note(now, "lost>", line);
        return;
    }
    if (hit && roll(faults.garbledToUnit)) {
        trace.note(now, "garbled>", line); // the unit's checksum drops it
        return;
    }
    clock.at(
        toUnitFreeNs, [this, body, speed, scripted, now] { receive(body, speed, scripted, now); });
}

int LinkUnit::scriptedFor(const QByteArray &body)
{
    const bool line = body.startsWith('D') || body.startsWith('F');
    if (body.startsWith('E')) {
        toolSector = numbers(body).at(0);
        lineCopies.clear();
    } else if (body.startsWith('I')) {
        lineCopies.clear();
    }
    const int copy = ++(line ? lineCopies : otherCopies)[body];
    int found = -1;
    for (int i = 0; i < faults.script.size(); ++i) {
        const ScriptedFault &f = faults.script.at(i);
        if (!body.startsWith(f.command) || f.copy != copy
            || (f.sector >= 0 && body.startsWith('D') && f.sector != toolSector)
            || scriptedDone.contains(i))
            continue;
        if (f.once)
            scriptedDone.insert(i);
        if (f.what != ScriptedFault::Busy) {
            if (found < 0)
                found = i;
        } else if (pcBusy) {
            const qint64 busyNs = static_cast<qint64>(f.ms * kMs);
            clock.at(clock.now() + static_cast<qint64>(f.afterMs * kMs),
                [this, busyNs] { pcBusy(busyNs); });
        }
    }
    return found;
}

void LinkUnit::receive(const QByteArray &body, int speed, int scripted, qint64 sentNs)
{
    if (speed != baud())
        return; // at the wrong speed the unit's UART sees garbage
    const qint64 now = clock.now();
    if (now < deafUntilNs) {
        trace.note(now, "overrun>", body);
        return;
    }
    if (now >= readAgainNs && unread.empty()) {
        take(body, scripted, sentNs, false);
        return;
    }
    trace.note(now, "unread>", body);
    unread.push_back(Unread { body, scripted, sentNs });
    capReadStop();
    if (!readAgainDue) {
        readAgainDue = true;
        clock.at(readAgainNs, [this] { readAgain(); });
    }
}

// A stop within the promise ends in time for the oldest copy waiting to be
// answered within the round trip the promise covers.
void LinkUnit::capReadStop()
{
    if (readStopCapped && !unread.empty())
        readAgainNs
            = std::max(clock.now(), std::min(readAgainNs, answerDueNs(unread.front().sentNs)));
}

void LinkUnit::readAgain()
{
    readAgainDue = false;
    while (!unread.empty()) {
        if (clock.now() < readAgainNs) {
            readAgainDue = true; // a line taken stopped the reading again
            clock.at(readAgainNs, [this] { readAgain(); });
            return;
        }
        const Unread line = unread.front();
        unread.pop_front();
        take(line.body, line.fault, line.sentNs, true);
    }
}

void LinkUnit::take(const QByteArray &body, int scripted, qint64 sentNs, bool fromBuffer)
{
    answerFault = scripted;
    takenSentNs = sentNs;
    takenUnread = fromBuffer;
    if (stage == Stage::Running) {
        if (body == "MVER") {
            answer("MVERR,D.02m", body);
        } else if (body == "BOOTLOADM") {
            stage = Stage::Restarting;
            clock.at(clock.now() + kRestartNs, [this] { enterBootloader(); });
        }
        return;
    }
    if (!captured) {
        if (body == "G") {
            captured = true;
            answer("GACK", body);
        }
        return;
    }
    command(body);
    answerFault = -1;
    if (++commands == faults.restartAfter)
        restart();
}

void LinkUnit::command(const QByteArray &body)
{
    const char word = body.at(0);
    const bool bare = body.size() == 1;
    const std::vector<quint32> f = numbers(body);
    if (word == 'G' && bare) {
        answer("GACK", body);
    } else if (word == 'E' && f.size() == 2) {
        flash.erase(f[0], f[1]);
        linesStored = 0;
        answer("EACK", body, f[0]);
    } else if (word == 'D' && f.size() == 1 + FlashModel::kLineSize) {
        flash.storeLine(f[0], bytesOf(f, 1));
        if (f[0] < FlashModel::kSectorSize)
            linesStored |= quint64(1) << (f[0] / FlashModel::kLineSize);
        answer("DACK", body);
    } else if (word == 'P' && f.size() == 2) {
        program(f[0], f[1]);
        answer("PACK", body);
    } else if (word == 'A' && f.size() == 1) {
        images.clear();
        answer("AACK,0", body);
        clock.at(clock.now() + static_cast<qint64>(faults.eraseMs * kMs), [this, body] {
            if (stage == Stage::Bootloader && captured)
                answer("AACK,1", body);
        });
    } else if (word == 'I' && f.size() == 4) {
        const bool held = images.header(static_cast<int>(f[0]), static_cast<int>(f[1]),
            static_cast<int>(f[2]), static_cast<int>(f[3]));
        answer(held ? "IACK,1" : "IACK,0", body);
    } else if (word == 'F' && f.size() >= 2) {
        if (images.chunk(static_cast<int>(f[0]), bytesOf(f, 1)) != ImageStore::NoImage)
            answer("FACK," + QByteArray::number(f[0], 16).toUpper().rightJustified(2, '0') + ",0",
                body);
    } else if (word == 'X' && bare) {
        stage = Stage::Running; // the new firmware starts
        captured = false;
    }
}

void LinkUnit::program(quint32 address, quint32 length)
{
    const int programmed = flash.sectorsProgrammed();
    const int lost = flash.problems().value(QStringLiteral("lostData"));
    const int notErased = flash.problems().value(QStringLiteral("unerased"));
    flash.program(address, length);
    const quint64 lines = linesStored;
    linesStored = 0;
    if (flash.sectorsProgrammed() == programmed)
        return; // a repeat that changed nothing
    if (flash.problems().value(QStringLiteral("lostData")) > lost) {
        ++holes;
        int missing = 0;
        while (lines >> missing & 1)
            ++missing;
        fault("HOLE", address + static_cast<quint32>(missing * FlashModel::kLineSize));
    }
    if (flash.problems().value(QStringLiteral("unerased")) > notErased) {
        ++unerased;
        fault("UNERASED", address);
    }
    if (!eackDelivered.remove(address)) {
        ++withoutOwnEack;
        fault("NO-EACK", address);
    }
}

void LinkUnit::fault(const char *what, qint64 address)
{
    trace.note(clock.now(), what, QByteArray("at 0x") + QByteArray::number(address, 16));
    if (!firstFault.isEmpty())
        return;
    // The story of the sector: from its last "$E" on.
    firstFault = trace.lines();
    const QString erase
        = QStringLiteral("$E,%1,")
              .arg(address / FlashModel::kSectorSize * FlashModel::kSectorSize, 0, 16)
              .toUpper();
    for (int i = static_cast<int>(firstFault.size()) - 1; i >= 0; --i) {
        if (firstFault.at(i).contains(erase)) {
            firstFault = firstFault.mid(i);
            return;
        }
    }
    firstFault = firstFault.mid(std::max(0, static_cast<int>(firstFault.size()) - 60));
}

// --- the unit's lines ---------------------------------------------------------

void LinkUnit::enterBootloader()
{
    stage = Stage::Bootloader;
    captured = false;
    announce();
}

// As after a supply dip: the answers not yet handed over are gone, the flash
// keeps its bytes but forgets its erases and its sector buffer, and the
// bootloader announces itself again.
void LinkUnit::restart()
{
    trace.note(clock.now(), "RESTART");
    stage = Stage::Restarting;
    captured = false;
    outgoing.clear();
    unread.clear();
    flash.restart();
    images.restart();
    linesStored = 0;
    eackDelivered.clear();
    clock.at(clock.now() + kRestartNs, [this] { enterBootloader(); });
}

void LinkUnit::announce()
{
    if (stage != Stage::Bootloader || captured)
        return;
    send("$Bootloader\n", clock.now(), QByteArray(), -1);
    clock.at(clock.now() + kAnnounceNs, [this] { announce(); });
}

void LinkUnit::answer(const QByteArray &body, const QByteArray &commandBody, qint64 eackSector)
{
    QByteArray command = commandBody;
    char text[kLineBufferSize];
    qstrncpy(text, ('$' + body).constData(), sizeof text);
    QByteArray line(text, CompleteLine(text));
    qint64 ready = clock.now();
    if (roll(faults.pauseShare)) {
        qint64 pause = drawHoldNs(faults.pauseMinMs, faults.pauseMaxMs);
        // A copy that waited in the receive buffer has spent some of the
        // round trip the promise covers already.
        if (takenUnread && readStopCapped)
            pause = std::min(pause, std::max<qint64>(0, answerDueNs(takenSentNs) - ready));
        trace.note(ready, "pause ms", pause / kMs);
        ready += pause;
        if (roll(faults.stallShare)) {
            deafUntilNs = std::max(deafUntilNs, ready);
            trace.note(clock.now(), "stall");
        } else if (roll(faults.readStopShare)) {
            const qint64 more = drawHoldNs(faults.pauseMinMs, faults.pauseMaxMs);
            readAgainNs = std::max(readAgainNs, ready + more);
            readStopCapped = true;
            capReadStop();
            trace.note(clock.now(), "stops reading ms", (ready + more - clock.now()) / kMs);
        }
    }
    if (answerFault >= 0) {
        const ScriptedFault &f = faults.script.at(answerFault);
        const qint64 ms = static_cast<qint64>(f.ms * kMs);
        switch (f.what) {
        case ScriptedFault::LoseAnswer: trace.note(ready, "lost<", line); return;
        case ScriptedFault::HoldAnswer: ready += ms; trace.note(clock.now(), "pause ms", ms / kMs); break;
        case ScriptedFault::Stall:
            ready += ms;
            deafUntilNs = std::max(deafUntilNs, ready);
            trace.note(clock.now(), "stall ms", ms / kMs);
            break;
        case ScriptedFault::StopReading: {
            const qint64 hold = static_cast<qint64>(f.afterMs * kMs);
            ready += hold;
            readAgainNs = std::max(readAgainNs, clock.now() + hold + ms);
            readStopCapped = false;
            trace.note(clock.now(), "pause ms", hold / kMs);
            trace.note(clock.now(), "stops reading ms", (hold + ms) / kMs);
            break;
        }
        case ScriptedFault::FlipAnswer: {
            // The true line's checksum on another reply's text.
            const QByteArray sum = line.mid(line.indexOf('*'));
            line = '$' + f.into + sum;
            command.clear();
            eackSector = -1;
            trace.note(clock.now(), "flipped<", line);
            break;
        }
        default: break;
        }
    }
    send(line, ready, command, eackSector);
}

// On the wire after the lines before it: a line held back holds back those after it.
void LinkUnit::send(QByteArray line, qint64 readyNs, const QByteArray &command, qint64 eackSector)
{
    const bool hit = !faults.dataLinesOnly || command.startsWith('D') || command.startsWith('F');
    if (hit && roll(faults.lostToTool)) {
        trace.note(clock.now(), "lost<", line);
        return;
    }
    QByteArray answers = command;
    if (hit && roll(faults.garbledToTool)) {
        if (faults.flipShare > 0
            && std::uniform_real_distribution<double>(0, 1)(flipDice) < faults.flipShare) {
            // One bit of the text changed, the checksum left as it was: half of
            // them in the word's first letter ("$DACK" becomes "$EACK"), the
            // rest anywhere in the text, flags included.
            const int star = std::max(2, static_cast<int>(line.indexOf('*')));
            const bool word = std::uniform_int_distribution<int>(0, 1)(flipDice) == 0;
            const int at = word ? 1 : std::uniform_int_distribution<int>(1, star - 1)(flipDice);
            const int bit = word ? 0 : std::uniform_int_distribution<int>(0, 6)(flipDice);
            line[at] = static_cast<char>(line.at(at) ^ (1 << bit));
        } else {
            line[1] = '~'; // an unknown word
        }
        answers.clear();
        eackSector = -1;
        trace.note(clock.now(), "garbled<", line);
    }
    const int speed = baud();
    const qint64 start = std::max(readyNs, toToolFreeNs);
    toToolFreeNs = start + line.size() * byteNs(speed);
    outgoing.push_back(Outgoing { start, line, speed, 0, answers, takenSentNs, eackSector });
    if (faults.repeatShare > 0
        && std::uniform_real_distribution<double>(0, 1)(flipDice) < faults.repeatShare) {
        trace.note(clock.now(), "repeated<", line);
        const qint64 again = toToolFreeNs;
        toToolFreeNs = again + line.size() * byteNs(speed);
        outgoing.push_back(Outgoing { again, line, speed, 0, QByteArray(), takenSentNs, -1 });
    }
    if (!handOverDue) {
        handOverDue = true;
        clock.at(nextTick(start + byteNs(speed)), [this] { handOver(); });
    }
}

// One tick of the adapter: the bytes that have arrived go to the tool in one
// read, or (now and then) only some of them, the rest a moment later.
void LinkUnit::handOver()
{
    handOverDue = false;
    const qint64 now = clock.now();
    int room = std::numeric_limits<int>::max();
    const bool cut = roll(faults.splitShare);
    if (cut)
        room = std::uniform_int_distribution<int>(1, 40)(dice);
    QByteArray read;
    while (!outgoing.empty() && room > 0) {
        Outgoing &out = outgoing.front();
        const qint64 arrived = std::min<qint64>(
            out.bytes.size(), std::max<qint64>(0, (now - out.startNs) / byteNs(out.baud)));
        const int n = std::min(static_cast<int>(arrived) - out.handedOver, room);
        if (n <= 0)
            break;
        if (out.baud == toolBaud())
            read += out.bytes.mid(out.handedOver, n);
        out.handedOver += n;
        room -= n;
        if (out.handedOver < out.bytes.size())
            break;
        if (out.baud == toolBaud())
            delivered(out);
        outgoing.pop_front();
    }
    if (!read.isEmpty()) {
        trace.note(now, "read", read);
        toTool(read);
    }
    if (outgoing.empty())
        return;
    handOverDue = true;
    const Outgoing &front = outgoing.front();
    const qint64 nextByte = front.startNs + (front.handedOver + 1) * byteNs(front.baud);
    const qint64 next = cut ? now + std::uniform_int_distribution<qint64>(50000, 1000000)(dice)
                            : nextTick(std::max(now + 1, nextByte));
    clock.at(next, [this] { handOver(); });
}

// The adapter's latency timer hands bytes over at its ticks only.
qint64 LinkUnit::nextTick(qint64 ns) const
{
    const qint64 tick = std::max<qint64>(1, static_cast<qint64>(faults.latencyMs * kMs));
    return (ns + tick - 1) / tick * tick;
}

void LinkUnit::delivered(const Outgoing &out)
{
    if (out.eackSector >= 0)
        eackDelivered.insert(out.eackSector);
    if (out.bytes.startsWith("$DACK") && !out.answers.isEmpty()) {
        // The engine counts a copy as owed until strictly before the round trip ends.
        const qint64 past = clock.now() - out.copySentNs - promisedRoundTripNs();
        if (past >= 0) {
            trace.note(clock.now(), "past ms", past / kMs);
            pastPromiseNs = std::max(pastPromiseNs, past);
        }
        const auto first = firstCopyNs.constFind(out.answers);
        if (first != firstCopyNs.cend())
            longestAnswerNs = std::max(longestAnswerNs, clock.now() - *first);
    }
}
