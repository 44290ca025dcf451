#include "engine/JobProgress.h"

void JobProgress::resetProgress()
{
    jobState = StartVersionQuery;
    capturePhase = Uncaptured;
    bootloaderAsked = false;
    sectorStep = SectorStart;
    tickCount = 0;
    retryCount = 0;
    address = 0;
    imageIndex = 0;
    imageOffset = 0;
    imageStep = ImageHeader;
    stepCountdown = 0;
    lastChunk = 0;
}
