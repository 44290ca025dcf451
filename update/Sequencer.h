#pragma once
// The update sequencer: the per-port state machine that runs a unit's job from
// the version query to "$X", one step at a time, and its reactions to replies.
// Steps come from the dialog's 500 ms timer (every port) and from a reply
// (the port that replied), so the next command follows its acknowledgement at
// once and the timer only counts the waits after which a command is resent.
#include "update/Protocol.h"

#include <QString>

class DialogBootload;
class PortTest;
struct ImageRecord;

class Sequencer
{
public:
    explicit Sequencer(DialogBootload &dialog);

    // One step of one port's job.
    void step(PortTest *port);

    // The reaction to one recognised reply line of one port.
    void onReply(PortTest *port, Protocol::ReplyWord word, const char *line);

    // The port's connection broke (adapter unplugged): its job ends.
    void connectionLost(PortTest *port);

    // progressBarLoad's maximum: the firmware is all written.
    static constexpr int kLoadMaximum = 913414;

    // Steps to wait for answers still owed to earlier copies of a command that
    // went out more than once, before the next command of its kind goes out.
    static constexpr int kSettleSteps = 8;
    // Steps in WaitForBootloader after which the job log says none was seen.
    static constexpr int kBootloaderWarnSteps = 40;

private:
    // Steps, by job state.
    void versionQuery(PortTest *port);
    void switchToBootloaderSpeed(PortTest *port);
    void openFiles(PortTest *port);
    void programFirmware(PortTest *port);
    void sendImages(PortTest *port);
    void eraseImages(PortTest *port);
    void finish(PortTest *port);

    // Reactions, by reply word.
    void onBootloader(PortTest *port);
    void onVersion(PortTest *port, const char *line);
    void onImageAck(PortTest *port, const char *line);
    void onChunkAck(PortTest *port, const char *line);
    void onEraseAck(PortTest *port, const char *line);
    void onSectorErased(PortTest *port);
    void onDataAck(PortTest *port);
    void onProgrammed(PortTest *port);

    // Commands.
    void send(PortTest *port, char *text);
    void sendSectorErase(PortTest *port);
    void sendDataLine(PortTest *port);
    void sendProgram(PortTest *port);
    void sendImageHeader(PortTest *port, const ImageRecord &image);
    void sendChunk(PortTest *port, const ImageRecord &image);
    void sendExit(PortTest *port);

    // Shared pieces of the image work.
    bool skipUnsendableImages(PortTest *port);
    void nextImage(PortTest *port);
    void showImageProgress(PortTest *port);
    void showFirmwareProgress(PortTest *port);
    bool holding(PortTest *port);
    void owe(PortTest *port, int copies);

    void log(const QString &line);
    static void closePort(PortTest *port);

    DialogBootload &dlg;
};
