#pragma once
// One attached unit: its serial port, its receive line and its job record.
#include "link/LineFrame.h"
#include "update/JobState.h"

#include <QFile>
#include <QSerialPort>
#include <cstdint>

class PortTest : public QSerialPort
{
public:
    PortTest();
    ~PortTest() override;

    // Receive line: the bytes since the last line feed.
    char rxLine[kLineBufferSize];
    std::int16_t rxLength = 0;

    // Job record.
    JobState jobState = StartVersionQuery;
    CapturePhase capturePhase = Uncaptured;
    SectorStep sectorStep = SectorStart;
    std::int32_t tickCount = 0;     // firmware step counter; also Finish's
    std::int32_t retryCount = 0;    // steps left in the version query
    std::int32_t address = 0;       // unit address of the next firmware data line
    std::uint32_t imageIndex = 0;   // image being sent
    std::uint32_t imageOffset = 0;  // byte offset of its next chunk
    int imageStep = ImageHeader;    // ImageStep, or EraseSend/EraseWait
    std::int32_t stepCountdown = 0; // steps before the image/erase work resends
    std::uint32_t lastChunk = 0;    // chunk number of the last "$F" sent
    QFile jobFile;                  // ":/res/Address.bin", then fw1.bin

    // Resets the job record for a new job (discovery does this once).
    void resetJob();
};
