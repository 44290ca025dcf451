#include "CliJob.h"

#include "CliEvents.h"
#include "CliOptions.h"
#include "Console.h"
#include "engine/PortTest.h"
#include "engine/RecordLog.h"
#include "engine/Protocol.h"
#include "engine/Timeouts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSerialPort>
#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

CliProgress::Style styleFor(const CliOptions &options, bool terminal)
{
    if (options.quiet)
        return CliProgress::Quiet;
    return terminal ? CliProgress::Live : CliProgress::Lines;
}

} // namespace

CliJob::CliJob(const CliOptions &opts, const CliPayload &payload,
    const UnitRecord::Update &upd, const CliEvents &ev, bool terminal, QObject *parent)
    : QObject(parent)
    , options(opts)
    , update(upd)
    , events(ev)
    , progress(styleFor(opts, terminal))
{
    sequencer.inputs = payload.inputs;
    sequencer.inputs.confirmVersion = true; // the unit's version is asked again after "$X"
    report.toolVersion = QCoreApplication::applicationVersion();
    report.mode = CliOptions::modeName(opts.mode);
    report.updateVersion = payload.updateVersion;
    report.payloadDir = opts.packageFile.isEmpty() ? opts.payloadDir : QString();
    report.package = payload.packageFile;
    report.packageSha256 = payload.packageSha256;
    report.signer = payload.signer;
    timer.setInterval(Timeouts::kTickMs);
    connect(&timer, &QTimer::timeout, this, &CliJob::tick);
    for (const QString &warning : payload.warnings)
        progress.log(warning);
}

CliJob::~CliJob()
{
    for (Unit &unit : units) {
        if (unit.port->isOpen())
            unit.port->close();
        delete unit.port;
    }
}

void CliJob::start(const QList<CliTarget> &targets)
{
    report.started = QDateTime::currentDateTimeUtc();
    progress.start({});
    for (const CliTarget &target : targets)
        addUnit(target);
    timer.start();
    if (runLimit.interval() > 0)
        runLimit.start();
    tick(); // the first step arms every version query; the commands follow on the timer
}

int CliJob::addUnit(const CliTarget &target)
{
    Unit unit;
    unit.target = target;
    const PortCandidate &candidate = target.candidate;
    unit.path = candidate.name.isEmpty() ? candidate.info.systemLocation() : candidate.name;
    unit.startedAt = progress.elapsed();
    QString error;
    unit.port = PortDiscovery::openPort(candidate, error);
    unit.opened = error.isEmpty();
    const int i = static_cast<int>(units.size());
    units.append(unit);
    progress.add(target.slot.isEmpty() ? unit.path : target.slot + QLatin1Char(' ') + unit.path);
    events.emitEvent(QStringLiteral("appeared"), eventFields(units.at(i)));
    PortTest *port = unit.port;
    if (!unit.opened) {
        // Nothing can be sent to it: its job ends before it starts.
        current = port;
        logJob(QStringLiteral("Could not open port %1: %2").arg(unit.path, error));
        current = nullptr;
        port->jobState = Finish;
        port->tickCount = Timeouts::kFinishSteps;
        port->status.stage = UnitStatus::NotUpdated;
        port->status.reason = QStringLiteral("the port could not be opened (%1)").arg(error);
        unitChanged(port);
        return i;
    }
    unitChanged(port);
    connect(port, &QIODevice::readyRead, this, [this, i] { receiveFrom(units[i]); });
    // An unplugged adapter ends that unit's job; the others go on.
    connect(port, &QSerialPort::errorOccurred, this, [this, port](QSerialPort::SerialPortError e) {
        if (e != QSerialPort::ResourceError)
            return;
        current = port;
        sequencer.connectionLost(port);
        current = nullptr;
    });
    if (timer.isActive()) {
        // Plugged in while the run goes on: the first step arms its version
        // query and the second sends it now, not at the next tick.
        current = port;
        sequencer.step(port);
        sequencer.step(port);
        current = nullptr;
    }
    return i;
}

void CliJob::adapterGone(int index)
{
    if (index < 0 || index >= units.size())
        return;
    Unit &unit = units[index];
    PortTest *port = unit.port;
    if (!port->status.ended()) {
        current = port;
        sequencer.connectionLost(port);
        current = nullptr;
    }
    if (port->isOpen())
        port->close();
    progress.remove(index);
    events.emitEvent(QStringLiteral("removed"), eventFields(unit));
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
    return index >= 0 && index < units.size() && units.at(index).port->status.ended();
}

QJsonObject CliJob::eventFields(const Unit &unit) const
{
    return QJsonObject { { QStringLiteral("slot"), unit.target.slot },
        { QStringLiteral("port"), unit.path }, { QStringLiteral("adapterSerial"), unit.target.serial },
        { QStringLiteral("usbLocation"), unit.target.location } };
}

int CliJob::indexOf(const PortTest *port) const
{
    for (int i = 0; i < units.size(); ++i)
        if (units.at(i).port == port)
            return i;
    return -1;
}

void CliJob::tick()
{
    for (Unit &unit : units) {
        if (!unit.opened)
            continue;
        current = unit.port;
        sequencer.tick(unit.port);
        sampleReplies(unit);
    }
    current = nullptr;
}

void CliJob::receiveFrom(Unit &unit)
{
    // Also read from within a step or a wake-up of the same port (readWaiting).
    PortTest *const was = current;
    current = unit.port;
    sequencer.receive(unit.port, unit.port->readAll());
    sampleReplies(unit);
    current = was;
}

// Each answered command adds its reply time to the record; sampled after every
// line, the difference is one reply's time, whose maximum the report shows.
// The first is the capture's "$GACK", timed from the version query's last line
// across the unit's restart: it is no command's answer time and not taken.
void CliJob::sampleReplies(Unit &unit)
{
    const JobTiming &t = unit.port->timing;
    if (t.replyCount <= unit.repliesSeen)
        return;
    const qint64 each = (t.replyNsTotal - unit.replyNsSeen) / (t.replyCount - unit.repliesSeen);
    if (unit.repliesSeen > 0)
        unit.maxReplyNs = std::max(unit.maxReplyNs, each);
    unit.repliesSeen = t.replyCount;
    unit.replyNsSeen = t.replyNsTotal;
}

void CliJob::sendLine(PortTest *port, char *text)
{
    if (Protocol::writeFramed(*port, port->portName(), text) > 0)
        port->writeNow();
}

void CliJob::sendRaw(PortTest *port, const QString &text)
{
    Protocol::writeRaw(*port, text);
    port->writeNow();
}

void CliJob::logJob(const QString &line)
{
    // The engine's lines mostly name no port: the one it is working on is known,
    // and each of its lines starts with that port's path ("pts/1: job took"
    // becomes "/dev/pts/1: job took").
    const int i = current != nullptr ? indexOf(current) : -1;
    if (i < 0) {
        progress.log(line);
        return;
    }
    const QString own = current->portName() + QStringLiteral(": ");
    const Unit &unit = units.at(i);
    const QString name = unit.target.slot.isEmpty()
        ? unit.path
        : QStringLiteral("%1 (%2)").arg(unit.target.slot, unit.path);
    progress.log(name + QStringLiteral(": ") + (line.startsWith(own) ? line.mid(own.size()) : line));
}

void CliJob::showUnitVersion(PortTest *port, const QString &)
{
    unitChanged(port); // the status holds the version
}

void CliJob::setFirmwareProgress(int) { }

void CliJob::setImageProgress(int) { }

void CliJob::lineReceived(PortTest *port)
{
    const int i = indexOf(port);
    if (i >= 0)
        sampleReplies(units[i]);
}

void CliJob::unitChanged(PortTest *port)
{
    const int i = indexOf(port);
    if (i < 0)
        return;
    Unit &unit = units[i];
    const UnitStatus &status = port->status;
    const double now = progress.elapsed() - unit.startedAt;
    if (!unit.anyStage || status.stage != unit.lastStage) {
        unit.report.stages.append({ CliReport::stageName(status.stage), now });
        unit.lastStage = status.stage;
        unit.anyStage = true;
        if (!status.ended()) {
            QJsonObject fields = eventFields(unit);
            fields.insert(QStringLiteral("stage"), CliReport::stageName(status.stage));
            fields.insert(QStringLiteral("percent"), status.percent);
            events.emitEvent(QStringLiteral("stage"), fields);
            unit.decile = status.percent / 10;
        }
    } else if (status.percent / 10 > unit.decile && !status.ended()) {
        unit.decile = status.percent / 10;
        QJsonObject fields = eventFields(unit);
        fields.insert(QStringLiteral("stage"), CliReport::stageName(status.stage));
        fields.insert(QStringLiteral("percent"), unit.decile * 10);
        events.emitEvent(QStringLiteral("progress"), fields);
    }
    if (status.ended() && unit.endedAt < 0)
        unit.endedAt = now;
    progress.unitChanged(i, status);
    if (status.ended()) {
        record(unit);
        endWhenDone();
    }
}

bool CliJob::allEnded() const
{
    for (const Unit &unit : units)
        if (!unit.port->status.ended())
            return false;
    return true;
}

// The unit's job has ended: its record goes to the log and the events, once.
void CliJob::record(Unit &unit)
{
    if (unit.recorded)
        return;
    unit.recorded = true;
    UnitRecord r = UnitRecord::of(*unit.port, update, unit.interrupted);
    r.slot = unit.target.slot;
    r.port = unit.path;
    r.adapterSerial = unit.target.serial;
    r.usbLocation = unit.target.location;
    r.seconds = unit.endedAt >= 0 ? unit.endedAt : progress.elapsed() - unit.startedAt;
    QJsonObject fields = eventFields(unit);
    fields.insert(QStringLiteral("record"), r.json());
    events.emitEvent(QStringLiteral("ended"), fields);
    if (options.logFile.isEmpty())
        return;
    QString error;
    if (!RecordLog::append(options.logFile, r.line(), error)) {
        ++recordsLost;
        progress.error(QStringLiteral("Could not write the record of %1 to the log %2: %3")
                           .arg(unit.path, options.logFile, error));
    }
}

void CliJob::endWhenDone()
{
    if (ending || watching || !allEnded())
        return;
    // Not inside the engine's call: the table follows the last log line.
    QTimer::singleShot(0, this, [this] {
        bool updated = true;
        for (const Unit &unit : std::as_const(units))
            updated = updated && unit.port->status.stage == UnitStatus::Updated
                && !(options.requireConfirm && unit.port->status.notConfirmed());
        end(updated ? 0 : 1);
    });
}

// Stops every running job with why; the units' names by what is left on them.
int CliJob::stopJobs(const QString &why, bool asInterrupted, QStringList &captured,
    QStringList &restarting)
{
    int stopped = 0;
    for (Unit &unit : units) {
        PortTest *port = unit.port;
        if (port->status.ended())
            continue;
        const QString what = QStringLiteral("%1 (%2)").arg(unit.path, port->status.text());
        // A unit whose version is being confirmed is updated and out of its
        // bootloader: only its confirmation is cut short.
        const bool confirming = port->jobState == ConfirmVersion;
        if (!confirming && port->capturePhase != Uncaptured)
            captured << what;
        else if (!confirming && port->jobState >= SwitchToBootloaderSpeed)
            restarting << what;
        unit.interrupted = asInterrupted;
        ++stopped;
        current = port;
        sequencer.stop(port, why);
        current = nullptr;
    }
    for (Unit &unit : units) {
        if (unit.port->isOpen()) {
            unit.port->flush();
            unit.port->close();
        }
    }
    return stopped;
}

void CliJob::noteWhatIsLeft(const QStringList &captured, const QStringList &restarting)
{
    if (!captured.isEmpty())
        interruptNotes << QStringLiteral("Left in the bootloader, not finished: %1.")
                              .arg(captured.join(QStringLiteral(", ")));
    if (!restarting.isEmpty())
        interruptNotes << QStringLiteral("Told to start the bootloader, not captured yet: %1.")
                              .arg(restarting.join(QStringLiteral(", ")));
    if (captured.isEmpty() && restarting.isEmpty())
        interruptNotes << QStringLiteral("No unit was left in its bootloader.");
    else
        interruptNotes << QStringLiteral(
            "Run the same command again to finish them: a unit already in its bootloader is "
            "taken up after the version query. If the job log then says no bootloader was "
            "seen, power-cycle that unit.");
}

void CliJob::interrupt(int sig)
{
    if (ending)
        return;
    QStringList captured; // in the bootloader, captured by this run, not finished
    QStringList restarting; // told to start the bootloader, not captured yet
    const int stopped = stopJobs(QStringLiteral("interrupted"), true, captured, restarting);
    report.interrupted = true;
    if (!watching)
        interruptNotes << QStringLiteral("Interrupted: every job was stopped.");
    else if (stopped > 0)
        interruptNotes << QStringLiteral("Stopped: %1 running job(s) stopped.").arg(stopped);
    else
        interruptNotes << QStringLiteral("Stopped: no job was running.");
    noteWhatIsLeft(captured, restarting);
    end(128 + sig);
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
    QStringList captured;
    QStringList restarting;
    const int seconds = options.timeoutSeconds;
    const int stopped = stopJobs(
        QStringLiteral("the run's time limit (--timeout %1 s) was reached").arg(seconds), false,
        captured, restarting);
    interruptNotes << QStringLiteral("Time is up (--timeout %1 s): %2 job(s) not done were stopped.")
                          .arg(seconds)
                          .arg(stopped);
    noteWhatIsLeft(captured, restarting);
    end(1);
}

CliReport::Unit CliJob::reportOf(Unit &unit) const
{
    CliReport::Unit r = unit.report;
    const PortTest &port = *unit.port;
    const UnitStatus &s = port.status;
    r.port = unit.path;
    r.slot = unit.target.slot;
    r.adapterSerial = unit.target.serial;
    r.usbLocation = unit.target.location;
    r.unitVersion = s.version;
    if (unit.interrupted)
        r.result = QStringLiteral("interrupted");
    else if (s.stage == UnitStatus::Updated)
        r.result = QStringLiteral("updated");
    else if (s.stage == UnitStatus::ConnectionLost)
        r.result = QStringLiteral("connection lost");
    else
        r.result = QStringLiteral("not updated");
    r.reason = s.stage == UnitStatus::Updated ? QString() : s.reason;
    r.confirmation = UnitRecord::confirmationOf(s);
    r.confirmedVersion = s.confirmedVersion;
    const JobTiming &t = port.timing;
    r.seconds = unit.endedAt >= 0 ? unit.endedAt : progress.elapsed() - unit.startedAt;
    r.linesSent = t.linesSent;
    r.resends = t.resends;
    r.replies = t.replyCount;
    r.averageReplyMs
        = t.replyCount > 0 ? static_cast<double>(t.replyNsTotal) / 1e6 / t.replyCount : 0.0;
    r.maximumReplyMs = static_cast<double>(unit.maxReplyNs) / 1e6;
    return r;
}

void CliJob::end(int exitStatus)
{
    if (ending)
        return;
    ending = true;
    timer.stop();
    runLimit.stop();
    if (watching) {
        // Hands-free: the run is over when it is stopped; it went well when
        // every unit it saw was updated.
        bool updated = true;
        for (const Unit &unit : std::as_const(units))
            updated = updated && !unit.interrupted && unit.port->status.stage == UnitStatus::Updated
                && !(options.requireConfirm && unit.port->status.notConfirmed());
        exitStatus = updated ? 0 : 1;
    }
    // A record the log did not get is a run that did not do all it was asked.
    if (recordsLost > 0 && exitStatus == 0)
        exitStatus = 1;
    report.ended = QDateTime::currentDateTimeUtc();
    report.exitStatus = exitStatus;
    report.units.clear();
    for (Unit &unit : units)
        report.units.append(reportOf(unit));
    progress.finish();
    QByteArray table = report.table().toLocal8Bit();
    if (watching)
        table += stationSummary().toLocal8Bit();
    if (recordsLost > 0)
        table += QStringLiteral("%1 unit record(s) could not be written to %2.\n")
                     .arg(recordsLost)
                     .arg(options.logFile)
                     .toLocal8Bit();
    // With --events standard output is the event stream: the table goes with
    // the human lines.
    if (events.enabled())
        Console::writeErr(table);
    else
        Console::writeOut(table);
    if (!options.reportFile.isEmpty()) {
        QString error;
        if (!report.write(options.reportFile, error)) {
            progress.error(
                QStringLiteral("Could not write the report %1: %2").arg(options.reportFile, error));
            if (exitStatus == 0)
                exitStatus = 1; // the report asked for is missing
        }
    }
    for (const QString &note : std::as_const(interruptNotes))
        progress.error(note);
    events.emitEvent(QStringLiteral("finished"),
        QJsonObject { { QStringLiteral("exitStatus"), exitStatus },
            { QStringLiteral("recordsNotWritten"), recordsLost } });
    emit finished(exitStatus);
}

// Per slot (or port, without a station): the units updated and not; and the
// line's units per hour over the whole run.
QString CliJob::stationSummary() const
{
    QStringList names;
    QList<int> updated;
    QList<int> notUpdated;
    for (const Unit &unit : units) {
        const QString name = unit.target.slot.isEmpty() ? unit.path : unit.target.slot;
        int i = static_cast<int>(names.indexOf(name));
        if (i < 0) {
            names << name;
            updated << 0;
            notUpdated << 0;
            i = static_cast<int>(names.size()) - 1;
        }
        if (!unit.interrupted && unit.port->status.stage == UnitStatus::Updated)
            ++updated[i];
        else
            ++notUpdated[i];
    }
    const double hours = progress.elapsed() / 3600.0;
    int width = 4;
    for (const QString &name : std::as_const(names))
        width = std::max(width, static_cast<int>(name.size()));
    QString text = QStringLiteral("\nStation summary: %1 min %2 s\n")
                       .arg(static_cast<int>(hours * 60))
                       .arg(static_cast<int>(hours * 3600) % 60);
    text += QStringLiteral("%1  UPDATED  NOT UPDATED\n").arg(QStringLiteral("SLOT"), -width);
    int total = 0;
    int failed = 0;
    for (int i = 0; i < names.size(); ++i) {
        text += QStringLiteral("%1  %2  %3\n")
                    .arg(names.at(i), -width)
                    .arg(updated.at(i), 7)
                    .arg(notUpdated.at(i), 11);
        total += updated.at(i);
        failed += notUpdated.at(i);
    }
    text += QStringLiteral("Line: %1 updated, %2 not updated, %3 units per hour\n")
                .arg(total)
                .arg(failed)
                .arg(hours > 0 ? total / hours : 0.0, 0, 'f', 1);
    return text;
}
