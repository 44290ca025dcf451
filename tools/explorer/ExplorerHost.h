#pragma once
// The fake host the explorer runs the engine on: no window and no port; its
// clock is the explorer's event queue, its lines go to the explorer's unit,
// and the engine's 500 ms timer steps, its wake-ups and its reads are events
// on that clock. Now and then the PC is busy with other work for a while:
// what the program would do meanwhile waits, and the bytes that arrive
// meanwhile come in one read. It is the unit's link too: what the engine
// writes goes to the explorer's unit, at the speed the port was set to.
#include "engine/JobHost.h"
#include "engine/UnitJob.h"
#include "engine/Sequencer.h"

#include "EventQueue.h"
#include "LinkUnit.h"
#include "ScheduleTrace.h"

#include <QStringList>

#include <functional>

class ExplorerHost : public JobHost, public UnitLink
{
public:
    ExplorerHost(EventQueue &clock, LinkUnit &unit, ScheduleTrace &trace, UpdateMode mode);

    // The job's timer starts.
    void start();

    void sendLine(UnitJob *port, char *text) override;
    void sendRaw(UnitJob *port, const QString &text) override;
    void logJob(const QString &line) override
    {
        log << line;
    }
    void showUnitVersion(UnitJob *, const QString &) override { }
    void setFirmwareProgress(int) override { }
    void setImageProgress(int) override { }
    void wakeAfter(UnitJob *port, int ms) override;
    qint64 nowNs() const override
    {
        return clock.now();
    }

    // UnitLink: lines go out through sendLine and sendRaw.
    QString name() const override { return QStringLiteral("explored"); }
    bool isOpen() const override { return open; }
    qint64 write(const char *, qint64 size) override { return size; }
    void setSpeed(qint32 value) override { speed = value; }
    QString reopen(qint32 value) override
    {
        speed = value;
        open = true;
        return QString();
    }
    void flush() override { }
    void close() override { open = false; }
    void closeLater() override { open = false; }
    // The bytes that arrived and were not read yet, read now.
    void readWaiting() override;

    // Bytes the adapter handed over: the program reads them when it next runs.
    void arrive(const QByteArray &bytes);
    // The speed the port is set to.
    int baud() const;

    double busyShare = 0; // share of the program's events after which the PC is busy
    double busyMaxMs = 100;
    // The order in which timers and reads that waited for a busy PC run.
    enum class Dispatch { AnyOrder, TimersFirst, ReadsFirst };
    Dispatch dispatch = Dispatch::AnyOrder;
    // From now the program does not run for ns (a scripted busy spell).
    void busyFor(qint64 ns);

    UnitJob port { *this };
    Sequencer engine { *this };
    QStringList log; // the job log

private:
    void whenRunning(qint64 ns, std::function<void()> what, bool read = false);
    void tick();

    EventQueue &clock;
    LinkUnit &unit;
    ScheduleTrace &trace;
    quint64 wakeRequest = 0; // the latest wakeAfter, counted
    QByteArray unread;
    bool readDue = false;
    qint64 busyUntilNs = 0;
    bool open = true;
    qint32 speed = LinkUnit::kApplicationBaud;
};
