#pragma once
// The update sequencer: the per-port state machine that runs a unit's job from
// the version query to "$X", one step at a time, its reactions to replies, and
// the receive path that cuts a port's bytes into reply lines. It reaches the
// ports, the job log and the clock only through a JobHost. Steps come from the
// job's 500 ms step timer (tick, every port) and from a reply (the port that
// replied), so the next command follows its acknowledgement at once and the
// timer only counts the waits after which a command is resent.
#include "payload/FirmwareFile.h"
#include "payload/ImageRecord.h"
#include "payload/Problem.h"
#include "engine/Protocol.h"
#include "engine/UpdateMode.h"

#include <QByteArray>
#include <QList>
#include <QString>

class AnswerLedger;
class JobHost;
class PortTest;
class ReplyTimer;

// What a job runs on, given by the front end.
struct JobInputs {
    int mode = FirmwareAndImages; // an UpdateMode
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
};

class Sequencer
{
public:
    explicit Sequencer(JobHost &host);

    JobInputs inputs;

    // One step of one port's job.
    void step(PortTest *port);
    // The job timer's step of port: what reached the port is read first.
    void tick(PortTest *port);

    // The receive path: the bytes a port delivered, cut into lines, each
    // handled as it completes.
    void receive(PortTest *port, const QByteArray &bytes);
    // The line just completed in port's receive buffer (rxLine, bytes as they
    // came, NUL-terminated): its reply word is recognised and acted on.
    void handleReceivedLine(PortTest *port);
    // One line of text (UTF-8, length bytes, the first 999 kept) handled as a
    // received one.
    void handleLine(PortTest *port, const char *text, int length);
    // The reply text now in port's receive buffer: its checksum, if any, is
    // checked and its reply word recognised and acted on.
    void handleText(PortTest *port);
    // The reaction to one recognised reply line of one port.
    void onReply(PortTest *port, Protocol::ReplyWord word, const char *line);

    // A wake-up the engine asked of its host (JobHost::wakeAfter): a learned
    // resend time-out or the wait for owed answers may have run out.
    void wake(PortTest *port);

    // The port's connection broke (adapter unplugged): its job ends.
    void connectionLost(PortTest *port);
    // The front end stops the job (the user interrupted it): the port is
    // flushed and closed and the unit counted as not updated.
    void stop(PortTest *port, const QString &why);

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
    void versionQuery(PortTest *port);
    void switchToBootloaderSpeed(PortTest *port);
    void waitForBootloader(PortTest *port);
    void openFiles(PortTest *port);
    void startWork(PortTest *port);
    void programFirmware(PortTest *port);
    void sendImages(PortTest *port);
    void eraseImages(PortTest *port);
    void finish(PortTest *port);
    void startConfirmation(PortTest *port);
    void confirmVersion(PortTest *port);
    // The confirmation is over: the unit answered (with version) or not, or it
    // was cut short (cutShort says how: "the connection was lost").
    void endConfirmation(PortTest *port, bool answered, const QString &version,
        const QString &cutShort = QString());
    void redoSector(PortTest *port);
    void countCopyAgain(PortTest *port);

    // Reactions, by reply word (SequencerReplies.cpp).
    void onBootloader(PortTest *port);
    void onVersion(PortTest *port, const char *line);
    void onImageAck(PortTest *port, const char *line);
    void onChunkAck(PortTest *port, const char *line);
    void onEraseAck(PortTest *port, const char *line);
    void onSectorErased(PortTest *port);
    void onDataAck(PortTest *port);
    void onDataAckAfterLastLine(PortTest *port, qint64 now);
    void unplacedDataAck(PortTest *port);
    void dataLineAnswered(PortTest *port, qint64 now, bool answersQueued);
    void onProgrammed(PortTest *port);

    // Commands.
    void send(PortTest *port, char *text);
    void sendSectorErase(PortTest *port);
    void sendDataLine(PortTest *port);
    void sendProgram(PortTest *port);
    void sendImageHeader(PortTest *port, const ImageRecord &image);
    void sendChunk(PortTest *port, const ImageRecord &image);
    void sendExit(PortTest *port);
    void sendCapture(PortTest *port);

    // Endings (SequencerEnding.cpp): a captured unit that answers nothing
    // while a command waits; a unit whose bootloader started again.
    bool endedBySilence(PortTest *port);
    void restart(PortTest *port);
    // "$G" for a "$Bootloader"; false when the bootloader has kept announcing
    // itself too long without answering, and its job has ended.
    bool answerAnnouncement(PortTest *port);
    // Ends the unit's job without "$X": its port is closed, the unit not
    // updated; logLine (if any) goes to the job log.
    void endUnit(PortTest *port, const QString &logLine, const QString &reason);
    // The learned resend time-out of the line that awaits its answer, or null.
    const ReplyTimer *awaitedTimer(const PortTest *port) const;
    qint64 resendDueNs(const PortTest *port, const ReplyTimer &timer) const;
    void armResend(PortTest *port);
    void wakeAt(PortTest *port, qint64 ns);
    void wakeHeld(PortTest *port);
    bool graceLateWake(PortTest *port, qint64 now);
    static int linesLeftInSector(const PortTest *port);

    // The job's work is done (or can't go on): "$X", then Finish.
    void finishJob(PortTest *port);
    // The next firmware command, or "$P", goes out at the next step.
    static void commandDueNow(PortTest *port);
    static void programDueNow(PortTest *port);

    // Shared pieces of the image work.
    int imageCount() const;
    bool skipUnsendableImages(PortTest *port);
    void nextImage(PortTest *port);
    qint64 imageBytesDone(const PortTest *port) const;
    void showImageProgress(PortTest *port);
    void showFirmwareProgress(PortTest *port);
    // Answers owed to earlier copies of "$D" and "$I" (SequencerTiming.cpp).
    qint64 horizonNs(const PortTest *port) const;
    static void noteAnswer(PortTest *port, qint64 sinceFirstCopyNs);
    const AnswerLedger *heldLedger(const PortTest *port) const;
    bool spendHoldStep(PortTest *port, const AnswerLedger &ledger);
    void holdForOwed(PortTest *port, const AnswerLedger &ledger, int linesLeft = -1,
        bool answersQueued = false);
    bool eraseSettlesSooner(const PortTest *port, int linesLeft, qint64 replyNs, qint64 holdNs,
        qint64 otherwiseNs) const;
    void eraseAgain(PortTest *port, qint64 untilNs);
    void releaseHold(PortTest *port, const AnswerLedger &ledger);

    // The unit's status from its record; tells the host when it changed.
    void updateStatus(PortTest *port);
    void endStatus(PortTest *port);

    void log(const QString &line);
    static void closePort(PortTest *port);

    JobHost &host;
    qint64 imageTotal = 0; // bytes of all images; set when a job opens its files
};
