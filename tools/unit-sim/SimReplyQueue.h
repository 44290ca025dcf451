#pragma once
// The simulated unit's way back to the tool: every line it sends waits for its
// due time (the adapter's latency and jitter, the wire's time when paced, a
// delay or pause asked for), keeps its place as on a serial line, and is written
// to the cable when due; behind a pause each line goes in a write of its own.
// It counts what reached the tool's side and what did not.
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <deque>
#include <functional>

class FaultDice;
class PtyPair;
struct SimConfig;

class SimReplyQueue : public QObject
{
    Q_OBJECT
public:
    // toolSpeed gives the tool side's speed when a line is due, or -1 when the
    // cable is gone; a line sent at another speed than the tool's is lost.
    SimReplyQueue(const SimConfig &config, FaultDice &dice, PtyPair &pty,
        const QElapsedTimer &clock, std::function<int()> toolSpeed);

    // Queues bytes the unit sends at baud, no sooner than notBeforeUs (when
    // the line they answer finished arriving), delayMs later still. pause:
    // they are a reply a pause holds back, and the replies behind it follow
    // one write each.
    void queue(const QByteArray &bytes, int baud, qint64 notBeforeUs, int delayMs, bool pause);
    // One pause at a time: none while replies still wait behind one.
    bool pauseAllowed() const
    {
        return pauseEndUs < 0 || pending.empty();
    }
    // Power lost: the lines not yet written are gone and the wire is free.
    void restart();
    // The cable is gone: the lines not yet written are dropped.
    void clear();

    qint64 linesWritten() const
    {
        return linesToTool;
    }
    // Lines due while the tool's side ran at another speed.
    qint64 linesNotDelivered() const
    {
        return notDelivered;
    }
    qint64 bytesWritten() const
    {
        return bytesToTool;
    }
    // Bytes the tool's side did not take (its buffer was full).
    qint64 bytesNotTaken() const
    {
        return bytesLost;
    }

private slots:
    void flushDue();

private:
    struct Outgoing {
        qint64 dueUs;
        QByteArray bytes;
        int baud; // the unit's speed when it sent the line
        qint64 gapUs = 0; // written no sooner than this after the line before it
    };

    void deliver(const Outgoing &out);
    qint64 nowUs() const
    {
        return clock.nsecsElapsed() / 1000;
    }

    const SimConfig &config;
    FaultDice &dice;
    PtyPair &pty;
    const QElapsedTimer &clock;
    std::function<int()> toolSpeed;
    QTimer sendTimer;
    std::deque<Outgoing> pending;

    qint64 txWireFreeUs = 0; // with pacing: when the unit-to-tool wire is free
    qint64 lastQueuedUs = 0; // the due time of the latest line queued
    // The due time of the reply a pause held back while replies queued behind
    // it are still to go out one write each; -1: none.
    qint64 pauseEndUs = -1;
    qint64 lastWriteUs = -1; // when the latest line was written

    qint64 linesToTool = 0;
    qint64 notDelivered = 0;
    qint64 bytesToTool = 0;
    qint64 bytesLost = 0;
};
