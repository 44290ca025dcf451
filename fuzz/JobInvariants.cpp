#include "JobInvariants.h"

#include "engine/JobState.h"
#include "engine/UnitJob.h"
#include "engine/Protocol.h"
#include "engine/Sequencer.h"
#include "engine/Timeouts.h"

namespace JobInvariants {

const char *violation(const UnitJob &port, const JobInputs &inputs)
{
    const QList<ImageRecord> &images = inputs.images;
    if (port.jobState < JobState::StartVersionQuery || port.jobState > JobState::ConfirmVersion)
        return "jobState out of range";
    const UnitStatus &status = port.status;
    if (port.jobState == JobState::ConfirmVersion) {
        if (!inputs.confirmVersion)
            return "version confirmed without being asked for";
        if (!status.notUpdated.isEmpty())
            return "version confirmed of a unit not updated";
        if (status.ended() || status.confirmation != UnitStatus::NotAsked)
            return "confirmation decided while it runs";
        if (port.retryCount > Timeouts::kConfirmSteps)
            return "more version queries left than a confirmation has";
    } else if (status.confirmation != UnitStatus::NotAsked) {
        if (!inputs.confirmVersion)
            return "confirmation decided without being asked for";
        if (status.stage != UnitStatus::Updated || port.jobState != JobState::Finish)
            return "confirmation decided for a job not ended updated";
        const bool firmwareJob
            = inputs.mode != UpdateMode::ImagesOnly && inputs.mode != UpdateMode::DeleteImages;
        if (status.confirmation == UnitStatus::Confirmed && firmwareJob
            && !inputs.expectedVersion.isEmpty() && status.confirmedVersion != inputs.expectedVersion)
            return "confirmed with a version other than the update's";
    } else if (!status.confirmedVersion.isEmpty()) {
        return "a confirmed version without a confirmation";
    }
    if (port.capturePhase < CapturePhase::Uncaptured
        || port.capturePhase > CapturePhase::FirmwareWritten)
        return "capturePhase out of range";
    if (port.sectorStep < SectorStep::Start || port.sectorStep > SectorStep::Program)
        return "sectorStep out of range";
    if (port.imageStep < ImageStep::Header || port.imageStep > ImageStep::Restart)
        return "imageStep out of range";
    if (port.eraseStep < EraseStep::Send || port.eraseStep > EraseStep::Wait)
        return "eraseStep out of range";
    if (port.address < 0x1000 || port.address > 0xE0000)
        return "address outside 0x1000..0xE0000";
    if (port.address % Protocol::kDataLineBytes != 0)
        return "address not at a data line";
    const auto count = static_cast<std::uint32_t>(images.size());
    if (port.imageIndex > count)
        return "imageIndex past the image count";
    if (port.imageOffset % Protocol::kChunkBytes != 0)
        return "imageOffset not at a chunk";
    if (port.imageIndex == count) {
        if (port.imageOffset != 0)
            return "imageOffset without an image";
    } else if (port.imageOffset != 0
        && port.imageOffset >= static_cast<std::uint32_t>(
               images.at(static_cast<int>(port.imageIndex)).pixels.size())) {
        return "imageOffset outside the image";
    }
    if (port.tickCount < 0 || port.retryCount < 0 || port.stepCountdown < 0
        || port.guards.firmware.dataSends < 0 || port.guards.firmware.programSends < 0
        || port.guards.images.headerSends < 0 || port.guards.images.chunkSends < 0
        || port.guards.waits.holdSteps < 0 || port.guards.capture.waitSteps < 0 || port.rxLength < 0
        || port.rxLength >= kLineBufferSize)
        return "negative counter";
    return nullptr;
}

} // namespace JobInvariants
