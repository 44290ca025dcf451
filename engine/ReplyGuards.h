#pragma once
// The guards that keep late or repeated replies from acting, for one unit's
// job; UnitJob carries them, the sequencer resets them with the job.
#include "engine/AnswerLedger.h"
#include "engine/JobState.h"

#include <QVector>
#include <QtGlobal>

// Replies name no line ("$DACK") or no image ("$IACK"): each copy of such a
// command is kept in a ledger until its answer came or can no longer come, and
// an answer counts for the current command only when it can be no other's.
// The guards come in groups, by what they guard.
struct ReplyGuards {
    // The firmware's current sector: "$E", its "$D" lines, "$P".
    struct Firmware {
        bool sectorErased = false; // the current sector's "$EACK" arrived
        bool eraseSent = false; // the current sector's "$E" went out
        int dataSends = 0; // copies of the current "$D" line sent
        int dataUnanswered = 0; // ... of them since an answer last came
        int programSends = 0; // copies of the current "$P" sent
        AnswerLedger dataCopies; // "$D" copies of this sector that may still be answered
        quint32 dataLine = 0; // number of the current (or last) "$D" line
        qint64 dataFirstNs = -1; // when its first copy went out
        int sectorCopies = 0; // "$D" copies sent since the last "$PACK"
        int sectorAnswers = 0; // "$DACK"s since then: more than copies means one was repeated
        int sectorRedos = 0; // times the current sector was written again for that
        // A "$DACK" came that no copy still owed can account for, after the
        // ledger had given copies up: an answer came after its copy was given
        // up (or was repeated), and one placed since may belong to another
        // copy than it was counted for. The sector is written again too.
        bool answerAfterGivingUp = false;
        quint32 programRead = 0; // the read count when the sector's "$P" last went out
        // For each "$E" of the current sector, the last "$D" line sent before it
        // (dataLine then), and the "$EACK"s taken for them: the next "$EACK"
        // answers the first of them not answered yet, or a later one, so every
        // "$DACK" owed to a copy sent before that one came before it.
        QVector<quint32> eraseAfterLine;
        int eraseAnswers = 0;
    };
    // The images: the current "$I" and its "$F" lines, and the erase ("$A,1").
    struct Images {
        int headerSends = 0; // copies of the current "$I" sent
        int chunkSends = 0; // copies of the current "$F" sent
        bool headerAwaited = false; // an "$I" awaits its "$IACK"
        bool chunksAwaited = false; // "$F" lines sent since the last "$I"
        AnswerLedger headerCopies; // "$I" copies that may still be answered
        quint32 headerLine = 0; // number of the current (or last) "$I"
        qint64 headerFirstNs = -1; // when its first copy went out
        qint64 chunkFirstNs = -1; // when the current "$F"'s first copy went out
        // Steps since "$A,1" first went out (the unit may be erasing); -1: not yet.
        int eraseSteps = -1;
    };
    // The waits the clock ends: the line that awaits its answer (sent again
    // at its learned time-out) and the hold of the next line for owed answers.
    struct Waits {
        AwaitedLine awaited = AwaitedLine::None; // the line that awaits its answer
        qint64 lastCopyNs = -1; // when its latest copy went out
        qint64 wakeDueNs = -1; // when the wake-up asked for is due
        bool wakeGraced = false; // a late wake-up gave the answer more time once
        int holdSteps = 0; // steps left to hold the next "$D" or "$I" for owed answers
        // The hold's short first part ends now: then the lines go on, or the
        // sector is erased again, if answers are still owed; -1: none.
        qint64 choiceDueNs = -1;
    };
    // Reads of the port, counted: a reply whose first byte was read before a
    // line went out (in the read that sent it, or earlier) can't be that
    // line's answer.
    struct Reads {
        quint32 readCount = 0;
        quint32 replyStartRead = 0; // the read that brought the first byte of the reply being cut
    };
    // The capture: "$G" until the bootloader answers.
    struct Capture {
        bool bootloaderAnswered = false; // a bootloader reply arrived after "$G"
        int waitSteps = 0; // steps spent waiting for the bootloader
    };

    Firmware firmware;
    Images images;
    Waits waits;
    Reads reads;
    Capture capture;

    void reset() { *this = ReplyGuards(); }
};
