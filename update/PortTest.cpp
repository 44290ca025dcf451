#include "update/PortTest.h"

PortTest::PortTest()
{
    rxLine[0] = '\0';
}

PortTest::~PortTest() = default;

void PortTest::resetJob()
{
    jobState = StartVersionQuery;
    capturePhase = Uncaptured;
    sectorStep = SectorStart;
    tickCount = 0;
    retryCount = 0;
    address = 0;
    imageIndex = 0;
    imageOffset = 0;
    imageStep = ImageHeader;
    stepCountdown = 0;
    lastChunk = 0;
    sectorErased = false;
    dataSends = programSends = headerSends = 0;
    headerAwaited = chunksAwaited = false;
    repliesOwed = holdSteps = 0;
    bootloaderAnswered = false;
    waitSteps = 0;
    notUpdated.clear();
    connectionLost = false;
    lastSendNs = -1;
    replyNsTotal = 0;
    replyCount = 0;
}
