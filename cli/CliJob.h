#pragma once
// The job of zq-update: the engine's runner on the command line. It starts a
// unit for every target, shows progress and the job log on standard error,
// and when every unit's job has ended (or the run is interrupted) prints the
// table, writes the report and tells its exit status. Each ended job's record
// goes to the --log file and the --events stream. Watching (--watch), units
// come and go while it runs, and the run ends only when it is interrupted.
#include "CliProgress.h"
#include "CliReport.h"
#include "engine/JobPayload.h"
#include "engine/RunnerView.h"
#include "engine/StationHost.h"
#include "engine/UnitRecord.h"
#include "engine/UnitRunner.h"
#include "engine/UnitTarget.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>

class CliEvents;
struct CliOptions;

class CliJob : public QObject, private RunnerView, public StationHost
{
    Q_OBJECT

public:
    // terminal: standard error is a terminal (live progress lines).
    CliJob(const CliOptions &options, const JobPayload &payload, const UnitRecord::Update &update,
        const CliEvents &events, bool terminal, QObject *parent = nullptr);

    // Opens a port for each target and starts every job.
    void start(const QList<UnitTarget> &targets);
    // Watching: the run goes on when every job has ended; units are added
    // and their adapters go.
    void setWatching(bool on) { watching = on; }
    // Opens the target's port and starts its job; returns the unit's index.
    int addUnit(const UnitTarget &target) override;
    // Unit index's adapter is gone: a running job ends as with a lost
    // connection, and its port is closed.
    void adapterGone(int index) override;
    bool unitEnded(int index) const;
    // Watching: slot starts no job until message's cause is put right (an
    // empty slot: none does). Shown even with --quiet; the first time (not
    // again) also a "held" event.
    void slotHeld(const QString &slot, const QString &message, bool again) override;
    // Stops every job (Ctrl-C: sig 2, SIGTERM: 15), closes the ports and ends.
    void interrupt(int sig);
    // --timeout: after seconds from start(), the jobs not done are stopped and
    // the run ends with status 1.
    void setTimeout(int seconds);
    // Where each ended job's record is stored besides --log (the records
    // database): false with why set when it was not stored.
    using RecordSink = std::function<bool(const QJsonObject &record, QString &why)>;
    void setRecordSink(RecordSink sink) { recordSink = std::move(sink); }

signals:
    // The run is over: the table is printed and the report written.
    void finished(int exitStatus);

private:
    // What the events keep of one unit.
    struct Shown {
        bool seen = false; // a status was told
        UnitStatus::Stage lastStage = UnitStatus::Querying;
        int decile = -1; // the last tenth of progress sent as an event
    };

    // RunnerView.
    void unitAdded(int unit) override;
    void logLine(int unit, const QString &line) override;
    void unitChanged(int unit) override;
    void unitEnded(int unit) override;
    void unitVersion(int unit, const QString &version) override;

    QJsonObject eventFields(int unit) const;
    bool updated(int unit) const;
    bool allUpdated() const;
    int stopJobs(const QString &why, bool interrupted);
    void timeUp();
    void endWhenDone();
    void end(int exitStatus);

    const CliOptions &options;
    const UnitRecord::Update update;
    const CliEvents &events;
    UnitRunner runner { *this };
    CliProgress progress;
    CliReport report;
    QList<Shown> shown; // one per unit of the runner
    QTimer runLimit; // --timeout; inactive without it
    bool ending = false;
    bool watching = false;
    int recordsLost = 0; // records that could not be written to the --log file
    RecordSink recordSink;
    int recordsNotStored = 0; // records the records database did not take
    QStringList interruptNotes; // printed after the table
};
