#include "engine/JobProgress.h"

#include "engine/Timeouts.h"

void JobProgress::resetProgress()
{
    jobState = JobState::StartVersionQuery;
    capturePhase = CapturePhase::Uncaptured;
    bootloaderAsked = false;
    sectorStep = SectorStep::Start;
    tickCount = 0;
    retryCount = 0;
    address = 0;
    imageIndex = 0;
    imageOffset = 0;
    imageStep = ImageStep::Header;
    eraseStep = EraseStep::Send;
    stepCountdown = 0;
    lastChunk = 0;
}

bool JobProgress::finished() const
{
    return jobState == JobState::Finish && tickCount >= Timeouts::kFinishSteps;
}

LeftOnUnit JobProgress::leftOnUnit() const
{
    // A unit whose version is being confirmed is updated and out of its
    // bootloader: only its confirmation is cut short.
    if (jobState == JobState::ConfirmVersion)
        return LeftOnUnit::Nothing;
    if (capturePhase != CapturePhase::Uncaptured)
        return LeftOnUnit::InBootloader;
    // Past the version query the unit was told to restart into its bootloader,
    // whether or not "$BOOTLOADM" was seen to go out.
    const bool querying
        = jobState == JobState::StartVersionQuery || jobState == JobState::VersionQuery;
    if (bootloaderAsked || !querying)
        return LeftOnUnit::Restarting;
    return LeftOnUnit::Nothing;
}
