#pragma once
// The explorer's unit and its serial link, on the simulated clock. The link
// keeps order and loses or garbles lines either way (a garbled line from the
// tool fails the unit's checksum; one from the unit arrives as an unknown
// word). The unit answers every copy it receives, each at most once, as the
// bootloader does. Now and then it holds an answer back (the answers after it
// wait behind it), and may then stop reading its input for a while (the lines
// that reach it meanwhile wait in its receive buffer). Its adapter hands the
// bytes on at its latency timer's ticks, so answers reach the tool in one read
// or split over several. The flash and the images are the simulated unit's
// own models; every "$P" that programs a sector with a line missing, unerased,
// or without the "$EACK" of one of its own "$E" having reached the tool is
// counted.
#include "EventQueue.h"
#include "FlashModel.h"
#include "ImageStore.h"
#include "ScheduleTrace.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QStringList>
#include <QVector>

#include <deque>
#include <functional>
#include <random>

// One fault of a scripted schedule: what happens to which copy of which command.
struct ScriptedFault {
    enum What {
        LoseCommand, // the copy never reaches the unit
        LoseAnswer, // its answer never reaches the tool
        HoldAnswer, // the unit holds its answer back ms (those after it wait behind it)
        // The unit stalls ms before answering it and loses every line that
        // reaches it meanwhile (its receive buffer overflows).
        Stall,
        FlipAnswer, // its answer arrives as into, with the checksum of the true one
        Busy, // the PC is busy for ms, from afterMs after the tool wrote the copy
        // The unit holds its answer back afterMs and reads nothing more for ms
        // after that: the lines that reach it meanwhile wait in its receive
        // buffer and are taken in order when it reads again.
        StopReading,
        GarbleCommand // the copy reaches the unit garbled: its checksum drops it
    };
    What what = LoseCommand;
    QByteArray command; // the command's body starts with this: "D,FC0,", "E,DF000", "I,01"
    qint64 sector = -1; // "$D": the sector (its last "$E" from the tool); -1: any
    int copy = 1; // which copy (1: the first), counted since the sector's or image's start
    double ms = 0;
    double afterMs = 0; // Busy and StopReading only
    QByteArray into; // FlipAnswer: the reply body it turns into ("IACK,1")
    // Only the first time its copy goes out: a sector written again does not
    // meet it again.
    bool once = false;
};

struct LinkFaults {
    double lostToUnit = 0; // shares of the tool's lines lost and garbled
    double garbledToUnit = 0;
    double lostToTool = 0; // shares of the unit's lines lost and garbled
    double garbledToTool = 0;
    bool dataLinesOnly = false; // the shares above hit only "$D" and "$F" lines and their answers
    double pauseShare = 0; // share of answers held back
    double pauseMinMs = 2; // pauses are drawn evenly on a log scale between these
    double pauseMaxMs = 3000;
    // Above 0: no pause, and no busy spell of the PC, lasts longer than this
    // times max(50 ms, twice the longest "$DACK" time the port has shown), a
    // "$DACK" timed from the first copy of its line. 0: no cap.
    double promiseFactor = 0;
    double latencyMs = 1; // the adapter's latency timer
    double splitShare = 0; // share of the adapter's hand-overs cut short at a random byte
    double eraseMs = 20000; // "$AACK,0" to "$AACK,1"
    bool startInBootloader = false; // the unit announces its bootloader from the start
    // The unit restarts (a supply dip) after taking this many commands in its
    // bootloader; 0: never.
    int restartAfter = 0;
    // Share of pauses in which the unit stalls: every line that reaches it
    // meanwhile is lost (its receive buffer overflows).
    double stallShare = 0;
    // Share of the other pauses after which the unit goes on not reading its
    // input for a while: what reaches it meanwhile waits in its receive buffer.
    // With promiseFactor above 0 it reads again in time for every copy waiting
    // to be answered within promiseFactor times the round trip the promise
    // covers (the time from the copy leaving the PC to its answer arriving).
    double readStopShare = 0;
    // Share of the garbled replies that keep their frame with one bit changed
    // (often another valid reply word or flag), their checksum now wrong; the
    // others arrive as an unknown word. Drawn from dice of their own.
    double flipShare = 0;
    quint32 flipSeed = 1;
    // Share of the unit's lines the link delivers twice, the repeat right
    // behind (beyond the promise: each copy is answered at most once).
    double repeatShare = 0;
    QVector<ScriptedFault> script; // a scripted schedule's faults
};

class LinkUnit
{
public:
    static constexpr int kApplicationBaud = 19200;
    static constexpr int kBootloaderBaud = 921600;

    LinkUnit(EventQueue &clock, std::mt19937 &dice, ScheduleTrace &trace, const LinkFaults &faults);

    // Where the adapter hands the unit's bytes (one read of the tool's), and
    // the speed the tool's side is set to.
    std::function<void(const QByteArray &)> toTool;
    std::function<int()> toolBaud;
    // The PC does not run the program for ns from now (a scripted busy spell).
    std::function<void(qint64)> pcBusy;

    // The tool wrote line (with its line feed) now.
    void fromTool(const QByteArray &line);

    bool roll(double share);
    // A hold (a pause of the unit, a busy spell of the PC) from minMs to maxMs,
    // within the cap the faults set.
    qint64 drawHoldNs(double minMs, double maxMs);
    qint64 holdCapNs() const;
    // The round trip the promise covers, from a copy leaving the PC to its
    // answer arriving, as the port has shown so far, times the promise factor.
    qint64 roundTripCapNs() const;
    // When the answer to a copy written at sentNs must leave the unit to arrive
    // within that cap (no limit without a cap).
    qint64 answerDueNs(qint64 sentNs) const;
    // ... as the promise words it, without the factor.
    qint64 promisedRoundTripNs() const;

    FlashModel flash;
    ImageStore images;
    int holes = 0; // sectors programmed with a line missing
    int unerased = 0; // ... not erased since they were last programmed
    int withoutOwnEack = 0; // ... with no "$EACK" of theirs delivered to the tool
    qint64 longestAnswerNs = 0; // of the "$DACK" delivered, from their line's first copy
    // The most a "$DACK" came later after its own copy left the tool than the
    // round trip the promise covered then (promisedRoundTripNs), 0 for one
    // that came just as it ended; -1: every one came within it.
    qint64 pastPromiseNs = -1;
    QStringList firstFault; // the trace when the first of these happened

private:
    enum class Stage { Running, Restarting, Bootloader };
    struct Outgoing {
        qint64 startNs; // its first bit leaves the unit
        QByteArray bytes;
        int baud;
        int handedOver; // bytes the adapter has handed to the tool
        QByteArray answers; // the command it answers (its body), or empty
        qint64 copySentNs; // when the tool wrote the copy it answers
        qint64 eackSector; // an "$EACK": its sector; else -1
    };

    int baud() const;
    // A copy the tool wrote at sentNs reaches the unit.
    void receive(const QByteArray &line, int baud, int fault, qint64 sentNs);
    // The unit takes a line from its receive buffer.
    void take(const QByteArray &body, int fault, qint64 sentNs, bool fromBuffer);
    // The unit reads its receive buffer again.
    void readAgain();
    void capReadStop();
    // The scripted fault for the copy of body the tool writes now, or -1.
    int scriptedFor(const QByteArray &body);
    void command(const QByteArray &body);
    void program(quint32 address, quint32 length);
    void answer(const QByteArray &body, const QByteArray &command, qint64 eackSector = -1);
    void send(QByteArray line, qint64 readyNs, const QByteArray &command, qint64 eackSector);
    void enterBootloader();
    void restart();
    void announce();
    void handOver();
    qint64 nextTick(qint64 ns) const;
    void delivered(const Outgoing &out);
    // A fault in the flash at address (the sector's first missing line for a hole).
    void fault(const char *what, qint64 address);

    EventQueue &clock;
    std::mt19937 &dice;
    ScheduleTrace &trace;
    LinkFaults faults;

    Stage stage = Stage::Running;
    bool captured = false;
    int commands = 0; // taken in the bootloader
    quint64 linesStored = 0; // the sector buffer's lines stored since "$E" or "$P", a bit each
    qint64 toUnitFreeNs = 0; // when the tool-to-unit wire is free
    qint64 toToolFreeNs = 0; // when the unit-to-tool wire is free
    std::deque<Outgoing> outgoing; // on the wire or in the adapter
    bool handOverDue = false;
    QHash<QByteArray, qint64> firstCopyNs; // of the commands sent since the last "$E"/"$I"
    QSet<qint64> eackDelivered; // sectors whose "$EACK" reached the tool since their "$P"
    QHash<QByteArray, int> lineCopies; // copies of each "$D"/"$F" since the last "$E"/"$I"
    QHash<QByteArray, int> otherCopies; // copies of every other command
    QSet<int> scriptedDone; // the faults met once that are met only once
    qint64 toolSector = -1; // the sector of the tool's last "$E"
    int answerFault = -1; // the scripted fault of the command being answered
    qint64 takenSentNs = 0; // when the tool wrote the copy being answered
    bool takenUnread = false; // ... and it waited in the receive buffer
    qint64 deafUntilNs = 0; // a stalled unit loses what reaches it before this
    struct Unread {
        QByteArray body;
        int fault;
        qint64 sentNs;
    };
    std::deque<Unread> unread; // lines waiting in the unit's receive buffer
    qint64 readAgainNs = 0; // the unit reads nothing before this
    bool readAgainDue = false;
    bool readStopCapped = false; // the read stop ends in time for the promise
    std::mt19937 flipDice;
};
