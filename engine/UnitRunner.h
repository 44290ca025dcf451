#pragma once
// Runs one job (an UpdateMode) on every unit it is given, for any front end:
// it opens and owns the units' ports, follows an unplugged adapter, writes the
// engine's lines, steps the jobs on its timer and on their replies, keeps the
// port the engine is working on, times each unit on the engine's clock and
// makes each unit's record. What the user sees goes to a RunnerView.
#include "engine/JobHost.h"
#include "engine/Sequencer.h"
#include "engine/UnitRecord.h"
#include "engine/UnitTarget.h"
#include "engine/WakeTimers.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

class PortTest;
struct UnitStatus;
class RunnerView;

class UnitRunner : public QObject, public JobHost
{
    Q_OBJECT

public:
    // What the runner keeps of one unit beside the engine's job record.
    struct Unit {
        PortTest *port = nullptr; // owned
        UnitTarget target;
        QString path; // the port as given, or the scanned adapter's device
        bool opened = false; // the port opened when it was added
        bool interrupted = false; // stopped by the user
        bool recorded = false; // unitEnded was told
        qint64 addedNs = 0; // nowNs() when added
        qint64 endedNs = -1; // nowNs() when its job was seen ended
        int repliesSeen = 0; // timing.replyCount at the last sample
        qint64 replyNsSeen = 0; // timing.replyNsTotal likewise
        qint64 maxReplyNs = 0; // the slowest answer, the capture's "$GACK" aside
        QDateTime endedAt; // UTC, when its job was seen ended; invalid before
        QList<UnitRecord::Stage> stages; // each stage its job reached, in order
    };

    explicit UnitRunner(RunnerView &view, QObject *parent = nullptr);
    ~UnitRunner() override; // closes and deletes the ports

    Sequencer sequencer { *this }; // the engine; inputs: what the jobs run on

    // A port that can't be opened: with endUnopened (the command line) its
    // job ends before it starts, "not updated"; without, it stays in the
    // list closed and its job runs on, the engine opening it again when the
    // unit is to switch speed.
    void setEndUnopened(bool on) { endUnopened = on; }
    // Opens the target's port and adds its unit; returns the unit's index.
    // Added while the timer runs, its version query goes out at once.
    int addUnit(const UnitTarget &target);
    // Starts the job timer (Timeouts::kTickMs unless set); tick() steps now.
    void start();
    void setTickMs(int ms) { timer.setInterval(ms); }
    void stopTimer() { timer.stop(); }
    bool ticking() const { return timer.isActive(); }
    int tickMs() const { return timer.interval(); }
    // One step of every unit's job.
    void tick();
    // What reached port, read now and handed to the engine.
    void receive(PortTest *port);
    // One received line of port, handled by the engine.
    void handleLine(PortTest *port, const QString &line);
    // Unit index's adapter is gone: a running job ends as with a lost
    // connection, and its port is closed.
    void unplugged(int index);
    // Stops every running job with why (interrupted: by the user) and closes
    // every port; returns how many jobs were stopped.
    int stopAll(const QString &why, bool interrupted);
    // Closes and deletes every port; the units are gone.
    void release();

    int count() const { return static_cast<int>(units.size()); }
    const Unit &unit(int index) const { return units.at(index); }
    PortTest *port(int index) const { return units.at(index).port; }
    // What a view shows of unit index: its stage, progress and outcome.
    const UnitStatus &status(int index) const;
    int indexOf(const PortTest *port) const;
    bool allEnded() const;
    // Seconds from the unit's adding to the end of its job (or to now).
    double seconds(int index) const;
    // The unit's record for update, once its job has ended: the one record
    // every front end writes (the report, --log, the window's history). It
    // names the port as path does, the name the user gave or was shown.
    UnitRecord recordOf(int index, const UnitRecord::Update &update) const;

    // JobHost.
    void sendLine(PortTest *port, char *text) override;
    void sendRaw(PortTest *port, const QString &text) override;
    void logJob(const QString &line) override;
    void showUnitVersion(PortTest *port, const QString &version) override;
    void setFirmwareProgress(int value) override;
    void setImageProgress(int value) override;
    void unitChanged(PortTest *port) override;
    void lineReceived(PortTest *port) override;
    void wakeAfter(PortTest *port, int ms) override { wakeTimers.wakeAfter(port, ms); }

private:
    class Working;
    void step(int index);
    void wake(PortTest *port);
    void lost(PortTest *port);
    void sampleReplies(Unit &unit);

    RunnerView &view;
    QList<Unit> units;
    WakeTimers wakeTimers { [this](PortTest *port) { wake(port); } };
    QTimer timer; // steps every unit's job
    PortTest *current = nullptr; // the port the engine is working on; null outside its calls
    bool endUnopened = false;
};
