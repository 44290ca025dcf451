#pragma once
// A unit's job record, in three groups: the sequencer's own record, the guards
// that keep late or repeated replies from acting, and the job's timing. Each
// group has one reset; PortTest carries all three.
#include "engine/AnswerLedger.h"
#include "engine/JobState.h"
#include "engine/ReplyTimer.h"

#include <QFile>
#include <QtGlobal>
#include <cstdint>

// Where the job stands: the state machine's own state. Names are the sequencer's own.
struct JobProgress {
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

    void resetProgress();
};

// Replies name no line ("$DACK") or no image ("$IACK"): each copy of such a
// command is kept in a ledger until its answer came or can no longer come, and
// an answer counts for the current command only when it can be no other's.
struct ReplyGuards {
    bool sectorErased = false; // the current sector's "$EACK" arrived
    bool eraseSent = false; // the current sector's "$E" went out
    int dataSends = 0; // copies of the current "$D" line sent
    int dataUnanswered = 0; // ... of them since an answer last came
    int programSends = 0; // copies of the current "$P" sent
    int headerSends = 0; // copies of the current "$I" sent
    int chunkSends = 0; // copies of the current "$F" sent
    char awaited = 0; // 'D' or 'F': that line awaits its answer
    qint64 lastCopyNs = -1; // when its latest copy went out
    // Reads of the port, counted: a reply whose first byte was read before a
    // line went out (in the read that sent it, or earlier) can't be that
    // line's answer.
    quint32 readCount = 0;
    quint32 replyStartRead = 0; // the read that brought the first byte of the reply being cut
    qint64 wakeDueNs = -1; // when the wake-up asked for is due
    bool wakeGraced = false; // a late wake-up gave the answer more time once
    bool headerAwaited = false; // an "$I" awaits its "$IACK"
    bool chunksAwaited = false; // "$F" lines sent since the last "$I"
    AnswerLedger dataCopies; // "$D" copies of this sector that may still be answered
    quint32 dataLine = 0; // number of the current (or last) "$D" line
    qint64 dataFirstNs = -1; // when its first copy went out
    AnswerLedger headerCopies; // "$I" copies that may still be answered
    quint32 headerLine = 0; // number of the current (or last) "$I"
    qint64 headerFirstNs = -1; // when its first copy went out
    qint64 chunkFirstNs = -1; // when the current "$F"'s first copy went out
    int holdSteps = 0; // steps left to hold the next "$D" or "$I" for owed answers
    int sectorCopies = 0; // "$D" copies sent since the last "$PACK"
    int sectorAnswers = 0; // "$DACK"s since then: more than copies means one was repeated
    int sectorRedos = 0; // times the current sector was written again for that
    quint32 programRead = 0; // the read count when the sector's "$P" last went out
    int eraseSteps = -1; // steps since "$A,1" first went out (the unit may be erasing); -1: not yet
    bool bootloaderAnswered = false; // a bootloader reply arrived after "$G"
    int waitSteps = 0; // steps spent waiting for the bootloader

    void reset() { *this = ReplyGuards(); }
};

// When things happened, on the engine's clock (JobHost::nowNs).
struct JobTiming {
    qint64 startNs = -1; // the job's first step
    qint64 lastSendNs = -1; // the last command, -1 once answered
    qint64 replyNsTotal = 0; // sum of the answered commands' reply times
    int replyCount = 0;
    int linesSent = 0; // framed command lines written
    int resends = 0; // lines that went out again for want of an answer
    // Answers that came for a copy whose line had gone out again meanwhile: the
    // line was not lost, its answer was late. resends less these were lost.
    int lateAnswers = 0;
    // The longest answer this port has shown, counted from the first copy of
    // the line it answered: owed answers are waited for twice as long.
    qint64 longestAnswerNs = 0;
    qint64 silentSinceNs = -1; // the last reply, or the last moment nothing was awaited
    int restarts = 0; // the unit's bootloader started again mid-job
    qint64 captureSentNs = -1; // the first "$G" for a "$Bootloader" not answered yet
    // The unit has sent a reply whose checksum was right: from then on a reply
    // whose checksum is present and wrong was garbled on its way, and is dropped.
    bool checksumsShown = false;
    int garbledReplies = 0; // replies dropped for a wrong checksum
    ReplyTimer dataTimer; // "$D" answers
    ReplyTimer chunkTimer; // "$F" answers

    void reset() { *this = JobTiming(); }
};
