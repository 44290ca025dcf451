// The sequencer's reactions, by reply word: the receive path cuts a port's
// bytes into lines, and each recognised reply acts on the unit's job record.
#include "engine/Sequencer.h"

#include "link/Diagnostics.h"
#include "engine/JobHost.h"
#include "engine/UnitJob.h"
#include "engine/Timeouts.h"
#include "link/LineAssembler.h"
#include "link/TextRoutines.h"

#include <algorithm>

using namespace Timeouts;

// The receive path and the reactions to replies, in the order the reply
// words are checked.

void Sequencer::receive(UnitJob *port, const QByteArray &bytes)
{
    ++port->guards.reads.readCount;
    for (const char byte : bytes) {
        if (port->rxLength <= 0)
            port->guards.reads.replyStartRead = port->guards.reads.readCount;
        if (!AppendRxByte(port->rxLine, port->rxLength, byte))
            continue;
        host.lineReceived(port);
        handleReceivedLine(port);
        port->rxLength = 0;
    }
}

void Sequencer::handleReceivedLine(UnitJob *port)
{
    // The line is used where it lies. A reply is ASCII; a byte from 0x80 (a
    // bit error, or a unit's own text) is read as Latin-1 and the line kept as
    // UTF-8, the form the job's texts are read in, cut at the buffer's end.
    char *line = port->rxLine;
    int n = 0;
    bool ascii = true;
    for (; line[n] != '\0'; ++n)
        ascii = ascii && static_cast<unsigned char>(line[n]) < 0x80;
    if (!ascii) {
        char utf8[kLineBufferSize];
        int out = 0;
        for (int i = 0; i < n && out < kLineBufferSize - 1; ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            if (c < 0x80) {
                utf8[out++] = static_cast<char>(c);
                continue;
            }
            utf8[out++] = static_cast<char>(0xC0 | (c >> 6));
            if (out < kLineBufferSize - 1)
                utf8[out++] = static_cast<char>(0x80 | (c & 0x3F));
        }
        std::copy(utf8, utf8 + out, line);
        line[out] = '\0';
        n = out;
    }
    if (n == 0)
        return;
    handleText(port);
}

void Sequencer::handleLine(UnitJob *port, const char *text, int length)
{
    const int n = std::max(0, std::min(length, kLineBufferSize - 1));
    std::copy(text, text + n, port->rxLine);
    port->rxLine[n] = '\0';
    if (n == 0)
        return;
    handleText(port);
}

void Sequencer::handleText(UnitJob *port)
{
    // A bit error can turn one reply into another ("$IACK,0" into "$IACK,1",
    // "$DACK" into "$EACK"). A unit that frames its replies shows it once; from
    // then on a reply whose checksum is wrong is handled as a lost one. Replies
    // without a checksum, and all replies of a unit that never showed a right
    // one, are taken as they come.
    const LineCheck check = CheckLine(port->rxLine);
    if (check == LineCheck::Right) {
        port->timing.checksumsShown = true;
    } else if (check == LineCheck::Wrong && port->timing.checksumsShown) {
        ++port->timing.garbledReplies;
        qCDebug(lcWire).noquote() << "RX" << port->portName() << "garbled, dropped:"
                                  << QString::fromLatin1(port->rxLine).trimmed();
        return;
    }

    char word[Protocol::kReplyWordLength + 1];
    const Protocol::ReplyWord reply = Protocol::recogniseReply(port->rxLine, word);
    if (reply != Protocol::ReplyWord::Bootloader)
        qCDebug(lcWire).noquote() << "RX" << port->portName() << word;
    onReply(port, reply, port->rxLine);
}

void Sequencer::onReply(UnitJob *port, Protocol::ReplyWord word, const char *line)
{
    using Protocol::ReplyWord;
    if (word == ReplyWord::Unknown)
        return;
    if (port->jobState == JobState::ConfirmVersion) {
        // The unit left its bootloader: only its firmware's version counts.
        if (word == ReplyWord::MverR) {
            char version[kLineBufferSize];
            if (GetField(line, version, 1, kLineBufferSize - 1) == 0)
                version[0] = '\0';
            closePort(port);
            endConfirmation(port, true, QString::fromUtf8(version));
        }
        return;
    }
    // A job that has ended takes no reply: a "$GACK" read in the same pass as
    // a stop would otherwise capture the unit and finish the job a second
    // time, "Bootload Complete" included.
    if (port->status.ended())
        return;
    port->timing.silentSinceNs = host.nowNs();
    if (word != ReplyWord::Bootloader && word != ReplyWord::MverR) {
        port->guards.capture.bootloaderAnswered = true;
        JobTiming &t = port->timing;
        t.captureSentNs = -1;
        if (t.lastSendNs >= 0) {
            t.replyNsTotal += host.nowNs() - t.lastSendNs;
            ++t.replyCount;
            t.lastSendNs = -1;
        }
    }

    switch (word) {
    case ReplyWord::Bootloader: onBootloader(port); break;
    case ReplyWord::GAck: qCDebug(lcJob) << "Captured Bootloader"; break;
    case ReplyWord::MverR: onVersion(port, line); break;
    case ReplyWord::IAck: onImageAck(port, line); break;
    case ReplyWord::FAck: onChunkAck(port, line); break;
    case ReplyWord::AAck: onEraseAck(port, line); break;
    default: break;
    }

    if (port->capturePhase == CapturePhase::Uncaptured) {
        if (word != ReplyWord::GAck) {
            updateStatus(port);
            return;
        }
        port->capturePhase = CapturePhase::Captured;
        port->address = inputs.firmwareFrom;
        port->tickCount = 0;
        log(QStringLiteral("%1: the unit's bootloader answered \"$G\" without announcing itself "
                           "(as one left captured by an interrupted job does); updating it")
                .arg(port->portName()));
    }

    switch (word) {
    case ReplyWord::EAck: onSectorErased(port); break;
    case ReplyWord::DAck: onDataAck(port); break;
    case ReplyWord::PAck: onProgrammed(port); break;
    default: break;
    }
    updateStatus(port);
}

void Sequencer::onBootloader(UnitJob *port)
{
    // "$G" again for as long as the bootloader has not answered after the
    // capture: a lost "$G" must not leave the job waiting forever.
    const bool captureLost
        = port->capturePhase == CapturePhase::Captured && !port->guards.capture.bootloaderAnswered;
    if (port->capturePhase != CapturePhase::Uncaptured && !captureLost) {
        // The bootloader answered already: the unit has been reset.
        if (port->jobState != JobState::Finish)
            restart(port);
        return;
    }
    answerAnnouncement(port);
}

void Sequencer::onVersion(UnitJob *port, const char *line)
{
    char version[kLineBufferSize];
    if (GetField(line, version, 1, kLineBufferSize - 1) == 0)
        version[0] = '\0';
    port->status.version = QString::fromUtf8(version);
    host.showUnitVersion(port, port->status.version);
    char command[kLineBufferSize];
    Protocol::startBootloader(command);
    port->bootloaderAsked = true;
    send(port, command);
}

void Sequencer::onImageAck(UnitJob *port, const char *line)
{
    ReplyGuards &g = port->guards;
    if (port->jobState != JobState::SendImages) {
        // No header awaits an answer outside the images: it changes nothing,
        // and the firmware's owed "$DACK"s are not its business.
        qCDebug(lcJob) << "$IACK not awaited, ignored";
        return;
    }
    // "$IACK" names no image: it counts for the header awaiting its answer
    // only when no earlier header's copy can have caused it.
    const qint64 now = host.nowNs();
    if (g.images.headerAwaited)
        noteAnswer(port, now - g.images.headerFirstNs);
    const AnswerLedger::Answer a = g.images.headerCopies.answer(
        g.images.headerAwaited ? g.images.headerLine : g.images.headerLine + 1, now,
        g.reads.replyStartRead, horizonNs(port));
    if (a.kind != AnswerLedger::Current) {
        qCDebug(lcJob) << "$IACK owed to an earlier header, or a stray one, ignored";
        if (a.kind == AnswerLedger::Stray || a.kind == AnswerLedger::Early)
            return;
        ++port->timing.lateAnswers;
        noteAnswer(port, now - a.lineFirstNs);
        if (g.images.headerAwaited) {
            // The header's own answer may have been the one just taken.
            port->stepCountdown = 0;
            step(port);
        } else {
            releaseHold(port, g.images.headerCopies);
        }
        return;
    }
    const int flag = Protocol::flagField(line, 1);
    if (flag == 0 || flag == 1) {
        g.images.headerAwaited = false;
        g.images.headerSends = 0;
        if (flag == 0) {
            port->imageStep = ImageStep::Chunks;
        } else {
            nextImage(port); // the unit holds this image already
            if (port->jobState == JobState::SendImages)
                holdForOwed(port, g.images.headerCopies);
        }
    }
    port->stepCountdown = 0;
    step(port);
}

void Sequencer::onChunkAck(UnitJob *port, const char *line)
{
    const std::uint32_t chunk = Protocol::numberField(line, 1);
    const int flag = Protocol::flagField(line, 2);
    char flagText[kLineBufferSize];
    if (GetField(line, flagText, 2, kLineBufferSize - 1) == 0)
        flagText[0] = '\0';
    qCDebug(lcJob).noquote() << "FACK" << chunk << flagText;
    if (port->jobState != JobState::SendImages || !port->guards.images.chunksAwaited
        || port->imageIndex >= static_cast<std::uint32_t>(imageCount())) {
        qCDebug(lcJob) << "$FACK not awaited, ignored";
        return;
    }
    const ImageRecord &image = inputs.images.at(static_cast<int>(port->imageIndex));
    // A chunk's answer comes after the answers to every header sent before
    // that chunk: none of them is owed any more.
    if (chunk == port->lastChunk) {
        ReplyGuards &g = port->guards;
        g.images.headerCopies.clear();
        noteAnswer(port, host.nowNs() - g.images.chunkFirstNs);
        if (g.images.chunkSends == 1)
            port->timing.chunkTimer.sample(host.nowNs() - g.waits.lastCopyNs);
        g.images.chunkSends = 0;
        g.waits.awaited = AwaitedLine::None;
        port->imageOffset += Protocol::kChunkBytes;
        if (port->imageOffset >= static_cast<std::uint32_t>(image.pixels.size()))
            nextImage(port);
        else
            showImageProgress(port);
    } else if (flag == 1) {
        // The unit moves on to the next image: the step run now sends its
        // header, or "$X" when no image is left.
        port->guards.images.chunksAwaited = false;
        port->guards.waits.awaited = AwaitedLine::None;
        port->guards.images.headerCopies.clear();
        ++port->imageIndex;
        port->imageStep = ImageStep::Header;
        port->imageOffset = 0;
        showImageProgress(port);
    } else {
        // A late or repeated acknowledgement: the resend by step count covers
        // a chunk that was really lost.
        ++port->timing.lateAnswers;
        qCDebug(lcJob) << "$FACK for another chunk than" << port->lastChunk << ", ignored";
        return;
    }
    port->stepCountdown = 0;
    step(port);
}

// The current image is done (sent or held by the unit already): on to the next,
// or "$X" after the last.
void Sequencer::nextImage(UnitJob *port)
{
    port->guards.images.chunksAwaited = false;
    ++port->imageIndex;
    port->imageStep = ImageStep::Header;
    port->imageOffset = 0;
    if (port->imageIndex >= static_cast<std::uint32_t>(imageCount()))
        finishJob(port);
    showImageProgress(port);
}

void Sequencer::onEraseAck(UnitJob *port, const char *line)
{
    qCDebug(lcJob).noquote() << QString::fromUtf8(line).trimmed();
    if (port->jobState != JobState::EraseImages) {
        qCDebug(lcJob) << "$AACK not awaited, ignored";
        return;
    }
    const std::uint32_t n = Protocol::numberField(line, 1);
    if (n == 0) {
        port->eraseStep = EraseStep::Wait;
        port->stepCountdown = kEraseRunningSteps;
    } else if (n == 1) {
        log(QStringLiteral("Images Erased"));
        finishJob(port);
    }
}

void Sequencer::onSectorErased(UnitJob *port)
{
    ReplyGuards &g = port->guards;
    if (port->jobState != JobState::ProgramFirmware || port->capturePhase != CapturePhase::Captured)
        return;
    if (g.firmware.eraseAnswers < g.firmware.eraseAfterLine.size()) {
        // It answers the oldest "$E" of the sector not answered yet, or a
        // later one: the "$DACK"s of every copy sent before that "$E" came
        // before it. (Without checksums, a garbled "$DACK" could pass for it.)
        if (port->timing.checksumsShown)
            g.firmware.dataCopies.settledUpTo(g.firmware.eraseAfterLine.at(g.firmware.eraseAnswers));
        ++g.firmware.eraseAnswers;
    }
    if (port->sectorStep == SectorStep::Program || g.firmware.sectorErased || !g.firmware.eraseSent)
        return; // an "$EACK" counts only after this sector's "$E" went out
    g.firmware.sectorErased = true;
    port->sectorStep = SectorStep::Data;
    // The first data line goes out now, unless the wait for this reply has
    // already sent it.
    if (port->address % Protocol::kSectorSize == 0 && g.firmware.dataSends == 0) {
        commandDueNow(port);
        step(port);
    }
}

// "$DACK" names no line. The link keeps order and the unit answers each copy
// it receives once, so an answer is counted for the oldest "$D" copy that may
// still be answered (AnswerLedger): for the current line only when that copy
// is one of its own. An answer owed to an earlier line's copy is taken and
// changes nothing; where that may have been the current line's own answer,
// the line goes out again at once. A line with copies still owed holds the
// next one until their answers came or can no longer come.
// Late, after the sector's last line: owed to one of its earlier copies. It
// changes nothing, but it counts among the answers the port has shown (at
// least from the last line's first copy): left out, a later pause as long was
// taken for lost, and its answer for the next line's.
void Sequencer::onDataAckAfterLastLine(UnitJob *port, qint64 now)
{
    ReplyGuards &g = port->guards;
    noteAnswer(port, now - g.firmware.dataFirstNs);
    const AnswerLedger::Answer late = g.firmware.dataCopies.answer(
        g.firmware.dataLine + 1, now, g.reads.replyStartRead, horizonNs(port));
    if (late.kind != AnswerLedger::Early && g.reads.replyStartRead > g.firmware.programRead)
        ++g.firmware.sectorAnswers;
    if (late.kind == AnswerLedger::Stray || late.kind == AnswerLedger::Early)
        unplacedDataAck(port);
    if (late.kind == AnswerLedger::Owed) {
        noteAnswer(port, now - late.lineFirstNs);
        ++port->timing.lateAnswers;
    }
}

// A "$DACK" that no copy still owed can account for. Within the promise only
// a repeat does that (each copy's answer comes within its horizon, and the
// ledger keeps the copy for it). Once the ledger has given copies up, it may
// be an answer that came after its copy was given up, past the promise: then
// the answer taken before it may have been that copy's, counted for a later
// line the unit never got. The sector is written again after its "$PACK", as
// for a repeat: a unit that stops reading for a while, the tool's copies of a
// line waiting in its receive buffer, answers them after the hold for them
// ended, and the first answer is taken for the next line, lost meanwhile; the
// second is this one. (After two copies of the line there is no second, and
// such a hole stays unseen.)
void Sequencer::unplacedDataAck(UnitJob *port)
{
    ReplyGuards::Firmware &f = port->guards.firmware;
    if (f.dataCopies.passedOver() > 0 && !f.answerAfterGivingUp) {
        qCDebug(lcJob) << "$DACK after copies were given up: the sector will be written again";
        f.answerAfterGivingUp = true;
    }
}

void Sequencer::onDataAck(UnitJob *port)
{
    ReplyGuards &g = port->guards;
    if (port->jobState != JobState::ProgramFirmware
        || (port->capturePhase != CapturePhase::Captured
            && port->capturePhase != CapturePhase::FirmwareWritten))
        return;
    const qint64 now = host.nowNs();
    if (port->sectorStep == SectorStep::Program) {
        onDataAckAfterLastLine(port, now);
        return;
    }
    if (port->sectorStep != SectorStep::Data)
        return;
    const bool lineOut = g.firmware.dataSends > 0;
    // The answer in hand counts among those the port has shown, from the first
    // copy of the current line, before it is placed.
    if (lineOut)
        noteAnswer(port, now - g.firmware.dataFirstNs);
    const AnswerLedger::Answer a
        = g.firmware.dataCopies.answer(lineOut ? g.firmware.dataLine : g.firmware.dataLine + 1, now,
            g.reads.replyStartRead, horizonNs(port));
    // Every "$DACK" of the sector but one that came with an answer already
    // taken (most often the same answer repeated at once, which changes nothing).
    if (a.kind != AnswerLedger::Early)
        ++g.firmware.sectorAnswers;
    if (a.kind == AnswerLedger::Stray || a.kind == AnswerLedger::Early) {
        qCDebug(lcJob) << "$DACK for no copy that may still be answered, ignored";
        unplacedDataAck(port);
        return;
    }
    // Three copies or more went out before an answer came: it may have been
    // held back, with the answers to the later copies queued behind it.
    const bool answersQueued = g.firmware.dataUnanswered > 2;
    g.firmware.dataUnanswered = 0;
    if (a.kind == AnswerLedger::Owed) {
        ++port->timing.lateAnswers;
        // Counted from the first copy of the line it is placed on: its own
        // line may be that one, and the promise covers what the port truly
        // showed. (Counted from the current line's instead, an answer held
        // back for seconds, arriving while later lines went out, counted for
        // a fraction of that: the explorer then found holes.)
        noteAnswer(port, now - a.lineFirstNs);
        if (lineOut) {
            commandDueNow(port);
            step(port);
        } else {
            releaseHold(port, g.firmware.dataCopies);
        }
        return;
    }
    dataLineAnswered(port, now, answersQueued);
}

// The current data line is answered: the next one, or "$P" after the
// sector's last.
void Sequencer::dataLineAnswered(UnitJob *port, qint64 now, bool answersQueued)
{
    ReplyGuards &g = port->guards;
    if (g.firmware.dataSends == 1)
        port->timing.dataTimer.sample(now - g.waits.lastCopyNs);
    g.firmware.dataSends = 0;
    g.waits.awaited = AwaitedLine::None;
    commandDueNow(port);
    port->address += Protocol::kDataLineBytes;
    if (port->address % Protocol::kSectorSize == 0) {
        port->sectorStep = SectorStep::Program;
        programDueNow(port);
    } else {
        holdForOwed(port, g.firmware.dataCopies, linesLeftInSector(port), answersQueued);
    }
    showFirmwareProgress(port);
    step(port);
}

void Sequencer::onProgrammed(UnitJob *port)
{
    if (port->jobState != JobState::ProgramFirmware || port->capturePhase != CapturePhase::Captured
        || port->sectorStep != SectorStep::Program || port->guards.firmware.programSends == 0)
        return;
    // Every answer to the sector's "$D" copies came before this one.
    port->guards.firmware.programSends = 0;
    port->guards.firmware.dataCopies.clear();
    port->guards.firmware.eraseAfterLine.clear(); // and every "$EACK" of the sector's "$E"s
    port->guards.firmware.eraseAnswers = 0;
    port->guards.waits.holdSteps = 0;
    const bool answerAfterGivingUp = port->guards.firmware.answerAfterGivingUp;
    port->guards.firmware.answerAfterGivingUp = false;
    if (port->guards.firmware.sectorAnswers > port->guards.firmware.sectorCopies
        || answerAfterGivingUp) {
        // More answers than copies: one was repeated on its way and may have
        // stood in for a line the unit never got; or an answer came after its
        // copy was given up (unplacedDataAck). The sector is written again.
        redoSector(port);
        return;
    }
    port->guards.firmware.sectorCopies = 0;
    port->guards.firmware.sectorAnswers = 0;
    port->guards.firmware.sectorRedos = 0;
    if (port->address > kLastAddress - 1) {
        port->capturePhase = CapturePhase::FirmwareWritten;
        port->address = kFirstAddress;
        host.setFirmwareProgress(kLoadMaximum);
        port->stepCountdown = 0;
        port->jobState = JobState::SendImages;
        port->imageIndex = 0;
        port->imageStep = ImageStep::Restart;
        port->imageOffset = 0;
    }
    port->sectorStep = SectorStep::Start;
    port->guards.firmware.eraseSent = false;
    commandDueNow(port);
    step(port);
}
