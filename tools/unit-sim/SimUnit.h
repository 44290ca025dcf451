#pragma once
// One simulated control unit on its own pseudo-terminal: the application
// firmware (19200 baud) that answers the version query and starts the
// bootloader, and the bootloader (921600 baud) that takes the firmware and image
// commands. It runs in the caller's event loop, checks every line the tool
// sends, injects the faults its SimConfig asks for and reports what it saw.
#include "FaultDice.h"
#include "FlashModel.h"
#include "ImageStore.h"
#include "PtyPair.h"
#include "SimConfig.h"
#include "SimExpectation.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <deque>

class QSocketNotifier;

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
        return commandCounts.value(word);
    }
    // Problems by name, from the frame checks, the flash and the images.
    int problemCount(const QString &name) const
    {
        return allProblems().value(name);
    }
    int linesAtWrongSpeed() const
    {
        return wrongSpeedLines;
    }
    qint64 linesReceived() const
    {
        return linesFromTool;
    }
    // Repeats of a command that changed nothing ("G", "E", "D", "P", "I", "F").
    int repeatCount(const QString &word) const
    {
        return allRepeats().value(word);
    }
    // Faults injected so far, by name ("droppedLines", "duplicatedReplies", ...).
    int faultCount(const QString &name) const
    {
        return faultCounts.value(name);
    }
    // Lines taken at the right speed but meaningless in the stage, by stage.
    int ignoredCount(const QString &stage) const
    {
        return ignoredCounts.value(stage);
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
    void flushDue();

private:
    bool faultable(const QByteArray &text) const;
    struct Outgoing {
        qint64 dueUs;
        QByteArray bytes;
        int baud; // the unit's speed when it sent the line
        qint64 gapUs = 0; // written no sooner than this after the line before it
    };

    enum Milestone { None, Version, Bootloader, Captured, Firmware, Images, Exit };

    void handleLine(const QByteArray &line);
    void handleRunning(const QByteArray &word);
    QString runningVersion() const;
    void handleBootloader(const QByteArray &word, const QList<QByteArray> &fields);
    void enterBootloader();
    bool loseOnPurpose(const QByteArray &word, const QList<QByteArray> &fields);

    quint32 number(const QByteArray &field, int minDigits);
    QByteArray dataBytes(const QList<QByteArray> &fields, int first);
    bool needFields(const QList<QByteArray> &fields, int n);

    void reply(const QByteArray &body, int extraDelayMs = 0);
    void sendBare(const QByteArray &text);
    void queue(const QByteArray &bytes, int delayMs, bool pause = false);
    int pauseFor(qint64 index);
    void deliver(const Outgoing &out);
    void checkToolSpeed();
    int stageBaud() const;
    int toolBaud();
    int delayFor(const QByteArray &word);
    QByteArray noiseLine();
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
        problemCounts[QLatin1String(problem)]++;
    }
    QMap<QString, int> allProblems() const;
    QMap<QString, int> allRepeats() const;

    SimConfig config;
    SimExpectation expectation;
    PtyPair pty;
    QSocketNotifier *notifier = nullptr;
    QTimer announceTimer;
    QTimer bootTimer; // a restart until the bootloader runs
    QTimer sendTimer;
    QElapsedTimer clock;
    FaultDice dice;
    FlashModel flashModel;
    ImageStore imageStore;

    Stage currentStage = Stage::Running;
    bool isCaptured = false;
    bool exitSeen = false;
    Milestone milestone = None;
    qint64 firstVersionQueryUs = -1;
    qint64 exitUs = -1;
    // The bootloader part of the job, from the capture ("$G" taken) to "$X":
    // lines and line bytes from the tool, and the time spent waiting between
    // lines longer than kIdleGapUs (the job's step-count waits).
    static constexpr qint64 kIdleGapUs = 100000;
    qint64 captureUs = -1;
    qint64 lastLineUs = -1;
    qint64 idleUs = 0;
    qint64 lineBytesFromTool = 0;
    qint64 lastLineBytes = 0; // size of the line being handled
    qint64 linesAtCapture = 0;
    qint64 bytesAtCapture = 0;
    qint64 linesAtExit = 0;
    qint64 bytesAtExit = 0;

    QByteArray rxBuffer;
    qint64 lineDoneUs = -1; // when the line being handled finished arriving
    qint64 rxWireFreeUs = 0; // with pacing: when the tool-to-unit wire is free
    qint64 txWireFreeUs = 0; // with pacing: when the unit-to-tool wire is free
    qint64 lastQueuedUs = 0; // the due time of the latest reply queued
    // The due time of the reply a pause held back while replies queued behind
    // it are still to go out one write each; -1: none.
    qint64 pauseEndUs = -1;
    qint64 lastWriteUs = -1; // when the latest line was written
    std::deque<Outgoing> pending;
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

    // Counters for the report.
    QMap<QString, int> commandCounts;
    QMap<QString, int> repeatCounts;
    QMap<QString, int> problemCounts;
    QMap<QString, int>
        ignoredCounts; // lines taken at the right speed but not understood in the stage
    QMap<QString, int> faultCounts;
    QMap<QString, QSet<int>> speedsSeen; // stage name -> speeds the tool's side was set to
    int wrongSpeedLines = 0;
    int commandsTaken = 0;
    qint64 linesFromTool = 0;
    qint64 linesToTool = 0;
    qint64 linesNotDelivered = 0;
    qint64 bytesFromTool = 0;
    qint64 bytesToTool = 0;
    qint64 bytesLost = 0; // the tool's side did not take them (buffer full)
    qint64 replies = 0;
};
