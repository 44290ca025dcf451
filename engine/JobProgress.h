#pragma once
// Where a unit's job stands: the state machine's own state and the place in
// the firmware and the images it has got to. Names are the sequencer's own.
// UnitJob carries it beside the job's ReplyGuards and JobTiming.
#include "engine/JobState.h"
#include "engine/LeftOnUnit.h"

#include <cstdint>

struct JobProgress {
    JobState jobState = JobState::StartVersionQuery;
    CapturePhase capturePhase = CapturePhase::Uncaptured;
    // "$BOOTLOADM" went out: from then on the unit may be in its bootloader,
    // whether or not it answered.
    bool bootloaderAsked = false;
    SectorStep sectorStep = SectorStep::Start;
    std::int32_t tickCount = 0; // firmware step counter; also Finish's
    std::int32_t retryCount = 0; // steps left in the version query
    std::int32_t address = 0; // unit address of the next firmware data line
    std::uint32_t imageIndex = 0; // image being sent
    std::uint32_t imageOffset = 0; // byte offset of its next chunk
    ImageStep imageStep = ImageStep::Header; // in SendImages
    EraseStep eraseStep = EraseStep::Send; // in EraseImages
    std::int32_t stepCountdown = 0; // steps before the image/erase work resends
    std::uint32_t lastChunk = 0; // chunk number of the last "$F" sent

    void resetProgress();

    // The questions asked of a job from outside the sequencer, in its terms.
    // The job has taken its last step: its port is closed, nothing more goes out.
    bool finished() const;
    // What stopping the job now would leave on the unit.
    LeftOnUnit leftOnUnit() const;
};
