// The sequencer's steps, by job state: what one step of a unit's job does in
// each state, from the version query to closing the port after "$X".
#include "engine/Sequencer.h"

#include "link/Diagnostics.h"
#include "engine/JobHost.h"
#include "engine/JobSummary.h"
#include "engine/UnitJob.h"
#include "engine/Timeouts.h"
#include "engine/LowLatency.h"
#include "payload/FirmwareFile.h"

#include <QFileInfo>
#include <utility>

using namespace Timeouts;

// One step, by job state.

void Sequencer::tick(UnitJob *port)
{
    port->link.readWaiting();
    step(port);
}

void Sequencer::step(UnitJob *port)
{
    if (endedBySilence(port))
        return;
    switch (port->jobState) {
    case JobState::StartVersionQuery:
        port->retryCount = kVersionQuerySteps;
        port->jobState = JobState::VersionQuery;
        port->timing.startNs = host.nowNs();
        break;
    case JobState::VersionQuery: versionQuery(port); break;
    case JobState::SwitchToBootloaderSpeed: switchToBootloaderSpeed(port); break;
    case JobState::WaitForBootloader: waitForBootloader(port); break;
    case JobState::OpenFiles: openFiles(port); break;
    case JobState::ProgramFirmware: programFirmware(port); break;
    case JobState::SendImages: sendImages(port); break;
    case JobState::EraseImages: eraseImages(port); break;
    case JobState::Finish: finish(port); break;
    case JobState::ConfirmVersion: confirmVersion(port); break;
    }
    updateStatus(port);
}

void Sequencer::versionQuery(UnitJob *port)
{
    char line[kLineBufferSize];
    --port->retryCount;
    if (port->retryCount > 1)
        Protocol::versionQuery(line);
    else
        Protocol::startBootloader(line);
    port->bootloaderAsked = port->bootloaderAsked || port->retryCount <= 1;
    send(port, line);
    if (port->retryCount <= 0) {
        closePort(port);
        port->jobState = JobState::SwitchToBootloaderSpeed;
    }
}

void Sequencer::switchToBootloaderSpeed(UnitJob *port)
{
    port->capturePhase = CapturePhase::Uncaptured;
    port->guards.capture.bootloaderAnswered = false;
    port->guards.capture.waitSteps = 0;
    port->timing.captureSentNs = -1;
    port->rxLength = 0; // a partial line from the old speed would spoil the first one
    port->timing.lastSendNs = -1; // the version query awaits no bootloader reply
    reopenAt(port, kBootloaderBaud);
    port->jobState = JobState::WaitForBootloader;
}

void Sequencer::waitForBootloader(UnitJob *port)
{
    if (port->capturePhase == CapturePhase::Captured) {
        port->jobState = JobState::OpenFiles;
        return;
    }
    const int waited = ++port->guards.capture.waitSteps;
    // A bootloader still captured by an earlier job stays silent until it
    // hears "$G"; one that is announcing itself takes it as a capture too.
    if (waited % kCaptureProbeSteps == 0) {
        qCDebug(lcJob) << "No $Bootloader yet: Send Capture Bootloader";
        sendCapture(port);
    }
    if (waited == kBootloaderWarnSteps) {
        log(QStringLiteral("No bootloader seen on %1 after 20 s: power-cycle the unit. "
                           "Still waiting.")
                .arg(port->portName()));
    }
}

// The work the job's mode picks: the firmware (then the images), the images
// only, or erasing them.
void Sequencer::startWork(UnitJob *port)
{
    port->jobState = JobState::ProgramFirmware;
    if (inputs.mode == UpdateMode::ImagesOnly) {
        port->jobState = JobState::SendImages;
        port->imageIndex = 0;
        port->imageOffset = 0;
        port->imageStep = ImageStep::Restart;
        port->stepCountdown = 0;
    } else if (inputs.mode == UpdateMode::DeleteImages) {
        port->jobState = JobState::EraseImages;
        port->imageIndex = 0;
        port->imageOffset = 0;
        port->eraseStep = EraseStep::Send;
        port->stepCountdown = 1;
    }
}

void Sequencer::openFiles(UnitJob *port)
{
    startWork(port);

    // Only a firmware job writes fw1.bin, from the bytes it was given.
    Problem firmwareProblem;
    if (port->jobState == JobState::ProgramFirmware) {
        firmwareProblem = inputs.firmwareProblem
            ? inputs.firmwareProblem
            : FirmwareFile::sizeProblem(QStringLiteral("fw1.bin"), inputs.firmware.size());
    }

    port->address = inputs.firmwareFrom;
    port->sectorStep = SectorStep::Start;
    port->tickCount = 0;
    const bool bootloaderAnswered = port->guards.capture.bootloaderAnswered;
    port->guards.reset();
    port->guards.capture.bootloaderAnswered = bootloaderAnswered;
    imageTotal = 0;
    for (const ImageRecord &image : std::as_const(inputs.images))
        imageTotal += image.pixels.size();

    if (inputs.settingsProblem && inputs.mode != UpdateMode::DeleteImages)
        port->status.notUpdated
            << QStringLiteral("the display images (settings.json could not be read)");
    if (port->jobState != JobState::ProgramFirmware)
        return;
    // Not one sector is erased from a file that can't be written whole: the
    // unit keeps the firmware it has.
    if (firmwareProblem) {
        log(QStringLiteral("fw1.bin cannot be used: %1. The firmware was not updated.")
                .arg(firmwareProblem.message));
        port->status.notUpdated.prepend(QStringLiteral("the firmware"));
        if (!inputs.settingsProblem)
            port->status.notUpdated << QStringLiteral("the display images");
        finishJob(port);
    }
}

void Sequencer::commandDueNow(UnitJob *port)
{
    port->tickCount = kCommandWaitSteps + 1;
}

void Sequencer::programDueNow(UnitJob *port)
{
    port->tickCount = kProgramWaitSteps + 1;
}

void Sequencer::programFirmware(UnitJob *port)
{
    switch (port->sectorStep) {
    case SectorStep::Start:
        if (port->tickCount <= kCommandWaitSteps) {
            ++port->tickCount;
            return;
        }
        port->tickCount = 0;
        sendSectorErase(port);
        port->sectorStep = SectorStep::Data;
        [[fallthrough]]; // data lines follow "$E" without waiting for "$EACK"
    case SectorStep::Data:
        // A new line waits while an earlier line's copy may still be answered.
        if (port->guards.firmware.dataSends == 0
            && spendHoldStep(port, port->guards.firmware.dataCopies))
            return;
        if (port->tickCount <= kCommandWaitSteps) {
            ++port->tickCount;
            return;
        }
        port->tickCount = 0;
        sendDataLine(port);
        ++port->tickCount;
        return;
    case SectorStep::Program:
        if (port->tickCount <= kProgramWaitSteps || port->capturePhase != CapturePhase::Captured) {
            ++port->tickCount;
            return;
        }
        if (!port->guards.firmware.sectorErased) {
            // Without "$EACK" the sector may not have been erased: start it again.
            qCDebug(lcJob).noquote()
                << "No $EACK for the sector at" << Qt::hex << port->address - Protocol::kSectorSize
                << "on" << port->portName() << "- erasing it again";
            port->address -= Protocol::kSectorSize;
            port->sectorStep = SectorStep::Start;
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

// More "$DACK"s came for the sector than copies of its lines went out: a reply
// was repeated on its way (the unit answers each copy once), so one may have
// been counted for a line the unit never got. Seen by the sector's "$PACK"
// (every answer to its copies came before it), the sector was programmed,
// maybe with a hole: it is erased and written again, and a sector that keeps
// showing it ends the job: what the unit holds can't be told.
void Sequencer::redoSector(UnitJob *port)
{
    ReplyGuards &g = port->guards;
    const std::int32_t sector = port->address - Protocol::kSectorSize;
    if (++g.firmware.sectorRedos > kMaxSectorRedos) {
        endUnit(port,
            QStringLiteral("%1: the unit's answers came more often than the lines sent, %2 times "
                           "in the sector at %3: replies are repeated on the way, and what the "
                           "unit holds can't be told. Check the cable and the adapter, then run "
                           "the update again.")
                .arg(port->portName())
                .arg(g.firmware.sectorRedos)
                .arg(sector, 0, 16),
            QStringLiteral("replies repeated (sector at %1)").arg(sector, 0, 16));
        return;
    }
    qCDebug(lcJob).noquote() << port->portName() << "sector at" << Qt::hex << sector
                             << "had more $DACK than $D copies, or one after copies were "
                                "given up: writing it again";
    ++port->timing.sectorsAgain;
    port->timing.sectorLinesAgain += Protocol::kSectorSize / Protocol::kDataLineBytes + 2;
    // Copies still in the ledger may yet be answered; none before them can.
    g.firmware.sectorAnswers = 0;
    g.firmware.sectorCopies = g.firmware.dataCopies.size();
    port->address = sector;
    port->sectorStep = SectorStep::Start;
    commandDueNow(port);
    programFirmware(port);
}

void Sequencer::sendImages(UnitJob *port)
{
    switch (port->imageStep) {
    case ImageStep::Header:
        if (port->stepCountdown > 0) {
            --port->stepCountdown;
            return;
        }
        if ((port->guards.images.headerSends == 0
                && spendHoldStep(port, port->guards.images.headerCopies))
            || !skipUnsendableImages(port))
            return;
        sendImageHeader(port, inputs.images.at(static_cast<int>(port->imageIndex)));
        port->imageOffset = 0;
        port->stepCountdown = kImageWaitSteps;
        return;
    case ImageStep::Chunks:
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
    case ImageStep::Restart:
        if (port->stepCountdown > 0) {
            --port->stepCountdown;
            return;
        }
        port->stepCountdown = kImageRestartSteps;
        port->imageStep = ImageStep::Header;
        return;
    default:
        port->imageStep = ImageStep::Restart;
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
bool Sequencer::skipUnsendableImages(UnitJob *port)
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

void Sequencer::eraseImages(UnitJob *port)
{
    if (port->stepCountdown > 0) {
        --port->stepCountdown;
        return;
    }
    if (port->eraseStep == EraseStep::Send) {
        log(QStringLiteral("Send Erase All messages Command takes around 20 seconds"));
        char line[kLineBufferSize];
        Protocol::eraseImages(line);
        send(port, line);
        if (port->guards.images.eraseSteps < 0)
            port->guards.images.eraseSteps = 0;
        port->eraseStep = EraseStep::Wait;
        port->stepCountdown = kEraseReplySteps;
    } else {
        port->eraseStep = EraseStep::Send;
        log(QStringLiteral("Command Timedout"));
    }
}

void Sequencer::finishJob(UnitJob *port)
{
    port->jobState = JobState::Finish;
    port->tickCount = 0;
    sendExit(port);
}

void Sequencer::finish(UnitJob *port)
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
    log(JobSummary::closingLine(port->portName(), seconds, replyMs,
        { t.resends, t.sectorsAgain, JobSummary::againSeconds(t, replyMs) }));
    const QString hint = JobSummary::lossyLinkHint(port->portName(), t.resends, t.lateAnswers, t.linesSent);
    if (!hint.isEmpty())
        log(hint);
    const QString advice = LowLatency::slowReplyAdvice(port->portName(), replyMs);
    if (!advice.isEmpty())
        log(advice);
    // The engine's own figures, for whoever reads the diagnostic log.
    const auto learned = [](const ReplyTimer &timer) {
        return timer.learned() ? QStringLiteral("%1 ms").arg(timer.timeoutNs() / 1000000)
                               : QStringLiteral("none");
    };
    qCDebug(lcJob).noquote() << port->portName() << "job figures:" << t.linesSent << "lines,"
                             << t.resends << "resends," << t.lateAnswers << "late answers,"
                             << t.garbledReplies << "garbled replies dropped," << t.replyCount
                             << "replies,"
                             << t.restarts << "restarts, learned time-out" << learned(t.dataTimer)
                             << "for \"$D\"," << learned(t.chunkTimer) << "for \"$F\","
                             << "answers owed for" << horizonNs(port) / 1000000 << "ms";
    if (inputs.confirmVersion && port->status.notUpdated.isEmpty()) {
        startConfirmation(port);
        return;
    }
    endStatus(port);
}

// The update is written and the unit left its bootloader: its version is asked
// as at the start, at the firmware's speed, to see that it runs the update.
void Sequencer::startConfirmation(UnitJob *port)
{
    port->jobState = JobState::ConfirmVersion;
    port->retryCount = kConfirmSteps;
    port->rxLength = 0; // a partial line from the bootloader's speed would spoil the answer
    port->timing.lastSendNs = -1;
    reopenAt(port, kVersionBaud);
}

void Sequencer::confirmVersion(UnitJob *port)
{
    if (port->retryCount <= 0) {
        closePort(port);
        endConfirmation(port, false, QString());
        return;
    }
    --port->retryCount;
    char line[kLineBufferSize];
    Protocol::versionQuery(line);
    send(port, line);
}

void Sequencer::endConfirmation(
    UnitJob *port, bool answered, const QString &version, const QString &cutShort)
{
    UnitStatus &s = port->status;
    port->jobState = JobState::Finish;
    port->tickCount = kFinishSteps;
    const bool firmwareJob = UpdateModes::writesFirmware(inputs.mode);
    const QString expected = firmwareJob ? inputs.expectedVersion : QString();
    const QString before
        = s.version.isEmpty() ? QStringLiteral("not known: it did not answer") : s.version;
    s.confirmedVersion = answered ? version : QString();
    s.confirmation = answered && (expected.isEmpty() || version == expected)
        ? UnitStatus::Confirmed
        : UnitStatus::NotConfirmed;
    if (!cutShort.isEmpty()) {
        log(QStringLiteral("%1: %2 before the unit's version could be confirmed: updated, not "
                           "confirmed. Version before the update: %3.")
                .arg(port->portName(), cutShort, before));
    } else if (!answered) {
        log(QStringLiteral("%1: the unit did not answer the version query in %2 s after \"$X\": "
                           "updated, not confirmed. The new firmware may not have started: "
                           "power-cycle the unit and check that it runs. Version before the "
                           "update: %3.")
                .arg(port->portName())
                .arg(kConfirmSteps * kTickMs / 1000)
                .arg(before));
    } else if (s.confirmation == UnitStatus::Confirmed) {
        log(QStringLiteral("%1: the unit runs version %2 now (before the update: %3)%4.")
                .arg(port->portName(), version, before,
                    expected.isEmpty() ? QString() : QStringLiteral(", as the update names")));
    } else {
        log(QStringLiteral("%1: the unit runs version %2 now (before the update: %3), not %4 as "
                           "the update names: updated, not confirmed. Check the update and the "
                           "unit.")
                .arg(port->portName(), version, before, expected));
    }
    endStatus(port);
}
