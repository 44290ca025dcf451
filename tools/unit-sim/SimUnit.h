#pragma once
// One simulated control unit on its own pseudo-terminal: the application
// firmware (19200 baud) that answers the version query and starts the
// bootloader, and the bootloader (921600 baud) that takes the firmware and image
// commands. It runs in the caller's event loop, checks every line the tool
// sends, injects the faults its SimConfig asks for and reports what it saw
// (SimReport). Its replies go out through a SimReplyQueue.
#include "FaultDice.h"
#include "FlashModel.h"
#include "ImageStore.h"
#include "PtyPair.h"
#include "SimConfig.h"
#include "SimExpectation.h"
#include "SimReplyQueue.h"
#include "SimTally.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QTimer>

class QSocketNotifier;
class SimFields;

class SimUnit : public QObject
{
    Q_OBJECT
public:
    enum class Stage { Running, Restarting, Bootloader, Unplugged };
    static constexpr int kApplicationBaud = 19200;
    static constexpr int kBootloaderBaud = 921600;

    explicit SimUnit(const SimConfig &config = SimConfig(), QObject *parent = nullptr);
    ~SimUnit() override;

    // Opens the pseudo-terminal pair and starts serving. False when no pair
    // could be opened.
    bool open();
    // The path the tool opens as its serial port.
    QString path() const
    {
        return pty.slavePath();
    }
    // What the report compares the flash and the images with.
    void setExpectation(const SimExpectation &expected)
    {
        expectation = expected;
    }

    Stage stage() const
    {
        return currentStage;
    }
    static QString stageName(Stage stage);
    bool captured() const
    {
        return isCaptured;
    }
    bool exitReceived() const
    {
        return exitSeen;
    }
    // Gone silent (SimConfig::silentAfter): reads lines and answers none.
    bool silent() const
    {
        return isSilent;
    }
    // How often the unit restarted (SimConfig::restartAfter).
    int restarts() const
    {
        return restartsDone;
    }
    const FlashModel &flash() const
    {
        return flashModel;
    }
    const ImageStore &images() const
    {
        return imageStore;
    }
    // How often a command word ("MVER", "E", "D", ...) was taken.
    int commandCount(const QString &word) const
    {
        return tally.commands.value(word);
    }
    // Problems by name, from the frame checks, the flash and the images.
    int problemCount(const QString &name) const
    {
        return allProblems().value(name);
    }
    int linesAtWrongSpeed() const
    {
        return tally.wrongSpeedLines;
    }
    qint64 linesReceived() const
    {
        return tally.linesFromTool;
    }
    // Repeats of a command that changed nothing ("G", "E", "D", "P", "I", "F").
    int repeatCount(const QString &word) const
    {
        return allRepeats().value(word);
    }
    // Faults injected so far, by name ("droppedLines", "duplicatedReplies", ...).
    int faultCount(const QString &name) const
    {
        return tally.faults.value(name);
    }
    // Lines taken at the right speed but meaningless in the stage, by stage.
    int ignoredCount(const QString &stage) const
    {
        return tally.ignored.value(stage);
    }
    const QStringList &faultTrace() const
    {
        return dice.trace();
    }
    QJsonObject report() const;

    // Closes the cable: the tool's side sees the adapter go away.
    void unplug();
    // Stops answering for good; the cable stays in.
    void goSilent();
    // Restarts as after a power dip: into the bootloader, uncaptured, with
    // what the flash and the images hold kept and the work in hand dropped.
    void restart();

signals:
    // "$X" arrived: the unit leaves its bootloader and its job is over.
    void finished();

private slots:
    void readFromTool();
    void announce();

private:
    friend class SimReport;
    enum Milestone { None, Version, Bootloader, Captured, Firmware, Images, Exit };

    // A line from the tool, step by step (SimUnit.cpp).
    void handleLine(const QByteArray &line);
    void countLine(const QByteArray &line);
    bool lostOnTheWay(const QByteArray &line, qint64 index);
    bool heard();
    bool unframed(const QByteArray &line, QByteArray &body);
    bool understood(const QByteArray &word);
    void afterCommand();
    bool faultable(const QByteArray &text) const;
    bool loseOnPurpose(const QByteArray &word, const QList<QByteArray> &fields);

    // The application firmware (SimUnit.cpp).
    void handleRunning(const QByteArray &word);
    QString runningVersion() const;
    void enterBootloader();

    // The bootloader, one handler per command word (SimBootloader.cpp).
    void handleBootloader(const QByteArray &word, const QList<QByteArray> &fields);
    bool capture(const QByteArray &word);
    void repeatedCapture(SimFields &fields);
    void eraseSector(SimFields &fields);
    void storeData(SimFields &fields);
    void programSector(SimFields &fields);
    void eraseImages(SimFields &fields);
    void imageHeader(SimFields &fields);
    void imageChunk(SimFields &fields);
    void exitBootloader(SimFields &fields);

    // Sending (SimUnit.cpp): a reply's own faults, then the queue.
    void reply(const QByteArray &body, int extraDelayMs = 0);
    void sendBare(const QByteArray &text);
    int pauseFor(qint64 index);
    int delayFor(const QByteArray &word);
    QByteArray noiseLine();
    int toolSpeedWhenDue();
    void checkToolSpeed();
    int stageBaud() const;
    int toolBaud();
    qint64 nowUs() const
    {
        return clock.nsecsElapsed() / 1000;
    }
    void reach(Milestone m)
    {
        milestone = qMax(milestone, m);
    }
    void count(const char *problem)
    {
        tally.problems[QLatin1String(problem)]++;
    }
    QMap<QString, int> allProblems() const;
    QMap<QString, int> allRepeats() const;

    SimConfig config;
    SimExpectation expectation;
    PtyPair pty;
    QSocketNotifier *notifier = nullptr;
    QTimer announceTimer;
    QTimer bootTimer; // a restart until the bootloader runs
    QElapsedTimer clock;
    FaultDice dice;
    FlashModel flashModel;
    ImageStore imageStore;
    SimReplyQueue outgoing;
    SimTally tally;

    Stage currentStage = Stage::Running;
    bool isCaptured = false;
    bool exitSeen = false;
    Milestone milestone = None;

    QByteArray rxBuffer;
    qint64 lineDoneUs = -1; // when the line being handled finished arriving
    qint64 rxWireFreeUs = 0; // with pacing: when the tool-to-unit wire is free
    int lastToolBaud = -1;

    bool lostG = false;
    bool lostErase = false;
    bool isSilent = false;
    int silentAtCommand = 0; // commandsTaken when the unit went silent
    int restartsDone = 0;
    // Commands up to this count don't bring the next restart: those before
    // the "$G" that captured the unit again after its last one.
    int restartCountFrom = 0;
    QMap<QByteArray, int> delayCounters;
};
