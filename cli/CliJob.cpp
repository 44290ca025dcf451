#include "CliJob.h"

#include "CliClosing.h"
#include "CliEvents.h"
#include "CliLeftOver.h"
#include "CliOptions.h"
#include "CliStation.h"
#include "engine/PortTest.h"
#include "engine/FileWrite.h"

#include <QDateTime>
#include <utility>

namespace {

CliProgress::Style styleFor(const CliOptions &options, bool terminal)
{
    if (options.quiet)
        return CliProgress::Quiet;
    return terminal ? CliProgress::Live : CliProgress::Lines;
}

} // namespace

CliJob::CliJob(const CliOptions &opts, const JobPayload &payload, const UnitRecord::Update &upd,
    const CliEvents &ev, bool terminal, QObject *parent)
    : QObject(parent)
    , options(opts)
    , update(upd)
    , events(ev)
    , progress(styleFor(opts, terminal))
{
    runner.setEndUnopened(true);
    runner.sequencer.inputs = payload.inputs;
    runner.sequencer.inputs.confirmVersion = true; // the unit's version is asked again after "$X"
    report = CliReport::forRun(opts);
    report.updateVersion = payload.updateVersion;
    report.packageSha256 = payload.packageSha256;
    report.signer = payload.signer;
    for (const QString &warning : payload.warnings)
        progress.log(warning);
}

void CliJob::start(const QList<UnitTarget> &targets)
{
    report.started = QDateTime::currentDateTimeUtc();
    progress.start({});
    for (const UnitTarget &target : targets)
        addUnit(target);
    runner.start();
    if (runLimit.interval() > 0)
        runLimit.start();
    runner.tick(); // the first step arms every version query; the commands follow on the timer
}

int CliJob::addUnit(const UnitTarget &target)
{
    return runner.addUnit(target);
}

void CliJob::unitAdded(int unit)
{
    shown.append(Shown());
    const UnitTarget &target = runner.unit(unit).target;
    const QString &path = runner.unit(unit).path;
    progress.add(target.slot.isEmpty() ? path : target.slot + QLatin1Char(' ') + path);
    events.emitEvent(QStringLiteral("appeared"), eventFields(unit));
}

void CliJob::adapterGone(int index)
{
    if (index < 0 || index >= runner.count())
        return;
    runner.unplugged(index);
    progress.remove(index);
    events.emitEvent(QStringLiteral("removed"), eventFields(index));
}

void CliJob::slotHeld(const QString &slot, const QString &message, bool again)
{
    progress.error(QStringLiteral("zq-update: ") + message);
    if (!again)
        events.emitEvent(QStringLiteral("held"),
            QJsonObject { { QStringLiteral("slot"), slot }, { QStringLiteral("reason"), message } });
}

bool CliJob::unitEnded(int index) const
{
    return index >= 0 && index < runner.count() && runner.port(index)->status.ended();
}

QJsonObject CliJob::eventFields(int unit) const
{
    return CliEvents::unitFields(runner.unit(unit).target, runner.unit(unit).path);
}

// The engine's lines mostly name no port: the one it is working on is known,
// and each of its lines starts with that port's path ("pts/1: job took"
// becomes "/dev/pts/1: job took").
void CliJob::logLine(int unit, const QString &line)
{
    if (unit < 0) {
        progress.log(line);
        return;
    }
    const UnitRunner::Unit &u = runner.unit(unit);
    const QString own = u.port->portName() + QStringLiteral(": ");
    const QString name = u.target.slot.isEmpty()
        ? u.path
        : QStringLiteral("%1 (%2)").arg(u.target.slot, u.path);
    progress.log(name + QStringLiteral(": ") + (line.startsWith(own) ? line.mid(own.size()) : line));
}

void CliJob::unitVersion(int unit, const QString &)
{
    if (unit >= 0)
        runner.unitChanged(runner.port(unit)); // the status holds the version
}

void CliJob::unitChanged(int unit)
{
    const UnitStatus &status = runner.port(unit)->status;
    Shown &s = shown[unit];
    const bool newStage = !s.seen || status.stage != s.lastStage;
    s.seen = true;
    s.lastStage = status.stage;
    events.unitChanged(eventFields(unit), status, newStage, s.decile);
    progress.unitChanged(unit, status);
}

// The unit's job has ended: its record goes to the log and the events, once.
void CliJob::unitEnded(int unit)
{
    const UnitRecord r = runner.recordOf(unit, update);
    QJsonObject fields = eventFields(unit);
    fields.insert(QStringLiteral("record"), r.json());
    events.emitEvent(QStringLiteral("ended"), fields);
    QString error;
    if (!options.logFile.isEmpty() && !FileWrite::appendWhole(options.logFile, r.line(), error)) {
        ++recordsLost;
        progress.error(QStringLiteral("Could not write the record of %1 to the log %2: %3")
                           .arg(runner.unit(unit).path, options.logFile, error));
    }
    endWhenDone();
}

bool CliJob::updated(int unit) const
{
    const UnitStatus &status = runner.port(unit)->status;
    return !runner.unit(unit).interrupted && status.stage == UnitStatus::Updated
        && !(options.requireConfirm && status.notConfirmed());
}

bool CliJob::allUpdated() const
{
    for (int i = 0; i < runner.count(); ++i)
        if (!updated(i))
            return false;
    return true;
}

void CliJob::endWhenDone()
{
    if (ending || watching || !runner.allEnded())
        return;
    // Not inside the engine's call: the table follows the last log line.
    QTimer::singleShot(0, this, [this] { end(allUpdated() ? 0 : 1); });
}

void CliJob::interrupt(int sig)
{
    if (ending)
        return;
    report.interrupted = true;
    const int stopped = stopJobs(QStringLiteral("interrupted"), true);
    if (!watching)
        interruptNotes.prepend(QStringLiteral("Interrupted: every job was stopped."));
    else if (stopped > 0)
        interruptNotes.prepend(QStringLiteral("Stopped: %1 running job(s) stopped.").arg(stopped));
    else
        interruptNotes.prepend(QStringLiteral("Stopped: no job was running."));
    end(128 + sig);
}

// Stops every running job with why; the notes say what is left on the units.
int CliJob::stopJobs(const QString &why, bool interrupted)
{
    interruptNotes = CliLeftOver::notes(runner);
    return runner.stopAll(why, interrupted);
}

void CliJob::setTimeout(int seconds)
{
    if (seconds <= 0)
        return;
    runLimit.setSingleShot(true);
    runLimit.setTimerType(Qt::PreciseTimer); // never before the time given
    runLimit.setInterval(seconds * 1000);
    connect(&runLimit, &QTimer::timeout, this, &CliJob::timeUp);
}

// --timeout: the jobs not done are stopped as "not updated", and the run ends
// with status 1 (in --watch, as a stopped watch ends).
void CliJob::timeUp()
{
    if (ending)
        return;
    const int seconds = options.timeoutSeconds;
    const int stopped = stopJobs(
        QStringLiteral("the run's time limit (--timeout %1 s) was reached").arg(seconds), false);
    interruptNotes.prepend(
        QStringLiteral("Time is up (--timeout %1 s): %2 job(s) not done were stopped.")
            .arg(seconds)
            .arg(stopped));
    end(1);
}

void CliJob::end(int exitStatus)
{
    if (ending)
        return;
    ending = true;
    runner.stopTimer();
    runLimit.stop();
    // Hands-free, the run is over when it is stopped; it went well when every
    // unit it saw was updated.
    if (watching)
        exitStatus = allUpdated() ? 0 : 1;
    // A record the log did not get is a run that did not do all it was asked.
    if (recordsLost > 0 && exitStatus == 0)
        exitStatus = 1;
    report.ended = QDateTime::currentDateTimeUtc();
    report.exitStatus = exitStatus;
    report.units.clear();
    for (int i = 0; i < runner.count(); ++i)
        report.units.append(runner.recordOf(i, update));
    progress.finish();
    // Watching, the station summary stands below the table.
    QString below = watching ? CliStation::summary(runner, progress.elapsed() / 3600.0) : QString();
    if (recordsLost > 0)
        below += QStringLiteral("%1 unit record(s) could not be written to %2.\n")
                     .arg(recordsLost)
                     .arg(options.logFile);
    emit finished(CliClosing { options, events, progress }.finish(
        report, below, interruptNotes, recordsLost));
}
