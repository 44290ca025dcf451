// The sequencer's shared parts: the job log, closing a port, the unit's
// progress and status, and the commands it formats. Its steps by job state,
// its reactions by reply word, its clock-driven part and the endings of a job
// other than its own "$X" have files of their own.
#include "engine/Sequencer.h"

#include "link/Diagnostics.h"
#include "engine/JobHost.h"
#include "engine/UnitJob.h"
#include "engine/Timeouts.h"

#include <algorithm>
#include <cstring>

using namespace Timeouts;

Sequencer::Sequencer(JobHost &jobHost)
    : host(jobHost)
{
}

void Sequencer::log(const QString &line)
{
    host.logJob(line);
}

// Closes the port once what was written to it has gone out: closing drops
// the port's write buffer, and the line just sent ("$BOOTLOADM", "$X") would
// never reach the unit.
void Sequencer::closePort(UnitJob *port)
{
    if (!port->link.isOpen())
        return;
    port->link.flush();
    port->link.close();
}

// The port is opened again at a new speed (it was closed after the line that
// made the unit change its own); one that does not open stays closed, and
// the job waits on, as the unit's answers decide.
void Sequencer::reopenAt(UnitJob *port, qint32 baud)
{
    const QString why = port->link.reopen(baud);
    if (!why.isEmpty())
        qCDebug(lcJob).noquote() << "Could not reopen" << port->portName() << why;
}

// ---------------------------------------------------------------------------
// Progress and status.

void Sequencer::showFirmwareProgress(UnitJob *port)
{
    int value = 0;
    if (port->address > kLastAddress - 1)
        value = kLastDataProgress;
    else if (port->address >= kFirstAddress)
        value = port->address - kFirstAddress;
    host.setFirmwareProgress(value);
}

qint64 Sequencer::imageBytesDone(const UnitJob *port) const
{
    qint64 done = 0;
    const int before = static_cast<int>(
        std::min<std::uint32_t>(port->imageIndex, static_cast<std::uint32_t>(imageCount())));
    for (int i = 0; i < before; ++i)
        done += inputs.images.at(i).pixels.size();
    if (port->imageIndex < static_cast<std::uint32_t>(imageCount()))
        done += port->imageOffset;
    return std::min(done, imageTotal);
}

void Sequencer::showImageProgress(UnitJob *port)
{
    host.setImageProgress(static_cast<int>(imageBytesDone(port)));
}

void Sequencer::updateStatus(UnitJob *port)
{
    UnitStatus &s = port->status;
    if (s.ended())
        return;
    const UnitStatus before = s;
    constexpr qint64 kFirmwareBytes = qint64(kSectorCount) * Protocol::kSectorSize;
    const bool firmwareJob = UpdateModes::writesFirmware(inputs.mode);
    qint64 firmwareDone = 0;
    switch (port->jobState) {
    case JobState::StartVersionQuery:
    case JobState::VersionQuery: s.stage = UnitStatus::Querying; break;
    case JobState::SwitchToBootloaderSpeed:
    case JobState::WaitForBootloader:
    case JobState::OpenFiles: s.stage = UnitStatus::WaitingForBootloader; break;
    case JobState::ProgramFirmware:
        s.stage = UnitStatus::Firmware;
        s.sectorCount = kSectorCount;
        s.sector = std::min(kSectorCount,
            std::max(1, (port->address - kFirstAddress) / Protocol::kSectorSize + 1));
        firmwareDone = std::max<qint64>(0, port->address - kFirstAddress);
        break;
    case JobState::SendImages:
        s.stage = UnitStatus::Images;
        s.imageCount = imageCount();
        s.image = std::min<int>(imageCount(), static_cast<int>(port->imageIndex) + 1);
        firmwareDone = kFirmwareBytes;
        break;
    case JobState::EraseImages: s.stage = UnitStatus::Erasing; break;
    case JobState::Finish:
    case JobState::ConfirmVersion:
        s.stage = UnitStatus::Finishing;
        firmwareDone = kFirmwareBytes;
        break;
    }
    const bool finishing
        = port->jobState == JobState::Finish || port->jobState == JobState::ConfirmVersion;
    if (inputs.mode == UpdateMode::DeleteImages) {
        const bool erasing
            = port->jobState == JobState::EraseImages && port->eraseStep == EraseStep::Wait;
        s.percent = finishing ? 100 : erasing ? 50 : 0;
    } else {
        const qint64 total = (firmwareJob ? kFirmwareBytes : 0) + imageTotal;
        const qint64 done = (firmwareJob ? std::min(firmwareDone, kFirmwareBytes) : 0)
            + (port->jobState == JobState::SendImages || finishing ? imageBytesDone(port) : 0);
        s.percent = finishing || total == 0
            ? (finishing ? 100 : 0)
            : static_cast<int>(done * 100 / total);
    }
    if (s != before)
        host.unitChanged(port);
}

void Sequencer::endStatus(UnitJob *port)
{
    UnitStatus &s = port->status;
    if (s.notUpdated.isEmpty()) {
        s.stage = UnitStatus::Updated;
    } else {
        s.stage = UnitStatus::NotUpdated;
        s.reason = s.notUpdated.join(QStringLiteral(", "));
    }
    s.percent = 100;
    host.unitChanged(port);
}

// ---------------------------------------------------------------------------
// Commands.

// A line goes out again: counted, with the wait before it (since the last
// line went out with its answer still awaited).
void Sequencer::countCopyAgain(UnitJob *port)
{
    JobTiming &t = port->timing;
    ++t.resends;
    if (t.lastSendNs >= 0)
        t.againWaitNs += host.nowNs() - t.lastSendNs;
}

void Sequencer::send(UnitJob *port, char *text)
{
    host.sendLine(port, text);
    ++port->timing.linesSent;
    port->timing.lastSendNs = host.nowNs();
}

void Sequencer::sendSectorErase(UnitJob *port)
{
    char line[kLineBufferSize];
    Protocol::sectorErase(line, static_cast<std::uint32_t>(port->address));
    ReplyGuards &g = port->guards;
    g.firmware.sectorErased = false;
    g.firmware.eraseSent = true;
    g.waits.awaited = AwaitedLine::None;
    g.firmware.dataSends = 0;
    g.firmware.dataUnanswered = 0;
    g.firmware.programSends = 0;
    g.firmware.eraseAfterLine.append(g.firmware.dataLine);
    g.waits.choiceDueNs = -1;
    send(port, line);
}

void Sequencer::sendDataLine(UnitJob *port)
{
    // Unit address A is fw1.bin's byte A; bytes past the file's end go as 00.
    unsigned char bytes[Protocol::kDataLineBytes] = {};
    const QByteArray &firmware = inputs.firmware;
    if (port->address >= 0 && port->address < firmware.size())
        std::memcpy(bytes, firmware.constData() + port->address,
            static_cast<size_t>(std::min<qint64>(sizeof bytes, firmware.size() - port->address)));
    char line[kLineBufferSize];
    Protocol::sectorData(line, static_cast<std::uint32_t>(port->address % Protocol::kSectorSize),
        bytes, Protocol::kDataLineBytes);
    ReplyGuards &g = port->guards;
    const bool resend = g.firmware.dataSends++ > 0;
    if (resend)
        countCopyAgain(port);
    ++g.firmware.dataUnanswered;
    ++g.firmware.sectorCopies;
    send(port, line);
    g.waits.awaited = AwaitedLine::Data;
    g.waits.lastCopyNs = port->timing.lastSendNs;
    if (!resend) {
        ++g.firmware.dataLine;
        g.firmware.dataFirstNs = g.waits.lastCopyNs;
    }
    g.firmware.dataCopies.sent(
        g.firmware.dataLine, g.waits.lastCopyNs, g.firmware.dataFirstNs, g.reads.readCount);
    g.waits.wakeGraced = false;
    armResend(port);
}

void Sequencer::sendProgram(UnitJob *port)
{
    char line[kLineBufferSize];
    Protocol::sectorProgram(line, static_cast<std::uint32_t>(port->address - Protocol::kSectorSize),
        Protocol::kSectorSize);
    if (port->guards.firmware.programSends++ > 0)
        countCopyAgain(port);
    port->guards.firmware.programRead = port->guards.reads.readCount;
    send(port, line);
    qCDebug(lcJob) << static_cast<unsigned>(kLastAddress - port->address);
}

void Sequencer::sendImageHeader(UnitJob *port, const ImageRecord &image)
{
    char line[kLineBufferSize];
    Protocol::imageHeader(line, image.imageName, image.imageVersion, image.width, image.height);
    ReplyGuards &g = port->guards;
    const bool resend = g.images.headerSends++ > 0;
    if (resend)
        countCopyAgain(port);
    g.images.headerAwaited = true;
    g.images.chunksAwaited = false;
    g.waits.awaited = AwaitedLine::None;
    send(port, line);
    if (!resend) {
        ++g.images.headerLine;
        g.images.headerFirstNs = port->timing.lastSendNs;
    }
    g.images.headerCopies.sent(
        g.images.headerLine, port->timing.lastSendNs, g.images.headerFirstNs, g.reads.readCount);
}

void Sequencer::sendChunk(UnitJob *port, const ImageRecord &image)
{
    const int size = image.pixels.size();
    const int offset = static_cast<int>(port->imageOffset);
    const int count = std::max(0, std::min(Protocol::kChunkBytes, size - offset));
    const std::uint32_t chunk = port->imageOffset / Protocol::kChunkBytes;
    ReplyGuards &g = port->guards;
    if (g.images.chunksAwaited && chunk == port->lastChunk && g.images.chunkSends > 0)
        countCopyAgain(port);
    else
        g.images.chunkSends = 0;
    ++g.images.chunkSends;
    port->lastChunk = chunk;
    char line[kLineBufferSize];
    Protocol::imageChunk(line, port->lastChunk,
        reinterpret_cast<const unsigned char *>(image.pixels.constData()) + offset, count);
    port->stepCountdown = kImageWaitSteps;
    g.images.chunksAwaited = true;
    send(port, line);
    g.waits.awaited = AwaitedLine::Chunk;
    g.waits.lastCopyNs = port->timing.lastSendNs;
    if (g.images.chunkSends == 1)
        g.images.chunkFirstNs = g.waits.lastCopyNs;
    g.waits.wakeGraced = false;
    armResend(port);
    if (offset + count >= size)
        port->imageStep = ImageStep::Restart;
}

void Sequencer::sendExit(UnitJob *port)
{
    char line[kLineBufferSize];
    Protocol::exitBootloader(line);
    send(port, line);
}

// "$G" is written raw: no checksum, no frame.
void Sequencer::sendCapture(UnitJob *port)
{
    host.sendRaw(port, QString::fromLatin1(Protocol::kCapture));
}
