// The sequencer's job endings other than a job's own "$X": a captured unit
// that falls silent, a unit whose bootloader keeps restarting or never answers
// its capture, a connection lost and a job the front end stops.
#include "engine/Sequencer.h"

#include "link/Diagnostics.h"
#include "engine/JobHost.h"
#include "engine/UnitJob.h"
#include "engine/Timeouts.h"

using namespace Timeouts;

bool Sequencer::endedBySilence(UnitJob *port)
{
    JobTiming &t = port->timing;
    const qint64 now = host.nowNs();
    const bool working = port->capturePhase != CapturePhase::Uncaptured
        && (port->jobState == JobState::ProgramFirmware || port->jobState == JobState::SendImages
            || port->jobState == JobState::EraseImages);
    // Once "$A,1" went out the unit may be erasing (about 20 s), and a lost
    // "$AACK,0" must not make that time count as silence: the erase's own
    // step-count wait bounds it.
    int &eraseSteps = port->guards.images.eraseSteps;
    const bool erasing = port->jobState == JobState::EraseImages && eraseSteps >= 0
        && eraseSteps < kEraseRunningSteps;
    if (erasing)
        ++eraseSteps;
    if (!working || erasing || t.lastSendNs < 0 || t.silentSinceNs < 0) {
        t.silentSinceNs = now; // nothing awaited: the long waits do not count
        return false;
    }
    const qint64 silentMs = (now - t.silentSinceNs) / 1000000;
    if (silentMs < kSilenceMs)
        return false;
    const QString stage = port->status.text();
    endUnit(port,
        QStringLiteral("%1: the unit has not answered for %2 s during %3: check the unit's "
                       "power, then run the update again: the unit's bootloader will take the "
                       "job from the start.")
            .arg(port->portName())
            .arg(silentMs / 1000)
            .arg(stage),
        QStringLiteral("no answer for %1 s during %2").arg(silentMs / 1000).arg(stage));
    return true;
}

void Sequencer::endUnit(UnitJob *port, const QString &logLine, const QString &reason)
{
    if (!logLine.isEmpty())
        log(logLine);
    closePort(port);
    port->jobState = JobState::Finish;
    port->tickCount = kFinishSteps;
    port->status.stage = UnitStatus::NotUpdated;
    port->status.reason = reason;
    host.unitChanged(port);
}

// The unit was reset (a supply dip, a crashed bootloader): its bootloader
// waits for a capture again. It is captured and its job starts again from the
// capture; the flash keeps what was written, and the job writes it all again.
void Sequencer::restart(UnitJob *port)
{
    const QString stage = port->status.text();
    if (++port->timing.restarts > kMaxRestarts) {
        endUnit(port,
            QStringLiteral("%1: the unit restarted during %2 once more, after %3 restarts: "
                           "check the unit's power, then run the update again: the unit's "
                           "bootloader will take the job from the start.")
                .arg(port->portName(), stage)
                .arg(kMaxRestarts),
            QStringLiteral("the unit kept restarting (during %1)").arg(stage));
        return;
    }
    log(QStringLiteral("%1: the unit restarted during %2; starting its update again")
            .arg(port->portName(), stage));
    if (!answerAnnouncement(port))
        return;
    port->guards.reset();
    port->jobState = JobState::WaitForBootloader;
    port->sectorStep = SectorStep::Start;
    port->imageIndex = 0;
    port->imageOffset = 0;
    port->imageStep = ImageStep::Header;
    port->eraseStep = EraseStep::Send;
    port->status.notUpdated.clear();
    host.setFirmwareProgress(0);
    host.setImageProgress(0);
}

bool Sequencer::answerAnnouncement(UnitJob *port)
{
    JobTiming &t = port->timing;
    const qint64 now = host.nowNs();
    if (t.captureSentNs < 0) {
        t.captureSentNs = now;
    } else if (now - t.captureSentNs >= kCaptureAnswerMs * 1000000LL) {
        // It restarts before it answers, or the line from the tool is broken:
        // "$G" after "$G" would keep the job waiting for ever.
        const qint64 seconds = (now - t.captureSentNs) / 1000000000;
        endUnit(port,
            QStringLiteral("%1: the unit's bootloader keeps announcing itself and has answered "
                           "no \"$G\" for %2 s: it restarts before it answers, or does not hear "
                           "this PC. Check the unit's power and the cable, then run the update "
                           "again.")
                .arg(port->portName())
                .arg(seconds),
            QStringLiteral("the bootloader answered no \"$G\" for %1 s").arg(seconds));
        return false;
    }
    sendCapture(port);
    port->capturePhase = CapturePhase::Captured;
    qCDebug(lcJob) << "Send Capture Bootloader";
    return true;
}

void Sequencer::connectionLost(UnitJob *port)
{
    if (port->jobState == JobState::ConfirmVersion) {
        // The update was written: the unit stays updated, only not confirmed.
        endConfirmation(port, false, QString(), QStringLiteral("the connection was lost"));
        port->link.closeLater();
        return;
    }
    if (port->status.stage == UnitStatus::ConnectionLost
        || (port->jobState == JobState::Finish && port->tickCount >= kFinishSteps))
        return;
    port->jobState = JobState::Finish;
    port->tickCount = kFinishSteps;
    log(QStringLiteral("Connection to %1 lost: its job has ended and the unit may not be "
                       "updated. Check the cable and run the job again.")
            .arg(port->portName()));
    port->status.stage = UnitStatus::ConnectionLost;
    port->status.reason = QStringLiteral("connection lost");
    host.unitChanged(port);
    // The port may be inside its own notification: close it once that is over.
    port->link.closeLater();
}

void Sequencer::stop(UnitJob *port, const QString &why)
{
    if (port->jobState == JobState::ConfirmVersion) {
        closePort(port);
        endConfirmation(
            port, false, QString(), QStringLiteral("the job was stopped (%1)").arg(why));
        return;
    }
    if (!port->status.ended())
        endUnit(port, QString(), why);
}

void Sequencer::endUnopened(UnitJob *port, const QString &reason)
{
    endUnit(port, QString(), reason);
}
