#include "engine/Sequencer.h"

#include "link/Diagnostics.h"
#include "link/LineAssembler.h"
#include "link/TextRoutines.h"
#include "payload/FirmwareFile.h"
#include "engine/JobHost.h"
#include "engine/LowLatency.h"
#include "engine/PortTest.h"
#include "engine/Timeouts.h"

#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <utility>

using namespace Timeouts;

namespace {

constexpr int kLastDataProgress = 913407; // firmware progress after the last data line
constexpr std::int32_t kFirstAddress = FirmwareFile::kFirstAddress;
constexpr std::int32_t kLastAddress = FirmwareFile::kEndAddress - 1; // 0xDFFFF
constexpr qint32 kBootloaderBaud = 921600;

} // namespace

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
void Sequencer::closePort(PortTest *port)
{
    if (!port->isOpen())
        return;
    port->flush();
    port->close();
}

// ---------------------------------------------------------------------------
// One step, by job state.

void Sequencer::step(PortTest *port)
{
    if (endedBySilence(port))
        return;
    switch (port->jobState) {
    case StartVersionQuery:
        port->retryCount = kVersionQuerySteps;
        port->jobState = VersionQuery;
        port->timing.startNs = host.nowNs();
        break;
    case VersionQuery: versionQuery(port); break;
    case SwitchToBootloaderSpeed: switchToBootloaderSpeed(port); break;
    case WaitForBootloader: waitForBootloader(port); break;
    case OpenFiles: openFiles(port); break;
    case ProgramFirmware: programFirmware(port); break;
    case SendImages: sendImages(port); break;
    case EraseImages: eraseImages(port); break;
    case Finish: finish(port); break;
    }
    updateStatus(port);
}

void Sequencer::versionQuery(PortTest *port)
{
    char line[kLineBufferSize];
    --port->retryCount;
    if (port->retryCount > 1)
        Protocol::versionQuery(line);
    else
        Protocol::startBootloader(line);
    send(port, line);
    if (port->retryCount <= 0) {
        closePort(port);
        port->jobState = SwitchToBootloaderSpeed;
    }
}

void Sequencer::switchToBootloaderSpeed(PortTest *port)
{
    port->capturePhase = Uncaptured;
    port->guards.bootloaderAnswered = false;
    port->guards.waitSteps = 0;
    port->rxLength = 0; // a partial line from the old speed would spoil the first one
    port->timing.lastSendNs = -1; // the version query awaits no bootloader reply
    port->setBaudRate(kBootloaderBaud, QSerialPort::AllDirections);
    if (port->isOpen() || port->open(QIODevice::ReadWrite)) {
        LowLatency::request(*port);
    } else {
        qCDebug(lcJob).noquote() << "Could not reopen" << port->portName() << port->errorString();
    }
    port->jobState = WaitForBootloader;
}

void Sequencer::waitForBootloader(PortTest *port)
{
    if (port->capturePhase == Captured) {
        port->jobState = OpenFiles;
    } else if (++port->guards.waitSteps == kBootloaderWarnSteps) {
        log(QStringLiteral("No bootloader seen on %1 after 20 s: power-cycle the unit. "
                           "Still waiting.")
                .arg(port->portName()));
    }
}

void Sequencer::openFiles(PortTest *port)
{
    port->jobFile.close(); // still open from before a restart
    port->jobFile.setFileName(QStringLiteral(":/res/Address.bin"));
    qCDebug(lcJob) << (port->jobFile.exists() ? "File exists Address.bin"
                                              : "Cannot find file Address.bin");
    if (port->jobFile.open(QIODevice::ReadOnly)) {
        port->jobFile.setTextModeEnabled(false);
        qCDebug(lcJob) << "Opened address.bin";
    }

    port->jobState = ProgramFirmware;
    if (inputs.mode == ImagesOnly) {
        port->jobState = SendImages;
        port->imageIndex = 0;
        port->imageOffset = 0;
        port->imageStep = ImageRestart;
        port->stepCountdown = 0;
    } else if (inputs.mode == DeleteImages) {
        port->jobState = EraseImages;
        port->imageIndex = 0;
        port->imageOffset = 0;
        port->imageStep = EraseSend;
        port->stepCountdown = 1;
    }

    port->jobFile.close();
    port->jobFile.setFileName(inputs.firmwarePath);
    if (port->jobFile.open(QIODevice::ReadOnly))
        qCDebug(lcJob).noquote() << "Opened" << port->jobFile.fileName();

    port->address = kFirstAddress;
    port->sectorStep = SectorStart;
    port->tickCount = 0;
    const bool bootloaderAnswered = port->guards.bootloaderAnswered;
    port->guards.reset();
    port->guards.bootloaderAnswered = bootloaderAnswered;
    imageTotal = 0;
    for (const ImageRecord &image : std::as_const(inputs.images))
        imageTotal += image.pixels.size();

    if (!inputs.settingsProblem.isEmpty() && inputs.mode != DeleteImages)
        port->status.notUpdated
            << QStringLiteral("the display images (settings.json could not be read)");
    if (port->jobState != ProgramFirmware)
        return;
    // Not one sector is erased from a file that can't be written whole: the
    // unit keeps the firmware it has.
    const QString problem = FirmwareFile::problem(inputs.firmwarePath);
    if (!problem.isEmpty()) {
        log(QStringLiteral("fw1.bin cannot be used: %1. The firmware was not updated.")
                .arg(problem));
        port->status.notUpdated.prepend(QStringLiteral("the firmware"));
        if (inputs.settingsProblem.isEmpty())
            port->status.notUpdated << QStringLiteral("the display images");
        finishJob(port);
    }
}

void Sequencer::commandDueNow(PortTest *port)
{
    port->tickCount = kCommandWaitSteps + 1;
}

void Sequencer::programDueNow(PortTest *port)
{
    port->tickCount = kProgramWaitSteps + 1;
}

void Sequencer::programFirmware(PortTest *port)
{
    if (holding(port))
        return;
    switch (port->sectorStep) {
    case SectorStart:
        if (port->tickCount <= kCommandWaitSteps) {
            ++port->tickCount;
            return;
        }
        port->tickCount = 0;
        sendSectorErase(port);
        port->sectorStep = SectorData;
        [[fallthrough]]; // data lines follow "$E" without waiting for "$EACK"
    case SectorData:
        if (port->tickCount <= kCommandWaitSteps) {
            ++port->tickCount;
            return;
        }
        port->tickCount = 0;
        sendDataLine(port);
        ++port->tickCount;
        return;
    case SectorProgram:
        if (port->tickCount <= kProgramWaitSteps || port->capturePhase != Captured) {
            ++port->tickCount;
            return;
        }
        if (!port->guards.sectorErased) {
            // Without "$EACK" the sector may not have been erased: start it again.
            qCDebug(lcJob).noquote()
                << "No $EACK for the sector at" << Qt::hex << port->address - Protocol::kSectorSize
                << "on" << port->portName() << "- erasing it again";
            port->address -= Protocol::kSectorSize;
            port->sectorStep = SectorStart;
            commandDueNow(port);
            programFirmware(port);
            return;
        }
        port->tickCount = 0;
        sendProgram(port);
        ++port->tickCount;
        return;
    }
}

void Sequencer::sendImages(PortTest *port)
{
    switch (port->imageStep) {
    case ImageHeader:
        if (port->stepCountdown > 0) {
            --port->stepCountdown;
            return;
        }
        if (holding(port) || !skipUnsendableImages(port))
            return;
        sendImageHeader(port, inputs.images.at(static_cast<int>(port->imageIndex)));
        port->imageOffset = 0;
        port->stepCountdown = kImageWaitSteps;
        return;
    case ImageChunks:
        if (port->stepCountdown > 0) {
            --port->stepCountdown;
            return;
        }
        if (port->imageIndex >= static_cast<std::uint32_t>(imageCount())) {
            finishJob(port);
            return;
        }
        sendChunk(port, inputs.images.at(static_cast<int>(port->imageIndex)));
        return;
    case ImageRestart:
        if (port->stepCountdown > 0) {
            --port->stepCountdown;
            return;
        }
        port->stepCountdown = kImageRestartSteps;
        port->imageStep = ImageHeader;
        return;
    default:
        port->imageStep = ImageRestart;
        port->stepCountdown = 0;
        return;
    }
}

int Sequencer::imageCount() const
{
    return inputs.images.size();
}

// Passes over images that must not be sent (they were not read, or the unit
// can't show them), noting each; false when that ended the job.
bool Sequencer::skipUnsendableImages(PortTest *port)
{
    while (port->imageIndex < static_cast<std::uint32_t>(imageCount())) {
        const ImageRecord &image = inputs.images.at(static_cast<int>(port->imageIndex));
        if (image.problem.isEmpty() && !image.pixels.isEmpty())
            return true;
        const QString what = QStringLiteral("image %1 (%2)")
                                 .arg(image.imageName)
                                 .arg(QFileInfo(image.fileName).fileName());
        log(QStringLiteral("Not sending %1 to %2: %3")
                .arg(what, port->portName(),
                    image.problem.isEmpty() ? QStringLiteral("it holds no bytes") : image.problem));
        port->status.notUpdated << what;
        ++port->imageIndex;
        showImageProgress(port);
    }
    finishJob(port);
    return false;
}

void Sequencer::eraseImages(PortTest *port)
{
    if (port->stepCountdown > 0) {
        --port->stepCountdown;
        return;
    }
    if (port->imageStep == EraseSend) {
        log(QStringLiteral("Send Erase All messages Command takes around 20 seconds"));
        char line[kLineBufferSize];
        Protocol::eraseImages(line);
        send(port, line);
        port->imageStep = EraseWait;
        port->stepCountdown = kEraseReplySteps;
    } else {
        port->imageStep = EraseSend;
        log(QStringLiteral("Command Timedout"));
    }
}

void Sequencer::finishJob(PortTest *port)
{
    port->jobState = Finish;
    port->tickCount = 0;
    sendExit(port);
}

void Sequencer::finish(PortTest *port)
{
    if (port->tickCount >= kFinishSteps)
        return;
    if (++port->tickCount < kFinishSteps)
        return;
    closePort(port);
    if (port->status.notUpdated.isEmpty())
        log(QStringLiteral("Bootload Complete"));
    else
        log(QStringLiteral("Update of %1 NOT complete. Not updated: %2.")
                .arg(port->portName(), port->status.notUpdated.join(QStringLiteral(", "))));
    const JobTiming &t = port->timing;
    const double seconds = static_cast<double>(host.nowNs() - t.startNs) / 1e9;
    const double replyMs = t.replyCount > 0
        ? static_cast<double>(t.replyNsTotal) / 1e6 / t.replyCount
        : 0.0;
    log(QStringLiteral("%1: job took %2 s, average reply time %3 ms over %4 replies, "
                       "%5 resends, learned time-out %6")
            .arg(port->portName())
            .arg(seconds, 0, 'f', 1)
            .arg(replyMs, 0, 'f', 2)
            .arg(t.replyCount)
            .arg(t.resends)
            .arg(t.dataTimer.learned()
                    ? QStringLiteral("%1 ms").arg(t.dataTimer.timeoutNs() / 1000000)
                    : QStringLiteral("none")));
    const QString advice = LowLatency::slowReplyAdvice(port->portName(), replyMs);
    if (!advice.isEmpty())
        log(advice);
    endStatus(port);
}

void Sequencer::connectionLost(PortTest *port)
{
    if (port->status.stage == UnitStatus::ConnectionLost
        || (port->jobState == Finish && port->tickCount >= kFinishSteps))
        return;
    port->jobState = Finish;
    port->tickCount = kFinishSteps;
    log(QStringLiteral("Connection to %1 lost: its job has ended and the unit may not be "
                       "updated. Check the cable and run the job again.")
            .arg(port->portName()));
    port->status.stage = UnitStatus::ConnectionLost;
    port->status.reason = QStringLiteral("connection lost");
    host.unitChanged(port);
    // The port may be inside its own notification: close it once that is over.
    QTimer::singleShot(0, port, [port] {
        if (port->isOpen())
            port->close();
    });
}

void Sequencer::stop(PortTest *port, const QString &why)
{
    if (!port->status.ended())
        endUnit(port, QString(), why);
}

// ---------------------------------------------------------------------------
// The receive path and the reactions to replies, in the order the reply
// words are checked.

void Sequencer::receive(PortTest *port, const QByteArray &bytes)
{
    ++port->guards.readCount;
    for (const char byte : bytes) {
        if (!AppendRxByte(port->rxLine, port->rxLength, byte))
            continue;
        host.lineReceived(port);
        handleLine(port, QString::fromLatin1(port->rxLine));
        port->rxLength = 0;
    }
}

void Sequencer::handleLine(PortTest *port, const QString &line)
{
    const QByteArray utf8 = line.toUtf8();
    const int n = std::min(static_cast<int>(utf8.size()), kLineBufferSize - 1);
    std::copy(utf8.constData(), utf8.constData() + n, port->rxLine);
    port->rxLine[n] = '\0';
    if (n == 0)
        return;

    char word[Protocol::kReplyWordLength + 1];
    const Protocol::ReplyWord reply = Protocol::recogniseReply(port->rxLine, word);
    if (reply != Protocol::ReplyWord::Bootloader)
        qCDebug(lcWire).noquote() << "RX" << port->portName() << word;
    onReply(port, reply, port->rxLine);
}

void Sequencer::onReply(PortTest *port, Protocol::ReplyWord word, const char *line)
{
    using Protocol::ReplyWord;
    if (word == ReplyWord::Unknown)
        return;
    port->timing.silentSinceNs = host.nowNs();
    if (word != ReplyWord::Bootloader && word != ReplyWord::MverR) {
        port->guards.bootloaderAnswered = true;
        JobTiming &t = port->timing;
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

    if (port->capturePhase == Uncaptured) {
        if (word != ReplyWord::GAck) {
            updateStatus(port);
            return;
        }
        port->capturePhase = Captured;
        port->address = kFirstAddress;
        port->tickCount = 0;
    }

    switch (word) {
    case ReplyWord::EAck: onSectorErased(port); break;
    case ReplyWord::DAck: onDataAck(port); break;
    case ReplyWord::PAck: onProgrammed(port); break;
    default: break;
    }
    updateStatus(port);
}

void Sequencer::onBootloader(PortTest *port)
{
    // "$G" again for as long as the bootloader has not answered after the
    // capture: a lost "$G" must not leave the job waiting forever.
    const bool captureLost = port->capturePhase == Captured && !port->guards.bootloaderAnswered;
    if (port->capturePhase != Uncaptured && !captureLost) {
        // The bootloader answered already: the unit has been reset.
        if (port->jobState != Finish)
            restart(port);
        return;
    }
    host.sendRaw(port, QString::fromLatin1(Protocol::kCapture));
    port->capturePhase = Captured;
    qCDebug(lcJob) << "Send Capture Bootloader";
}

void Sequencer::onVersion(PortTest *port, const char *line)
{
    char version[kLineBufferSize];
    if (GetField(line, version, 1, kLineBufferSize - 1) == 0)
        version[0] = '\0';
    port->status.version = QString::fromUtf8(version);
    host.showUnitVersion(port, port->status.version);
    char command[kLineBufferSize];
    Protocol::startBootloader(command);
    send(port, command);
}

void Sequencer::onImageAck(PortTest *port, const char *line)
{
    ReplyGuards &g = port->guards;
    if (port->jobState != SendImages || !g.headerAwaited) {
        // An answer owed to an earlier copy of a header, or a stray one.
        qCDebug(lcJob) << "$IACK not awaited, ignored";
        if (g.repliesOwed > 0 && --g.repliesOwed == 0) {
            g.holdSteps = 0;
            if (port->jobState == SendImages && port->imageStep == ImageHeader
                && port->stepCountdown == 0)
                step(port); // the held header goes out now
        }
        return;
    }
    const int flag = Protocol::flagField(line, 1);
    if (flag == 0 || flag == 1) {
        g.headerAwaited = false;
        owe(port, g.headerSends - 1);
        g.headerSends = 0;
        if (flag == 0)
            port->imageStep = ImageChunks;
        else
            nextImage(port); // the unit holds this image already
    }
    port->stepCountdown = 0;
    step(port);
}

void Sequencer::onChunkAck(PortTest *port, const char *line)
{
    const std::uint32_t chunk = Protocol::numberField(line, 1);
    const int flag = Protocol::flagField(line, 2);
    char flagText[kLineBufferSize];
    if (GetField(line, flagText, 2, kLineBufferSize - 1) == 0)
        flagText[0] = '\0';
    qCDebug(lcJob).noquote() << "FACK" << chunk << flagText;
    if (port->jobState != SendImages || !port->guards.chunksAwaited
        || port->imageIndex >= static_cast<std::uint32_t>(imageCount())) {
        qCDebug(lcJob) << "$FACK not awaited, ignored";
        return;
    }
    const ImageRecord &image = inputs.images.at(static_cast<int>(port->imageIndex));
    if (chunk == port->lastChunk) {
        ReplyGuards &g = port->guards;
        if (g.chunkSends == 1)
            port->timing.chunkTimer.sample(host.nowNs() - g.lastCopyNs);
        g.chunkSends = 0;
        g.awaited = 0;
        port->imageOffset += Protocol::kChunkBytes;
        if (port->imageOffset >= static_cast<std::uint32_t>(image.pixels.size()))
            nextImage(port);
        else
            showImageProgress(port);
    } else if (flag == 1) {
        // The unit moves on to the next image: the step run now sends its
        // header, or "$X" when no image is left.
        port->guards.chunksAwaited = false;
        port->guards.awaited = 0;
        ++port->imageIndex;
        port->imageStep = ImageHeader;
        port->imageOffset = 0;
        showImageProgress(port);
    } else {
        // A late or repeated acknowledgement: the resend by step count covers
        // a chunk that was really lost.
        qCDebug(lcJob) << "$FACK for another chunk than" << port->lastChunk << ", ignored";
        return;
    }
    port->stepCountdown = 0;
    step(port);
}

// The current image is done (sent or held by the unit already): on to the next,
// or "$X" after the last.
void Sequencer::nextImage(PortTest *port)
{
    port->guards.chunksAwaited = false;
    ++port->imageIndex;
    port->imageStep = ImageHeader;
    port->imageOffset = 0;
    if (port->imageIndex >= static_cast<std::uint32_t>(imageCount()))
        finishJob(port);
    showImageProgress(port);
}

void Sequencer::onEraseAck(PortTest *port, const char *line)
{
    qCDebug(lcJob).noquote() << QString::fromUtf8(line).trimmed();
    if (port->jobState != EraseImages) {
        qCDebug(lcJob) << "$AACK not awaited, ignored";
        return;
    }
    const std::uint32_t n = Protocol::numberField(line, 1);
    if (n == 0) {
        port->imageStep = EraseWait;
        port->stepCountdown = kEraseRunningSteps;
    } else if (n == 1) {
        log(QStringLiteral("Images Erased"));
        finishJob(port);
    }
}

void Sequencer::onSectorErased(PortTest *port)
{
    ReplyGuards &g = port->guards;
    if (port->jobState != ProgramFirmware || port->capturePhase != Captured
        || port->sectorStep == SectorProgram || g.sectorErased || !g.eraseSent)
        return; // an "$EACK" counts only after this sector's "$E" went out
    g.sectorErased = true;
    port->sectorStep = SectorData;
    // The first data line goes out now, unless the wait for this reply has
    // already sent it.
    if (port->address % Protocol::kSectorSize == 0 && g.dataSends == 0) {
        commandDueNow(port);
        step(port);
    }
}

void Sequencer::onDataAck(PortTest *port)
{
    ReplyGuards &g = port->guards;
    if (port->jobState != ProgramFirmware
        || (port->capturePhase != Captured && port->capturePhase != FirmwareWritten))
        return;
    if (g.repliesOwed > 0) {
        // Owed to an earlier copy of a line that is acknowledged already.
        if (--g.repliesOwed == 0) {
            g.holdSteps = 0;
            step(port);
        }
        return;
    }
    if (port->sectorStep != SectorData || g.dataSends == 0)
        return;
    // Read together with the reply that sent the current line: a repeated
    // answer to the line before it, not this line's.
    if (g.dataSentAtRead == g.readCount && g.dataSends == 1) {
        qCDebug(lcJob) << "$DACK read before its line went out, ignored";
        return;
    }
    const int copies = g.dataSends;
    if (copies == 1)
        port->timing.dataTimer.sample(host.nowNs() - g.lastCopyNs);
    g.dataSends = 0;
    commandDueNow(port);
    port->address += Protocol::kDataLineBytes;
    if (port->address % Protocol::kSectorSize == 0) {
        port->sectorStep = SectorProgram;
        programDueNow(port);
    }
    showFirmwareProgress(port);
    owe(port, copies - 1);
    g.awaited = 0;
    step(port);
}

void Sequencer::onProgrammed(PortTest *port)
{
    if (port->jobState != ProgramFirmware || port->capturePhase != Captured
        || port->sectorStep != SectorProgram || port->guards.programSends == 0)
        return;
    port->guards.programSends = 0;
    if (port->address > kLastAddress - 1) {
        port->capturePhase = FirmwareWritten;
        port->address = kFirstAddress;
        host.setFirmwareProgress(kLoadMaximum);
        port->stepCountdown = 0;
        port->jobState = SendImages;
        port->imageIndex = 0;
        port->imageStep = ImageRestart;
        port->imageOffset = 0;
        port->guards.repliesOwed = port->guards.holdSteps = 0;
    }
    port->sectorStep = SectorStart;
    port->guards.eraseSent = false;
    commandDueNow(port);
    step(port);
}

// ---------------------------------------------------------------------------
// Progress and status.

void Sequencer::showFirmwareProgress(PortTest *port)
{
    int value = 0;
    if (port->address > kLastAddress - 1)
        value = kLastDataProgress;
    else if (port->address >= kFirstAddress)
        value = port->address - kFirstAddress;
    host.setFirmwareProgress(value);
}

qint64 Sequencer::imageBytesDone(const PortTest *port) const
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

void Sequencer::showImageProgress(PortTest *port)
{
    host.setImageProgress(static_cast<int>(imageBytesDone(port)));
}

void Sequencer::updateStatus(PortTest *port)
{
    UnitStatus &s = port->status;
    if (s.ended())
        return;
    const UnitStatus before = s;
    constexpr qint64 kFirmwareBytes = qint64(kSectorCount) * Protocol::kSectorSize;
    const bool firmwareJob = inputs.mode != ImagesOnly && inputs.mode != DeleteImages;
    qint64 firmwareDone = 0;
    switch (port->jobState) {
    case StartVersionQuery:
    case VersionQuery: s.stage = UnitStatus::Querying; break;
    case SwitchToBootloaderSpeed:
    case WaitForBootloader:
    case OpenFiles: s.stage = UnitStatus::WaitingForBootloader; break;
    case ProgramFirmware:
        s.stage = UnitStatus::Firmware;
        s.sectorCount = kSectorCount;
        s.sector = std::min(kSectorCount,
            std::max(1, (port->address - kFirstAddress) / Protocol::kSectorSize + 1));
        firmwareDone = std::max<qint64>(0, port->address - kFirstAddress);
        break;
    case SendImages:
        s.stage = UnitStatus::Images;
        s.imageCount = imageCount();
        s.image = std::min<int>(imageCount(), static_cast<int>(port->imageIndex) + 1);
        firmwareDone = kFirmwareBytes;
        break;
    case EraseImages: s.stage = UnitStatus::Erasing; break;
    case Finish:
        s.stage = UnitStatus::Finishing;
        firmwareDone = kFirmwareBytes;
        break;
    }
    if (inputs.mode == DeleteImages) {
        s.percent = port->jobState == Finish ? 100
            : port->jobState == EraseImages && port->imageStep == EraseWait ? 50 : 0;
    } else {
        const qint64 total = (firmwareJob ? kFirmwareBytes : 0) + imageTotal;
        const qint64 done = (firmwareJob ? std::min(firmwareDone, kFirmwareBytes) : 0)
            + (port->jobState == SendImages || port->jobState == Finish ? imageBytesDone(port)
                                                                          : 0);
        s.percent = port->jobState == Finish || total == 0
            ? (port->jobState == Finish ? 100 : 0)
            : static_cast<int>(done * 100 / total);
    }
    if (s != before)
        host.unitChanged(port);
}

void Sequencer::endStatus(PortTest *port)
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

void Sequencer::send(PortTest *port, char *text)
{
    host.sendLine(port, text);
    ++port->timing.linesSent;
    port->timing.lastSendNs = host.nowNs();
}

void Sequencer::sendSectorErase(PortTest *port)
{
    char line[kLineBufferSize];
    Protocol::sectorErase(line, static_cast<std::uint32_t>(port->address));
    ReplyGuards &g = port->guards;
    g.sectorErased = false;
    g.eraseSent = true;
    g.awaited = 0;
    g.dataSends = 0;
    g.programSends = 0;
    send(port, line);
}

void Sequencer::sendDataLine(PortTest *port)
{
    // Unit address A is file position A; bytes past the file's end go as 00.
    unsigned char bytes[Protocol::kDataLineBytes] = {};
    if (port->jobFile.isOpen() && port->jobFile.seek(port->address))
        port->jobFile.read(reinterpret_cast<char *>(bytes), sizeof bytes);
    char line[kLineBufferSize];
    Protocol::sectorData(line, static_cast<std::uint32_t>(port->address % Protocol::kSectorSize),
        bytes, Protocol::kDataLineBytes);
    ReplyGuards &g = port->guards;
    if (g.dataSends++ > 0)
        ++port->timing.resends;
    send(port, line);
    g.awaited = 'D';
    g.dataSentAtRead = g.readCount;
    g.lastCopyNs = port->timing.lastSendNs;
    g.wakeGraced = false;
    armResend(port);
}

void Sequencer::sendProgram(PortTest *port)
{
    char line[kLineBufferSize];
    Protocol::sectorProgram(line, static_cast<std::uint32_t>(port->address - Protocol::kSectorSize),
        Protocol::kSectorSize);
    if (port->guards.programSends++ > 0)
        ++port->timing.resends;
    send(port, line);
    qCDebug(lcJob) << static_cast<unsigned>(kLastAddress - port->address);
}

void Sequencer::sendImageHeader(PortTest *port, const ImageRecord &image)
{
    char line[kLineBufferSize];
    Protocol::imageHeader(line, image.imageName, image.imageVersion, image.width, image.height);
    ReplyGuards &g = port->guards;
    if (g.headerSends++ > 0)
        ++port->timing.resends;
    g.headerAwaited = true;
    g.chunksAwaited = false;
    g.awaited = 0;
    send(port, line);
}

void Sequencer::sendChunk(PortTest *port, const ImageRecord &image)
{
    const int size = image.pixels.size();
    const int offset = static_cast<int>(port->imageOffset);
    const int count = std::max(0, std::min(Protocol::kChunkBytes, size - offset));
    const std::uint32_t chunk = port->imageOffset / Protocol::kChunkBytes;
    ReplyGuards &g = port->guards;
    if (g.chunksAwaited && chunk == port->lastChunk && g.chunkSends > 0)
        ++port->timing.resends;
    else
        g.chunkSends = 0;
    ++g.chunkSends;
    port->lastChunk = chunk;
    char line[kLineBufferSize];
    Protocol::imageChunk(line, port->lastChunk,
        reinterpret_cast<const unsigned char *>(image.pixels.constData()) + offset, count);
    port->stepCountdown = kImageWaitSteps;
    g.chunksAwaited = true;
    send(port, line);
    g.awaited = 'F';
    g.lastCopyNs = port->timing.lastSendNs;
    g.wakeGraced = false;
    armResend(port);
    if (offset + count >= size)
        port->imageStep = ImageRestart;
}

void Sequencer::sendExit(PortTest *port)
{
    char line[kLineBufferSize];
    Protocol::exitBootloader(line);
    send(port, line);
}
