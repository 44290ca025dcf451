#pragma once
// One attached unit: its serial port, its receive line and its job record.
#include "link/LineFrame.h"
#include "update/JobState.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSerialPort>
#include <QStringList>
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
    std::int32_t tickCount = 0; // firmware step counter; also Finish's
    std::int32_t retryCount = 0; // steps left in the version query
    std::int32_t address = 0; // unit address of the next firmware data line
    std::uint32_t imageIndex = 0; // image being sent
    std::uint32_t imageOffset = 0; // byte offset of its next chunk
    int imageStep = ImageHeader; // ImageStep, or EraseSend/EraseWait
    std::int32_t stepCountdown = 0; // steps before the image/erase work resends
    std::uint32_t lastChunk = 0; // chunk number of the last "$F" sent
    QFile jobFile; // ":/res/Address.bin", then fw1.bin

    // Guards that keep a late, repeated or stray reply from acting when it is
    // not awaited. Replies name no line ("$DACK") or no image ("$IACK"), so
    // after a command went out more than once the answers still owed to its
    // earlier copies are waited for (a bounded number of steps) before the
    // next command of that kind goes out.
    bool sectorErased = false; // the current sector's "$EACK" arrived
    int dataSends = 0; // copies of the current "$D" line sent
    int programSends = 0; // copies of the current "$P" sent
    int headerSends = 0; // copies of the current "$I" sent
    bool headerAwaited = false; // an "$I" awaits its "$IACK"
    bool chunksAwaited = false; // "$F" lines sent since the last "$I"
    int repliesOwed = 0; // answers owed to earlier copies
    int holdSteps = 0; // steps left to wait for them
    bool bootloaderAnswered = false; // a bootloader reply arrived after "$G"
    int waitSteps = 0; // steps spent waiting for the bootloader

    // What the job could not do, for its closing line; empty when all was done.
    QStringList notUpdated;
    bool connectionLost = false;

    // Timing for the closing line: the job's clock and the replies' delays.
    QElapsedTimer jobClock;
    qint64 lastSendNs = -1; // jobClock time of the last command, -1 when answered
    qint64 replyNsTotal = 0;
    int replyCount = 0;

    // Resets the job record for a new job (discovery does this once).
    void resetJob();
};
