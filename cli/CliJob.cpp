#include "CliJob.h"

#include "CliOptions.h"
#include "engine/PortTest.h"
#include "engine/Protocol.h"
#include "engine/Timeouts.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSerialPort>
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

CliJob::CliJob(const CliOptions &opts, const CliPayload &payload, bool terminal, QObject *parent)
    : QObject(parent)
    , options(opts)
    , progress(styleFor(opts, terminal))
{
    sequencer.inputs = payload.inputs;
    report.toolVersion = QCoreApplication::applicationVersion();
    report.mode = CliOptions::modeName(opts.mode);
    report.updateVersion = payload.updateVersion;
    report.payloadDir = opts.payloadDir;
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

void CliJob::start(const QList<PortCandidate> &candidates)
{
    report.started = QDateTime::currentDateTimeUtc();
    QStringList paths;
    for (const PortCandidate &candidate : candidates) {
        Unit unit;
        unit.path = candidate.name.isEmpty() ? candidate.info.systemLocation() : candidate.name;
        QString error;
        unit.port = PortDiscovery::openPort(candidate, error);
        unit.opened = error.isEmpty();
        if (!unit.opened) {
            // Nothing can be sent to it: its job ends before it starts.
            progress.error(QStringLiteral("Could not open port %1: %2").arg(unit.path, error));
            unit.port->jobState = Finish;
            unit.port->tickCount = Timeouts::kFinishSteps;
            unit.port->status.stage = UnitStatus::NotUpdated;
            unit.port->status.reason
                = QStringLiteral("the port could not be opened (%1)").arg(error);
        }
        paths << unit.path;
        units.append(unit);
    }
    progress.start(paths);
    for (int i = 0; i < units.size(); ++i) {
        PortTest *port = units.at(i).port;
        unitChanged(port);
        if (!units.at(i).opened)
            continue;
        connect(port, &QIODevice::readyRead, this, [this, i] { receiveFrom(units[i]); });
        // An unplugged adapter ends that unit's job; the others go on.
        connect(
            port, &QSerialPort::errorOccurred, this, [this, port](QSerialPort::SerialPortError e) {
                if (e != QSerialPort::ResourceError)
                    return;
                current = port;
                sequencer.connectionLost(port);
                current = nullptr;
            });
    }
    timer.start();
    tick(); // the first step arms every version query; the commands follow on the timer
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
        sequencer.step(unit.port);
        sampleReplies(unit);
    }
    current = nullptr;
}

void CliJob::receiveFrom(Unit &unit)
{
    current = unit.port;
    sequencer.receive(unit.port, unit.port->readAll());
    sampleReplies(unit);
    current = nullptr;
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
    progress.log(units.at(i).path + QStringLiteral(": ")
        + (line.startsWith(own) ? line.mid(own.size()) : line));
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
    const double now = progress.elapsed();
    if (!unit.anyStage || status.stage != unit.lastStage) {
        unit.report.stages.append({ CliReport::stageName(status.stage), now });
        unit.lastStage = status.stage;
        unit.anyStage = true;
    }
    if (status.ended() && unit.endedAt < 0)
        unit.endedAt = now;
    progress.unitChanged(i, status);
    if (status.ended())
        endWhenDone();
}

bool CliJob::allEnded() const
{
    for (const Unit &unit : units)
        if (!unit.port->status.ended())
            return false;
    return true;
}

void CliJob::endWhenDone()
{
    if (ending || !allEnded())
        return;
    // Not inside the engine's call: the table follows the last log line.
    QTimer::singleShot(0, this, [this] {
        bool updated = true;
        for (const Unit &unit : std::as_const(units))
            updated = updated && unit.port->status.stage == UnitStatus::Updated;
        end(updated ? 0 : 1);
    });
}

void CliJob::interrupt(int sig)
{
    if (ending)
        return;
    QStringList captured; // in the bootloader, captured by this run, not finished
    QStringList restarting; // told to start the bootloader, not captured yet
    for (Unit &unit : units) {
        PortTest *port = unit.port;
        if (port->status.ended())
            continue;
        const QString what = QStringLiteral("%1 (%2)").arg(unit.path, port->status.text());
        if (port->capturePhase != Uncaptured)
            captured << what;
        else if (port->jobState >= SwitchToBootloaderSpeed)
            restarting << what;
        unit.interrupted = true;
        current = port;
        sequencer.stop(port, QStringLiteral("interrupted"));
        current = nullptr;
    }
    for (Unit &unit : units) {
        if (unit.port->isOpen()) {
            unit.port->flush();
            unit.port->close();
        }
    }
    report.interrupted = true;
    interruptNotes << QStringLiteral("Interrupted: every job was stopped.");
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
    end(128 + sig);
}

CliReport::Unit CliJob::reportOf(Unit &unit) const
{
    CliReport::Unit r = unit.report;
    const PortTest &port = *unit.port;
    const UnitStatus &s = port.status;
    r.port = unit.path;
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
    const JobTiming &t = port.timing;
    r.seconds = unit.endedAt >= 0 ? unit.endedAt : progress.elapsed();
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
    report.ended = QDateTime::currentDateTimeUtc();
    report.exitStatus = exitStatus;
    report.units.clear();
    for (Unit &unit : units)
        report.units.append(reportOf(unit));
    progress.finish();
    const QByteArray table = report.table().toLocal8Bit();
    std::fwrite(table.constData(), 1, static_cast<size_t>(table.size()), stdout);
    std::fflush(stdout);
    if (!options.reportFile.isEmpty()) {
        QString error;
        if (!report.write(options.reportFile, error))
            progress.error(
                QStringLiteral("Could not write the report %1: %2").arg(options.reportFile, error));
    }
    for (const QString &note : std::as_const(interruptNotes))
        progress.error(note);
    emit finished(exitStatus);
}
