#include "engine/UnitRunner.h"

#include "engine/PortTest.h"
#include "engine/Protocol.h"
#include "engine/RunnerView.h"
#include "engine/Timeouts.h"

#include <QSerialPort>
#include <algorithm>

// Makes port the one the engine works on for one call into it; the one
// before (a read from within a step of the same port) comes back after.
class UnitRunner::Working
{
public:
    Working(PortTest *&current, PortTest *port)
        : current(current)
        , previous(current)
    {
        current = port;
    }
    ~Working() { current = previous; }
    Working(const Working &) = delete;
    Working &operator=(const Working &) = delete;

private:
    PortTest *&current;
    PortTest *previous;
};

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
    Unit unit;
    unit.target = target;
    unit.path = target.path();
    unit.addedNs = nowNs();
    QString error;
    unit.port = PortDiscovery::openPort(target.candidate, error);
    unit.opened = error.isEmpty();
    const int i = count();
    units.append(unit);
    PortTest *port = unit.port;
    connect(port, &QIODevice::readyRead, this, [this, port] { receive(port); });
    // An unplugged adapter ends that unit's job; the others go on.
    connect(port, &QSerialPort::errorOccurred, this, [this, port](QSerialPort::SerialPortError e) {
        if (e == QSerialPort::ResourceError)
            lost(port);
    });
    view.unitAdded(i);
    if (!unit.opened) {
        {
            const Working working(current, port);
            logJob(QStringLiteral("Could not open port %1: %2").arg(unit.path, error));
        }
        if (endUnopened) {
            // Nothing can be sent to it: its job ends before it starts.
            port->jobState = Finish;
            port->tickCount = Timeouts::kFinishSteps;
            port->status.stage = UnitStatus::NotUpdated;
            port->status.reason = QStringLiteral("the port could not be opened (%1)").arg(error);
            unitChanged(port);
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
        const Working working(current, unit.port);
        sequencer.tick(unit.port);
    }
    sampleReplies(units[index]);
    view.unitStepped(index);
}

void UnitRunner::receive(PortTest *port)
{
    const Working working(current, port);
    // What waits is handed on in one piece, as one read; the few bytes of a
    // reply or two are read into the stack, not into a new array each time.
    char bytes[2048];
    const qint64 waiting = port->bytesAvailable();
    if (waiting > 0 && waiting <= static_cast<qint64>(sizeof bytes)) {
        const qint64 n = std::max<qint64>(port->read(bytes, waiting), 0);
        sequencer.receive(port, QByteArray::fromRawData(bytes, static_cast<int>(n)));
    } else {
        sequencer.receive(port, port->readAll());
    }
    const int i = indexOf(port);
    if (i >= 0)
        sampleReplies(units[i]);
}

void UnitRunner::handleLine(PortTest *port, const QString &line)
{
    const Working working(current, port);
    const QByteArray text = line.toUtf8();
    sequencer.handleLine(port, text.constData(), static_cast<int>(text.size()));
}

void UnitRunner::wake(PortTest *port)
{
    {
        const Working working(current, port);
        sequencer.wake(port);
    }
    const int i = indexOf(port);
    if (i >= 0)
        view.unitStepped(i);
}

void UnitRunner::lost(PortTest *port)
{
    const Working working(current, port);
    sequencer.connectionLost(port);
}

const UnitStatus &UnitRunner::status(int index) const
{
    return units.at(index).port->status;
}

void UnitRunner::unplugged(int index)
{
    if (index < 0 || index >= count())
        return;
    PortTest *port = units.at(index).port;
    if (!port->status.ended())
        lost(port);
    if (port->isOpen())
        port->close();
}

int UnitRunner::stopAll(const QString &why, bool interrupted)
{
    int stopped = 0;
    for (int i = 0; i < count(); ++i) {
        PortTest *port = units.at(i).port;
        if (port->status.ended())
            continue;
        units[i].interrupted = interrupted;
        ++stopped;
        const Working working(current, port);
        sequencer.stop(port, why);
    }
    for (const Unit &unit : std::as_const(units)) {
        if (unit.port->isOpen()) {
            unit.port->flush();
            unit.port->close();
        }
    }
    return stopped;
}

void UnitRunner::release()
{
    while (!units.isEmpty()) {
        PortTest *port = units.takeLast().port;
        // Closing tells this runner, and its view, of nothing more.
        QObject::disconnect(port, nullptr, this, nullptr);
        if (port->isOpen())
            port->close();
        delete port;
    }
}

int UnitRunner::indexOf(const PortTest *port) const
{
    for (int i = 0; i < count(); ++i)
        if (units.at(i).port == port)
            return i;
    return -1;
}

bool UnitRunner::allEnded() const
{
    return std::all_of(units.cbegin(), units.cend(),
        [](const Unit &unit) { return unit.port->status.ended(); });
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

void UnitRunner::sendLine(PortTest *port, char *text)
{
    if (Protocol::writeFramed(*port, port->portName(), text) == 0)
        return;
    port->writeNow();
    view.lineSent(indexOf(port));
}

void UnitRunner::sendRaw(PortTest *port, const QString &text)
{
    Protocol::writeRaw(*port, text);
    port->writeNow();
}

void UnitRunner::logJob(const QString &line)
{
    view.logLine(current != nullptr ? indexOf(current) : -1, line);
}

void UnitRunner::showUnitVersion(PortTest *port, const QString &version)
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

void UnitRunner::lineReceived(PortTest *port)
{
    const int i = indexOf(port);
    if (i >= 0)
        sampleReplies(units[i]);
    view.lineReceived(i);
}

void UnitRunner::unitChanged(PortTest *port)
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
    if (ended && !units.at(i).recorded) {
        units[i].recorded = true;
        view.unitEnded(i);
    }
}
