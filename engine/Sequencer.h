#pragma once
// The update sequencer: the per-port state machine that runs a unit's job from
// the version query to "$X", one step at a time, its reactions to replies, and
// the receive path that cuts a port's bytes into reply lines. It reaches the
// job log, the front end and the clock only through a JobHost, and a unit's
// port only through its job's UnitLink. Steps come from the
// job's 500 ms step timer (tick, every port) and from a reply (the port that
// replied), so the next command follows its acknowledgement at once and the
// timer only counts the waits after which a command is resent.
#include "payload/FirmwareFile.h"
#include "payload/ImageRecord.h"
#include "payload/Problem.h"
#include "engine/Protocol.h"
#include "payload/UpdateMode.h"

#include <QByteArray>
#include <QList>
#include <QString>

class AnswerLedger;
class JobHost;
class UnitJob;
class ReplyTimer;

// What a job runs on, given by the front end.
struct JobInputs {
    UpdateMode mode = UpdateMode::FirmwareAndImages;
    QList<ImageRecord> images; // the display images, in settings order
    Problem settingsProblem; // why settings.json could not be read; none when it was
    // fw1.bin as read once by the front end (a firmware job): the byte at
    // position A goes to unit address A, and what is sent is what was checked
    // and hashed, whatever the file holds later.
    QByteArray firmware;
    // Why fw1.bin can't be written, as FirmwareFile has it; none when the
    // bytes were read (the engine checks their size itself).
    Problem firmwareProblem;
    // After "$X" the unit's version is asked again, and the unit is confirmed
    // to run the update when it answers (with expectedVersion, when the update
    // names one and the job wrote the firmware).
    bool confirmVersion = false;
    QString expectedVersion;
    // The unit address the firmware is written from: its first sector, or a
    // later sector's start for a job of the last few sectors only (the
    // fault-schedule explorer's short jobs).
    std::int32_t firmwareFrom = FirmwareFile::kFirstAddress;
};

class Sequencer
{
public:
    explicit Sequencer(JobHost &host);

    JobInputs inputs;

    // One step of one port's job.
    void step(UnitJob *port);
    // The job timer's step of port: what reached the port is read first.
    void tick(UnitJob *port);

    // The receive path: the bytes a port delivered, cut into lines, each
    // handled as it completes.
    void receive(UnitJob *port, const QByteArray &bytes);
    // The line just completed in port's receive buffer (rxLine, bytes as they
    // came, NUL-terminated): its reply word is recognised and acted on.
    void handleReceivedLine(UnitJob *port);
    // One line of text (UTF-8, length bytes, the first 999 kept) handled as a
    // received one.
    void handleLine(UnitJob *port, const char *text, int length);
    // The reply text now in port's receive buffer: its checksum, if any, is
    // checked and its reply word recognised and acted on.
    void handleText(UnitJob *port);
    // The reaction to one recognised reply line of one port.
    void onReply(UnitJob *port, Protocol::ReplyWord word, const char *line);

    // A wake-up the engine asked of its host (JobHost::wakeAfter): a learned
    // resend time-out or the wait for owed answers may have run out.
    void wake(UnitJob *port);

    // The port's connection broke (adapter unplugged): its job ends.
    void connectionLost(UnitJob *port);
    // The front end stops the job (the user interrupted it): the port is
    // flushed and closed and the unit counted as not updated.
    void stop(UnitJob *port, const QString &why);
    // The port could not be opened: its job ends before it starts, the unit
    // not updated, for reason.
    void endUnopened(UnitJob *port, const QString &reason);

    // The firmware progress's maximum (JobHost::setFirmwareProgress): the
    // firmware is all written.
    static constexpr int kLoadMaximum = 913414;
    // Sectors of the firmware, 0x1000 to 0xDFFFF.
    static constexpr int kSectorCount = 223;

private:
    static constexpr int kLastDataProgress = 913407; // firmware progress after the last data line
    static constexpr std::int32_t kFirstAddress = FirmwareFile::kFirstAddress;
    static constexpr std::int32_t kLastAddress = FirmwareFile::kEndAddress - 1; // 0xDFFFF
    static constexpr qint32 kBootloaderBaud = 921600;
    static constexpr qint32 kVersionBaud = 19200; // the firmware's speed

    // Steps, by job state (SequencerSteps.cpp).
    void versionQuery(UnitJob *port);
    void switchToBootloaderSpeed(UnitJob *port);
    void waitForBootloader(UnitJob *port);
    void openFiles(UnitJob *port);
    void startWork(UnitJob *port);
    void programFirmware(UnitJob *port);
    void sendImages(UnitJob *port);
    void eraseImages(UnitJob *port);
    void finish(UnitJob *port);
    void startConfirmation(UnitJob *port);
    void confirmVersion(UnitJob *port);
    // The confirmation is over: the unit answered (with version) or not, or it
    // was cut short (cutShort says how: "the connection was lost").
    void endConfirmation(UnitJob *port, bool answered, const QString &version,
        const QString &cutShort = QString());
    void redoSector(UnitJob *port);
    void countCopyAgain(UnitJob *port);

    // Reactions, by reply word (SequencerReplies.cpp).
    void onBootloader(UnitJob *port);
    void onVersion(UnitJob *port, const char *line);
    void onImageAck(UnitJob *port, const char *line);
    void onChunkAck(UnitJob *port, const char *line);
    void onEraseAck(UnitJob *port, const char *line);
    void onSectorErased(UnitJob *port);
    void onDataAck(UnitJob *port);
    void onDataAckAfterLastLine(UnitJob *port, qint64 now);
    void unplacedDataAck(UnitJob *port);
    void dataLineAnswered(UnitJob *port, qint64 now, bool answersQueued);
    void onProgrammed(UnitJob *port);

    // Commands.
    void send(UnitJob *port, char *text);
    void sendSectorErase(UnitJob *port);
    void sendDataLine(UnitJob *port);
    void sendProgram(UnitJob *port);
    void sendImageHeader(UnitJob *port, const ImageRecord &image);
    void sendChunk(UnitJob *port, const ImageRecord &image);
    void sendExit(UnitJob *port);
    void sendCapture(UnitJob *port);

    // Endings (SequencerEnding.cpp): a captured unit that answers nothing
    // while a command waits; a unit whose bootloader started again.
    bool endedBySilence(UnitJob *port);
    void restart(UnitJob *port);
    // "$G" for a "$Bootloader"; false when the bootloader has kept announcing
    // itself too long without answering, and its job has ended.
    bool answerAnnouncement(UnitJob *port);
    // Ends the unit's job without "$X": its port is closed, the unit not
    // updated; logLine (if any) goes to the job log.
    void endUnit(UnitJob *port, const QString &logLine, const QString &reason);
    // The learned resend time-out of the line that awaits its answer, or null.
    const ReplyTimer *awaitedTimer(const UnitJob *port) const;
    qint64 resendDueNs(const UnitJob *port, const ReplyTimer &timer) const;
    void armResend(UnitJob *port);
    void wakeAt(UnitJob *port, qint64 ns);
    void wakeHeld(UnitJob *port);
    bool graceLateWake(UnitJob *port, qint64 now);
    static int linesLeftInSector(const UnitJob *port);

    // The job's work is done (or can't go on): "$X", then Finish.
    void finishJob(UnitJob *port);
    // The next firmware command, or "$P", goes out at the next step.
    static void commandDueNow(UnitJob *port);
    static void programDueNow(UnitJob *port);

    // Shared pieces of the image work.
    int imageCount() const;
    bool skipUnsendableImages(UnitJob *port);
    void nextImage(UnitJob *port);
    qint64 imageBytesDone(const UnitJob *port) const;
    void showImageProgress(UnitJob *port);
    void showFirmwareProgress(UnitJob *port);
    // Answers owed to earlier copies of "$D" and "$I" (SequencerTiming.cpp).
    qint64 horizonNs(const UnitJob *port) const;
    static void noteAnswer(UnitJob *port, qint64 sinceFirstCopyNs);
    const AnswerLedger *heldLedger(const UnitJob *port) const;
    bool spendHoldStep(UnitJob *port, const AnswerLedger &ledger);
    void holdForOwed(UnitJob *port, const AnswerLedger &ledger, int linesLeft = -1,
        bool answersQueued = false);
    bool eraseSettlesSooner(const UnitJob *port, int linesLeft, qint64 replyNs, qint64 holdNs,
        qint64 otherwiseNs) const;
    void eraseAgain(UnitJob *port, qint64 untilNs);
    void releaseHold(UnitJob *port, const AnswerLedger &ledger);

    // The unit's status from its record; tells the host when it changed.
    void updateStatus(UnitJob *port);
    void endStatus(UnitJob *port);

    void log(const QString &line);
    static void closePort(UnitJob *port);
    static void reopenAt(UnitJob *port, qint32 baud);

    JobHost &host;
    qint64 imageTotal = 0; // bytes of all images; set when a job opens its files
};
