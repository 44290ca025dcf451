#pragma once
// The job of zq-update: the job engine's host on the command line. It opens
// every port, steps each unit's job on the 500 ms timer and on its replies as
// the update dialog does, shows progress and the job log on standard error,
// and when every unit's job has ended (or the run is interrupted) prints the
// table, writes the report and tells its exit status. Each ended job's record
// goes to the --log file and the --events stream. Watching (--watch), units
// come and go while it runs, and the run ends only when it is interrupted.
#include "CliPayload.h"
#include "CliProgress.h"
#include "CliReport.h"
#include "CliStation.h"
#include "engine/JobHost.h"
#include "engine/PortDiscovery.h"
#include "engine/UnitRecord.h"
#include "engine/Sequencer.h"
#include "engine/WakeTimers.h"

#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class CliEvents;
class PortTest;
struct CliOptions;

class CliJob : public QObject, public JobHost
{
    Q_OBJECT

public:
    // terminal: standard error is a terminal (live progress lines).
    CliJob(const CliOptions &options, const CliPayload &payload, const UnitRecord::Update &update,
        const CliEvents &events, bool terminal, QObject *parent = nullptr);
    ~CliJob() override;

    // Opens a port for each target and starts every job.
    void start(const QList<CliTarget> &targets);
    // Watching: the run goes on when every job has ended; units are added
    // and their adapters go.
    void setWatching(bool on) { watching = on; }
    // Opens the target's port and starts its job; returns the unit's index.
    int addUnit(const CliTarget &target);
    // Unit index's adapter is gone: a running job ends as with a lost
    // connection, and its port is closed.
    void adapterGone(int index);
    bool unitEnded(int index) const;
    // Watching: slot starts no job until message's cause is put right (an
    // empty slot: none does). Shown even with --quiet; the first time (not
    // again) also a "held" event.
    void slotHeld(const QString &slot, const QString &message, bool again);
    // Stops every job (Ctrl-C: sig 2, SIGTERM: 15), closes the ports and ends.
    void interrupt(int sig);
    // --timeout: after seconds from start(), the jobs not done are stopped and
    // the run ends with status 1.
    void setTimeout(int seconds);

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

signals:
    // The run is over: the table is printed and the report written.
    void finished(int exitStatus);

private:
    // What the host keeps of one unit beside the engine's record.
    struct Unit {
        PortTest *port = nullptr;
        QString path; // as shown and reported
        CliTarget target;
        bool opened = false;
        bool recorded = false; // its record was written
        double startedAt = 0; // seconds since the start
        bool interrupted = false;
        CliReport::Unit report;
        UnitStatus::Stage lastStage = UnitStatus::Querying;
        bool anyStage = false;
        int decile = -1; // the last tenth of progress sent as an event
        double endedAt = -1; // seconds since the start
        int repliesSeen = 0; // timing.replyCount at the last sample
        qint64 replyNsSeen = 0; // timing.replyNsTotal likewise
        qint64 maxReplyNs = 0;
    };

    int indexOf(const PortTest *port) const;
    int stopJobs(const QString &why, bool asInterrupted, QStringList &captured,
        QStringList &restarting);
    void noteWhatIsLeft(const QStringList &captured, const QStringList &restarting);
    void timeUp();
    void tick();
    void receiveFrom(Unit &unit);
    void sampleReplies(Unit &unit);
    bool allEnded() const;
    void endWhenDone();
    void end(int exitStatus);
    void record(Unit &unit);
    QString stationSummary() const;
    QJsonObject eventFields(const Unit &unit) const;
    CliReport::Unit reportOf(Unit &unit) const;

    const CliOptions &options;
    const UnitRecord::Update update;
    const CliEvents &events;
    Sequencer sequencer { *this };
    CliProgress progress;
    CliReport report;
    QList<Unit> units;
    WakeTimers wakeTimers { [this](PortTest *port) {
        current = port;
        sequencer.wake(port);
        current = nullptr;
    } };
    QTimer timer; // Timeouts::kTickMs; steps every unit's job
    QTimer runLimit; // --timeout; inactive without it
    PortTest *current = nullptr; // the port the engine is working on
    bool ending = false;
    bool watching = false;
    int recordsLost = 0; // records that could not be written to the --log file
    QStringList interruptNotes; // printed after the table
};
