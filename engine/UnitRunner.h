#pragma once
// Runs one job (an UpdateMode) on every unit it is given, for any front end:
// it opens and owns each unit's link and job, follows an unplugged adapter,
// writes the engine's lines, steps the jobs on its timer and on their replies,
// keeps the port the engine is working on, times each unit on the engine's
// clock and makes each unit's record. What the user sees goes to a RunnerView.
#include "engine/JobHost.h"
#include "engine/LeftOnUnit.h"
#include "engine/Sequencer.h"
#include "engine/UnitRecord.h"
#include "engine/UnitStatus.h"
#include "engine/UnitTarget.h"
#include "engine/WakeTimers.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <deque>
#include <memory>

class UnitJob;
struct UnitStatus;
class RunnerView;
class SerialLink;

class UnitRunner : public QObject, public JobHost
{
    Q_OBJECT

public:
    // What the runner keeps of one unit: its link, the engine's job on it,
    // and what the runner notes beside.
    struct Unit {
        Unit();
        ~Unit();
        Unit(const Unit &) = delete;
        Unit &operator=(const Unit &) = delete;

        std::unique_ptr<SerialLink> link;
        std::unique_ptr<UnitJob> port; // the job, on link
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
    ~UnitRunner() override; // closes the ports

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
    void receive(UnitJob *port);
    // One received line of port, handled by the engine.
    void handleLine(UnitJob *port, const QString &line);
    // Unit index's adapter is gone: a running job ends as with a lost
    // connection, and its port is closed.
    void unplugged(int index);
    // Stops every running job with why (interrupted: by the user) and closes
    // every port; returns how many jobs were stopped.
    int stopAll(const QString &why, bool interrupted);
    // Closes every port; the units are gone.
    void release();

    int count() const { return static_cast<int>(units.size()); }
    const Unit &unit(int index) const { return units.at(index); }
    UnitJob *port(int index) const { return units.at(index).port.get(); }
    int indexOf(const UnitJob *port) const;
    bool allEnded() const;

    // What a front end asks of unit index's job; the job's own state stays
    // the engine's.
    // Its stage, progress and outcome.
    const UnitStatus &status(int index) const;
    // Its job is over: updated, not updated or its connection lost.
    bool ended(int index) const { return status(index).ended(); }
    // Its job has taken its first step.
    bool started(int index) const;
    // Its job has taken its last step: the port is closed, nothing more goes out.
    bool finished(int index) const;
    // The port's own name ("ttyUSB0", "pts/4"), with which the engine's lines
    // about it start.
    QString portName(int index) const;
    // What stopping its running job now would leave on the unit.
    LeftOnUnit leftOnUnit(int index) const;
    // The copies of lines its job has sent again so far (its record, once
    // it has ended, says what else it cost).
    int resends(int index) const;
    // Seconds from the unit's adding to the end of its job (or to now).
    double seconds(int index) const;
    // The unit's record for update, once its job has ended: the one record
    // every front end writes (the report, --log, the window's history). It
    // names the port as path does, the name the user gave or was shown.
    UnitRecord recordOf(int index, const UnitRecord::Update &update) const;

    // JobHost.
    void sendLine(UnitJob *port, char *text) override;
    void sendRaw(UnitJob *port, const QString &text) override;
    void logJob(const QString &line) override;
    void showUnitVersion(UnitJob *port, const QString &version) override;
    void setFirmwareProgress(int value) override;
    void setImageProgress(int value) override;
    void unitChanged(UnitJob *port) override;
    void lineReceived(UnitJob *port) override;
    void wakeAfter(UnitJob *port, int ms) override { wakeTimers.wakeAfter(port, ms); }

private:
    class Working;
    void step(int index);
    void wake(UnitJob *port);
    void lost(UnitJob *port);
    void received(Unit &unit, const QByteArray &bytes);
    void sampleReplies(Unit &unit);

    RunnerView &view;
    // Units stay where they are while more are added (a view may add one
    // from within a call about another): a Unit & holds across every call.
    std::deque<Unit> units;
    WakeTimers wakeTimers { [this](UnitJob *port) { wake(port); } };
    QTimer timer; // steps every unit's job
    UnitJob *current = nullptr; // the port the engine is working on; null outside its calls
    bool endUnopened = false;
};
