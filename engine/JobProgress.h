#pragma once
// Where a unit's job stands: the state machine's own state and the place in
// the firmware and the images it has got to. Names are the sequencer's own.
// PortTest carries it beside the job's ReplyGuards and JobTiming.
#include "engine/JobState.h"

#include <cstdint>

struct JobProgress {
    JobState jobState = StartVersionQuery;
    CapturePhase capturePhase = Uncaptured;
    // "$BOOTLOADM" went out: from then on the unit may be in its bootloader,
    // whether or not it answered.
    bool bootloaderAsked = false;
    SectorStep sectorStep = SectorStart;
    std::int32_t tickCount = 0; // firmware step counter; also Finish's
    std::int32_t retryCount = 0; // steps left in the version query
    std::int32_t address = 0; // unit address of the next firmware data line
    std::uint32_t imageIndex = 0; // image being sent
    std::uint32_t imageOffset = 0; // byte offset of its next chunk
    int imageStep = ImageHeader; // ImageStep, or EraseSend/EraseWait
    std::int32_t stepCountdown = 0; // steps before the image/erase work resends
    std::uint32_t lastChunk = 0; // chunk number of the last "$F" sent

    void resetProgress();
};
