#include "update/Sequencer.h"

#include "link/TextRoutines.h"
#include "ui_DialogBootload.h"
#include "update/Diagnostics.h"
#include "update/DialogBootload.h"
#include "update/FirmwareFile.h"
#include "update/LowLatency.h"
#include "update/PortTest.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <algorithm>

namespace {

constexpr int kVersionQuerySteps = 10; // eight "$MVER", then two "$BOOTLOADM"
constexpr int kCommandWaitSteps = 3; // firmware: a command is due once tickCount passes 3
constexpr int kProgramWaitSteps = 17; // ... and "$P" once it passes 17
constexpr int kImageWaitSteps = 3; // image header or chunk resent after four steps
constexpr int kImageRestartSteps = 6; // header again after a lost last "$FACK"
constexpr int kEraseReplySteps = 2; // "$A,1" waits this long for "$AACK"
constexpr int kEraseRunningSteps = 120; // ... and this long once erasing has started
constexpr int kFinishSteps = 4; // "$X" to closing the port
constexpr int kLastDataProgress = 913407; // firmware progress after the last data line
constexpr std::int32_t kFirstAddress = FirmwareFile::kFirstAddress;
constexpr std::int32_t kLastAddress = FirmwareFile::kEndAddress - 1; // 0xDFFFF
constexpr qint32 kBootloaderBaud = 921600;

} // namespace

Sequencer::Sequencer(DialogBootload &dialog)
    : dlg(dialog)
{
}

void Sequencer::log(const QString &line)
{
    dlg.logJob(line);
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
    switch (port->jobState) {
    case StartVersionQuery:
        port->retryCount = kVersionQuerySteps;
        port->jobState = VersionQuery;
        port->jobClock.start();
        break;
    case VersionQuery: versionQuery(port); break;
    case SwitchToBootloaderSpeed: switchToBootloaderSpeed(port); break;
    case WaitForBootloader:
        if (port->capturePhase == Captured) {
            port->jobState = OpenFiles;
        } else if (++port->waitSteps == kBootloaderWarnSteps) {
            log(QStringLiteral("No bootloader seen on %1 after 20 s: power-cycle the unit. "
                               "Still waiting.")
                    .arg(port->portName()));
        }
        break;
    case OpenFiles: openFiles(port); break;
    case ProgramFirmware: programFirmware(port); break;
    case SendImages: sendImages(port); break;
    case EraseImages: eraseImages(port); break;
    case Finish: finish(port); break;
    }
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
    port->bootloaderAnswered = false;
    port->waitSteps = 0;
    port->rxLength = 0; // a partial line from the old speed would spoil the first one
    port->setBaudRate(kBootloaderBaud, QSerialPort::AllDirections);
    if (port->isOpen() || port->open(QIODevice::ReadWrite)) {
        LowLatency::request(*port);
    } else {
        qCDebug(lcJob).noquote() << "Could not reopen" << port->portName() << port->errorString();
    }
    port->jobState = WaitForBootloader;
}

void Sequencer::openFiles(PortTest *port)
{
    const QString firmwarePath
        = QCoreApplication::applicationDirPath() + QStringLiteral("/fw1.bin");

    port->jobFile.setFileName(QStringLiteral(":/res/Address.bin"));
    qCDebug(lcJob) << (port->jobFile.exists() ? "File exists Address.bin"
                                              : "Cannot find file Address.bin");
    if (port->jobFile.open(QIODevice::ReadOnly)) {
        port->jobFile.setTextModeEnabled(false);
        qCDebug(lcJob) << "Opened address.bin";
    }

    port->jobState = ProgramFirmware;
    if (dlg.mode == ImagesOnly) {
        port->jobState = SendImages;
        port->imageIndex = 0;
        port->imageOffset = 0;
        port->imageStep = ImageRestart;
        port->stepCountdown = 0;
    } else if (dlg.mode == DeleteImages) {
        port->jobState = EraseImages;
        port->imageIndex = 0;
        port->imageOffset = 0;
        port->imageStep = EraseSend;
        port->stepCountdown = 1;
    }

    port->jobFile.close();
    port->jobFile.setFileName(firmwarePath);
    if (port->jobFile.open(QIODevice::ReadOnly))
        qCDebug(lcJob).noquote() << "Opened" << port->jobFile.fileName();

    port->address = kFirstAddress;
    port->sectorStep = SectorStart;
    port->tickCount = 0;
    port->sectorErased = false;
    port->dataSends = port->programSends = port->headerSends = 0;
    port->headerAwaited = port->chunksAwaited = false;
    port->repliesOwed = port->holdSteps = 0;

    if (!dlg.settingsProblem.isEmpty() && dlg.mode != DeleteImages)
        port->notUpdated << QStringLiteral("the display images (settings.json could not be read)");
    if (port->jobState != ProgramFirmware)
        return;
    // Not one sector is erased from a file that can't be written whole: the
    // unit keeps the firmware it has.
    const QString problem = FirmwareFile::problem(firmwarePath);
    if (!problem.isEmpty()) {
        log(QStringLiteral("fw1.bin cannot be used: %1. The firmware was not updated.")
                .arg(problem));
        port->notUpdated.prepend(QStringLiteral("the firmware"));
        if (dlg.settingsProblem.isEmpty())
            port->notUpdated << QStringLiteral("the display images");
        port->jobState = Finish;
        port->tickCount = 0;
        sendExit(port);
    }
}

// Holds the next command while answers owed to earlier copies of a resent
// command may still arrive; true while holding.
bool Sequencer::holding(PortTest *port)
{
    if (port->repliesOwed > 0 && port->holdSteps > 0) {
        --port->holdSteps;
        return true;
    }
    port->repliesOwed = 0;
    port->holdSteps = 0;
    return false;
}

void Sequencer::owe(PortTest *port, int copies)
{
    if (copies <= 0)
        return;
    port->repliesOwed = copies;
    port->holdSteps = kSettleSteps;
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
        if (!port->sectorErased) {
            // Without "$EACK" the sector may not have been erased: start it again.
            qCDebug(lcJob).noquote()
                << "No $EACK for the sector at" << Qt::hex << port->address - Protocol::kSectorSize
                << "on" << port->portName() << "- erasing it again";
            port->address -= Protocol::kSectorSize;
            port->sectorStep = SectorStart;
            port->tickCount = kCommandWaitSteps + 1;
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
    const auto count = static_cast<std::uint32_t>(dlg.images.size());
    switch (port->imageStep) {
    case ImageHeader:
        if (port->stepCountdown > 0) {
            --port->stepCountdown;
            return;
        }
        if (holding(port) || !skipUnsendableImages(port))
            return;
        sendImageHeader(port, dlg.images.at(static_cast<int>(port->imageIndex)));
        port->imageOffset = 0;
        port->stepCountdown = kImageWaitSteps;
        return;
    case ImageChunks:
        if (port->stepCountdown > 0) {
            --port->stepCountdown;
            return;
        }
        if (port->imageIndex >= count) {
            port->jobState = Finish;
            port->tickCount = 0;
            sendExit(port);
            return;
        }
        sendChunk(port, dlg.images.at(static_cast<int>(port->imageIndex)));
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

// Passes over images that must not be sent (they were not read, or the unit
// can't show them), noting each; false when that ended the job.
bool Sequencer::skipUnsendableImages(PortTest *port)
{
    while (port->imageIndex < static_cast<std::uint32_t>(dlg.images.size())) {
        const ImageRecord &image = dlg.images.at(static_cast<int>(port->imageIndex));
        if (image.problem.isEmpty() && !image.pixels.isEmpty())
            return true;
        const QString what = QStringLiteral("image %1 (%2)")
                                 .arg(image.imageName)
                                 .arg(QFileInfo(image.fileName).fileName());
        log(QStringLiteral("Not sending %1 to %2: %3")
                .arg(what, port->portName(),
                    image.problem.isEmpty() ? QStringLiteral("it holds no bytes") : image.problem));
        port->notUpdated << what;
        ++port->imageIndex;
        showImageProgress(port);
    }
    port->jobState = Finish;
    port->tickCount = 0;
    sendExit(port);
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

void Sequencer::finish(PortTest *port)
{
    if (port->tickCount >= kFinishSteps)
        return;
    if (++port->tickCount < kFinishSteps)
        return;
    closePort(port);
    if (port->notUpdated.isEmpty())
        log(QStringLiteral("Bootload Complete"));
    else
        log(QStringLiteral("Update of %1 NOT complete. Not updated: %2.")
                .arg(port->portName(), port->notUpdated.join(QStringLiteral(", "))));
    const double seconds = static_cast<double>(port->jobClock.nsecsElapsed()) / 1e9;
    const double replyMs = port->replyCount > 0
        ? static_cast<double>(port->replyNsTotal) / 1e6 / port->replyCount
        : 0.0;
    log(QStringLiteral("%1: job took %2 s, average reply time %3 ms over %4 replies")
            .arg(port->portName())
            .arg(seconds, 0, 'f', 1)
            .arg(replyMs, 0, 'f', 2)
            .arg(port->replyCount));
}

void Sequencer::connectionLost(PortTest *port)
{
    if (port->connectionLost || (port->jobState == Finish && port->tickCount >= kFinishSteps))
        return;
    port->connectionLost = true;
    port->jobState = Finish;
    port->tickCount = kFinishSteps;
    log(QStringLiteral("Connection to %1 lost: its job has ended and the unit may not be "
                       "updated. Check the cable and run the job again.")
            .arg(port->portName()));
    // The port may be inside its own notification: close it once that is over.
    QPointer<PortTest> later(port);
    QTimer::singleShot(0, &dlg, [later] {
        if (later && later->isOpen())
            later->close();
    });
}

// ---------------------------------------------------------------------------
// Reactions to replies, in the order the reply words are checked.

void Sequencer::onReply(PortTest *port, Protocol::ReplyWord word, const char *line)
{
    using Protocol::ReplyWord;
    if (word == ReplyWord::Unknown)
        return;
    if (word != ReplyWord::Bootloader && word != ReplyWord::MverR) {
        port->bootloaderAnswered = true;
        if (port->lastSendNs >= 0 && port->jobClock.isValid()) {
            port->replyNsTotal += port->jobClock.nsecsElapsed() - port->lastSendNs;
            ++port->replyCount;
            port->lastSendNs = -1;
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
        if (word != ReplyWord::GAck)
            return;
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
}

void Sequencer::onBootloader(PortTest *port)
{
    // "$G" again for as long as the bootloader has not answered after the
    // capture: a lost "$G" must not leave the job waiting forever.
    const bool captureLost = port->capturePhase == Captured && !port->bootloaderAnswered;
    if (port->capturePhase != Uncaptured && !captureLost)
        return;
    dlg.sendRaw(port, QString::fromLatin1(Protocol::kCapture));
    port->capturePhase = Captured;
    qCDebug(lcJob) << "Send Capture Bootloader";
}

void Sequencer::onVersion(PortTest *port, const char *line)
{
    char version[kLineBufferSize];
    if (GetField(line, version, 1, kLineBufferSize - 1) == 0)
        version[0] = '\0';
    dlg.ui->label_UnitVersion->setText(
        QStringLiteral("Unit Version: ") + QString::fromUtf8(version));
    char command[kLineBufferSize];
    Protocol::startBootloader(command);
    send(port, command);
}

void Sequencer::onImageAck(PortTest *port, const char *line)
{
    if (port->jobState != SendImages || !port->headerAwaited) {
        // An answer owed to an earlier copy of a header, or a stray one.
        qCDebug(lcJob) << "$IACK not awaited, ignored";
        if (port->repliesOwed > 0 && --port->repliesOwed == 0) {
            port->holdSteps = 0;
            if (port->jobState == SendImages && port->imageStep == ImageHeader
                && port->stepCountdown == 0)
                dlg.runJobStep(port); // the held header goes out now
        }
        return;
    }
    const int flag = Protocol::flagField(line, 1);
    if (flag == 0 || flag == 1) {
        port->headerAwaited = false;
        owe(port, port->headerSends - 1);
        port->headerSends = 0;
        if (flag == 0)
            port->imageStep = ImageChunks;
        else
            nextImage(port); // the unit holds this image already
    }
    port->stepCountdown = 0;
    dlg.runJobStep(port);
}

void Sequencer::onChunkAck(PortTest *port, const char *line)
{
    const std::uint32_t chunk = Protocol::numberField(line, 1);
    const int flag = Protocol::flagField(line, 2);
    char flagText[kLineBufferSize];
    if (GetField(line, flagText, 2, kLineBufferSize - 1) == 0)
        flagText[0] = '\0';
    qCDebug(lcJob).noquote() << "FACK" << chunk << flagText;
    if (port->jobState != SendImages || !port->chunksAwaited
        || port->imageIndex >= static_cast<std::uint32_t>(dlg.images.size())) {
        qCDebug(lcJob) << "$FACK not awaited, ignored";
        return;
    }
    const ImageRecord &image = dlg.images.at(static_cast<int>(port->imageIndex));
    if (chunk == port->lastChunk) {
        port->imageOffset += Protocol::kChunkBytes;
        if (port->imageOffset >= static_cast<std::uint32_t>(image.pixels.size()))
            nextImage(port);
        else
            showImageProgress(port);
    } else if (flag == 1) {
        // The unit moves on to the next image; it starts with its header.
        port->chunksAwaited = false;
        ++port->imageIndex;
        port->imageStep = ImageRestart;
        port->imageOffset = 0;
        showImageProgress(port);
    } else {
        // A late or repeated acknowledgement: the resend by step count covers
        // a chunk that was really lost.
        qCDebug(lcJob) << "$FACK for another chunk than" << port->lastChunk << ", ignored";
        return;
    }
    port->stepCountdown = 0;
    dlg.runJobStep(port);
}

// The current image is done (sent or held by the unit already): on to the next,
// or "$X" after the last.
void Sequencer::nextImage(PortTest *port)
{
    port->chunksAwaited = false;
    ++port->imageIndex;
    port->imageStep = ImageHeader;
    port->imageOffset = 0;
    if (port->imageIndex >= static_cast<std::uint32_t>(dlg.images.size())) {
        port->jobState = Finish;
        port->tickCount = 0;
        sendExit(port);
    }
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
        port->jobState = Finish;
        port->tickCount = 0;
        sendExit(port);
    }
}

void Sequencer::onSectorErased(PortTest *port)
{
    if (port->jobState != ProgramFirmware || port->capturePhase != Captured
        || port->sectorStep == SectorProgram || port->sectorErased)
        return;
    port->sectorErased = true;
    port->sectorStep = SectorData;
    // The first data line goes out now, unless the wait for this reply has
    // already sent it.
    if (port->address % Protocol::kSectorSize == 0 && port->dataSends == 0) {
        port->tickCount = kCommandWaitSteps + 1;
        dlg.runJobStep(port);
    }
}

void Sequencer::onDataAck(PortTest *port)
{
    if (port->jobState != ProgramFirmware
        || (port->capturePhase != Captured && port->capturePhase != FirmwareWritten))
        return;
    if (port->repliesOwed > 0) {
        // Owed to an earlier copy of a line that is acknowledged already.
        if (--port->repliesOwed == 0) {
            port->holdSteps = 0;
            dlg.runJobStep(port);
        }
        return;
    }
    if (port->sectorStep != SectorData || port->dataSends == 0)
        return;
    const int copies = port->dataSends;
    port->dataSends = 0;
    port->tickCount = kCommandWaitSteps + 1;
    port->address += Protocol::kDataLineBytes;
    if (port->address % Protocol::kSectorSize == 0) {
        port->sectorStep = SectorProgram;
        port->tickCount = kProgramWaitSteps + 1;
    }
    showFirmwareProgress(port);
    owe(port, copies - 1);
    dlg.runJobStep(port);
}

void Sequencer::onProgrammed(PortTest *port)
{
    if (port->jobState != ProgramFirmware || port->capturePhase != Captured
        || port->sectorStep != SectorProgram || port->programSends == 0)
        return;
    port->programSends = 0;
    if (port->address > kLastAddress - 1) {
        port->capturePhase = FirmwareWritten;
        port->address = kFirstAddress;
        dlg.setFirmwareProgress(kLoadMaximum);
        port->stepCountdown = 0;
        port->jobState = SendImages;
        port->imageIndex = 0;
        port->imageStep = ImageRestart;
        port->imageOffset = 0;
        port->repliesOwed = port->holdSteps = 0;
    }
    port->sectorStep = SectorStart;
    port->tickCount = kCommandWaitSteps + 1;
    dlg.runJobStep(port);
}

// ---------------------------------------------------------------------------
// Progress.

void Sequencer::showFirmwareProgress(PortTest *port)
{
    int value = 0;
    if (port->address > kLastAddress - 1)
        value = kLastDataProgress;
    else if (port->address >= kFirstAddress)
        value = port->address - kFirstAddress;
    dlg.setFirmwareProgress(value);
}

void Sequencer::showImageProgress(PortTest *port)
{
    qint64 done = 0;
    const int before = static_cast<int>(
        std::min<std::uint32_t>(port->imageIndex, static_cast<std::uint32_t>(dlg.images.size())));
    for (int i = 0; i < before; ++i)
        done += dlg.images.at(i).pixels.size();
    if (port->imageIndex < static_cast<std::uint32_t>(dlg.images.size()))
        done += port->imageOffset;
    dlg.setImageProgress(
        static_cast<int>(std::min<qint64>(done, dlg.ui->progressBarVerify->maximum())));
}

// ---------------------------------------------------------------------------
// Commands.

void Sequencer::send(PortTest *port, char *text)
{
    dlg.sendLine(port, text);
    if (port->jobClock.isValid())
        port->lastSendNs = port->jobClock.nsecsElapsed();
}

void Sequencer::sendSectorErase(PortTest *port)
{
    char line[kLineBufferSize];
    Protocol::sectorErase(line, static_cast<std::uint32_t>(port->address));
    port->sectorErased = false;
    port->dataSends = 0;
    port->programSends = 0;
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
    ++port->dataSends;
    send(port, line);
}

void Sequencer::sendProgram(PortTest *port)
{
    char line[kLineBufferSize];
    Protocol::sectorProgram(line, static_cast<std::uint32_t>(port->address - Protocol::kSectorSize),
        Protocol::kSectorSize);
    ++port->programSends;
    send(port, line);
    qCDebug(lcJob) << static_cast<unsigned>(kLastAddress - port->address);
}

void Sequencer::sendImageHeader(PortTest *port, const ImageRecord &image)
{
    char line[kLineBufferSize];
    Protocol::imageHeader(line, image.imageName, image.imageVersion, image.width, image.height);
    ++port->headerSends;
    port->headerAwaited = true;
    port->chunksAwaited = false;
    send(port, line);
}

void Sequencer::sendChunk(PortTest *port, const ImageRecord &image)
{
    const int size = image.pixels.size();
    const int offset = static_cast<int>(port->imageOffset);
    const int count = std::max(0, std::min(Protocol::kChunkBytes, size - offset));
    port->lastChunk = port->imageOffset / Protocol::kChunkBytes;
    char line[kLineBufferSize];
    Protocol::imageChunk(line, port->lastChunk,
        reinterpret_cast<const unsigned char *>(image.pixels.constData()) + offset, count);
    port->stepCountdown = kImageWaitSteps;
    port->chunksAwaited = true;
    send(port, line);
    if (offset + count >= size)
        port->imageStep = ImageRestart;
}

void Sequencer::sendExit(PortTest *port)
{
    char line[kLineBufferSize];
    Protocol::exitBootloader(line);
    send(port, line);
}
