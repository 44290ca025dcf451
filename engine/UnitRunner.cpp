#include "engine/UnitRunner.h"

#include "engine/PortDiscovery.h"
#include "engine/UnitJob.h"
#include "engine/Protocol.h"
#include "engine/RunnerView.h"
#include "engine/SerialLink.h"
#include "engine/Timeouts.h"

#include <algorithm>

// Makes port the one the engine works on for one call into it; the one
// before (a read from within a step of the same port) comes back after.
class UnitRunner::Working
{
public:
    Working(UnitJob *&current, UnitJob *port)
        : current(current)
        , previous(current)
    {
        current = port;
    }
    ~Working() { current = previous; }
    Working(const Working &) = delete;
    Working &operator=(const Working &) = delete;

private:
    UnitJob *&current;
    UnitJob *previous;
};

UnitRunner::Unit::Unit() = default;
UnitRunner::Unit::~Unit() = default;

UnitRunner::UnitRunner(RunnerView &runnerView, QObject *parent)
    : QObject(parent)
    , view(runnerView)
{
    timer.setInterval(Timeouts::kTickMs);
    connect(&timer, &QTimer::timeout, this, &UnitRunner::tick);
}

UnitRunner::~UnitRunner()
{
    release();
}

int UnitRunner::addUnit(const UnitTarget &target)
{
    const int i = count();
    Unit &unit = units.emplace_back();
    unit.target = target;
    unit.path = target.path();
    unit.addedNs = nowNs();
    QString error;
    unit.link = PortDiscovery::openPort(target.port, error);
    unit.opened = error.isEmpty();
    unit.port = std::make_unique<UnitJob>(*unit.link);
    unit.port->resetJob();
    UnitJob *port = unit.port.get();
    unit.link->received = [this, &unit](const QByteArray &bytes) { received(unit, bytes); };
    // An unplugged adapter ends that unit's job; the others go on.
    unit.link->lost = [this, port] { lost(port); };
    view.unitAdded(i);
    if (!unit.opened) {
        {
            const Working working(current, port);
            logJob(QStringLiteral("Could not open port %1: %2").arg(unit.path, error));
        }
        if (endUnopened) {
            // Nothing can be sent to it: its job ends before it starts.
            sequencer.endUnopened(
                port, QStringLiteral("the port could not be opened (%1)").arg(error));
            return i;
        }
    }
    unitChanged(port);
    if (timer.isActive() && unit.opened) {
        // Added while the jobs run: the first step arms its version query and
        // the second sends it now, not at the next tick.
        const Working working(current, port);
        sequencer.step(port);
        sequencer.step(port);
    }
    return i;
}

void UnitRunner::start()
{
    timer.start();
}

void UnitRunner::tick()
{
    for (int i = 0; i < count(); ++i)
        step(i);
}

void UnitRunner::step(int index)
{
    Unit &unit = units[index];
    if (!unit.opened && endUnopened)
        return;
    {
        const Working working(current, unit.port.get());
        sequencer.tick(unit.port.get());
    }
    sampleReplies(unit);
    view.unitStepped(index);
}

void UnitRunner::receive(UnitJob *port)
{
    const Working working(current, port);
    port->link.readWaiting();
}

void UnitRunner::received(Unit &unit, const QByteArray &bytes)
{
    const Working working(current, unit.port.get());
    sequencer.receive(unit.port.get(), bytes);
    sampleReplies(unit);
}

void UnitRunner::handleLine(UnitJob *port, const QString &line)
{
    const Working working(current, port);
    const QByteArray text = line.toUtf8();
    sequencer.handleLine(port, text.constData(), static_cast<int>(text.size()));
}

void UnitRunner::wake(UnitJob *port)
{
    {
        const Working working(current, port);
        sequencer.wake(port);
    }
    const int i = indexOf(port);
    if (i >= 0)
        view.unitStepped(i);
}

void UnitRunner::lost(UnitJob *port)
{
    const Working working(current, port);
    sequencer.connectionLost(port);
}

void UnitRunner::unplugged(int index)
{
    if (index < 0 || index >= count())
        return;
    UnitJob *port = units.at(index).port.get();
    if (!port->status.ended())
        lost(port);
    if (port->link.isOpen())
        port->link.close();
}

int UnitRunner::stopAll(const QString &why, bool interrupted)
{
    int stopped = 0;
    for (int i = 0; i < count(); ++i) {
        Unit &unit = units[i];
        UnitJob *port = unit.port.get();
        if (port->status.ended())
            continue;
        unit.interrupted = interrupted;
        ++stopped;
        const Working working(current, port);
        sequencer.stop(port, why);
    }
    for (const Unit &unit : units) {
        if (unit.link->isOpen()) {
            unit.link->flush();
            unit.link->close();
        }
    }
    return stopped;
}

void UnitRunner::release()
{
    // The last added goes first; a link closes its port without telling this
    // runner, or its view, of anything more.
    while (!units.empty()) {
        wakeTimers.forget(units.back().port.get());
        units.pop_back();
    }
}

int UnitRunner::indexOf(const UnitJob *port) const
{
    for (int i = 0; i < count(); ++i)
        if (units.at(i).port.get() == port)
            return i;
    return -1;
}

bool UnitRunner::allEnded() const
{
    return std::all_of(units.cbegin(), units.cend(),
        [](const Unit &unit) { return unit.port->status.ended(); });
}

const UnitStatus &UnitRunner::status(int index) const
{
    return units.at(index).port->status;
}

bool UnitRunner::started(int index) const
{
    return units.at(index).port->timing.startNs >= 0;
}

bool UnitRunner::finished(int index) const
{
    return units.at(index).port->finished();
}

QString UnitRunner::portName(int index) const
{
    return units.at(index).port->portName();
}

LeftOnUnit UnitRunner::leftOnUnit(int index) const
{
    return units.at(index).port->leftOnUnit();
}

int UnitRunner::resends(int index) const
{
    return units.at(index).port->timing.resends;
}

double UnitRunner::seconds(int index) const
{
    const Unit &unit = units.at(index);
    const qint64 end = unit.endedNs >= 0 ? unit.endedNs : nowNs();
    return static_cast<double>(end - unit.addedNs) / 1e9;
}

UnitRecord UnitRunner::recordOf(int index, const UnitRecord::Update &update) const
{
    const Unit &unit = units.at(index);
    UnitRecord r = UnitRecord::of(*unit.port, update, unit.interrupted);
    if (unit.endedAt.isValid())
        r.time = unit.endedAt;
    r.port = unit.path;
    r.slot = unit.target.slot;
    r.adapterSerial = unit.target.serial;
    r.usbLocation = unit.target.location;
    r.seconds = seconds(index);
    r.stages = unit.stages;
    r.maximumReplyMs = static_cast<double>(unit.maxReplyNs) / 1e6;
    return r;
}

// Each answered command adds its reply time to the record; sampled after every
// line, the difference is one reply's time, whose maximum is kept. The first
// is the capture's "$GACK", timed from the version query's last line across
// the unit's restart: it is no command's answer time and not taken.
void UnitRunner::sampleReplies(Unit &unit)
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

void UnitRunner::sendLine(UnitJob *port, char *text)
{
    if (Protocol::writeFramed(port->link, text) == 0)
        return;
    view.lineSent(indexOf(port));
}

void UnitRunner::sendRaw(UnitJob *port, const QString &text)
{
    Protocol::writeRaw(port->link, text);
}

void UnitRunner::logJob(const QString &line)
{
    view.logLine(current != nullptr ? indexOf(current) : -1, line);
}

void UnitRunner::showUnitVersion(UnitJob *port, const QString &version)
{
    view.unitVersion(indexOf(port), version);
}

void UnitRunner::setFirmwareProgress(int value)
{
    view.firmwareProgress(value);
}

void UnitRunner::setImageProgress(int value)
{
    view.imageProgress(value);
}

void UnitRunner::lineReceived(UnitJob *port)
{
    const int i = indexOf(port);
    if (i >= 0)
        sampleReplies(units[i]);
    view.lineReceived(i);
}

void UnitRunner::unitChanged(UnitJob *port)
{
    const int i = indexOf(port);
    if (i < 0)
        return;
    Unit &unit = units[i];
    const bool ended = port->status.ended();
    if (ended != (unit.endedNs >= 0)) {
        unit.endedNs = ended ? nowNs() : -1;
        unit.endedAt = ended ? QDateTime::currentDateTimeUtc() : QDateTime();
    }
    const UnitStatus::Stage stage = port->status.stage;
    if (unit.stages.isEmpty() || unit.stages.last().name != UnitRecord::stageName(stage))
        unit.stages.append({ UnitRecord::stageName(stage), seconds(i) });
    view.unitChanged(i);
    if (ended && !unit.recorded) {
        unit.recorded = true;
        view.unitEnded(i);
    }
}
