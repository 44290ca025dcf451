#include "engine/StationWatch.h"

#include "engine/Adapter.h"
#include "engine/PortProblem.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

StationWatch::StationWatch(
    StationHost &h, const StationFile &s, const QStringList &plain, QObject *parent)
    : QObject(parent)
    , host(h)
    , station(s)
    , plainPorts(plain)
{
    timer.setInterval(kPollMs);
    connect(&timer, &QTimer::timeout, this, &StationWatch::poll);
}

void StationWatch::start()
{
    poll();
    timer.start();
}

void StationWatch::stop()
{
    stopping = true;
}

// The links of the stable-name folder with their targets, and which named
// ports exist: what changes when an adapter comes or goes.
QStringList StationWatch::linkSignature() const
{
    QStringList signature;
    const QDir dir(Adapter::serialDir());
    for (const char *kind : { "by-id", "by-path" }) {
        const QDir links(dir.filePath(QLatin1String(kind)));
        const QStringList names
            = links.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names)
            signature << name + QLatin1Char('>') + QFileInfo(links.filePath(name)).symLinkTarget();
    }
    for (const QString &port : plainPorts)
        signature << port + (QFileInfo::exists(PortProblem::devicePath(port)) ? "+" : "-");
    return signature;
}

void StationWatch::poll()
{
    const QStringList signature = linkSignature();
    if (looked && signature == lastSignature) {
        if (!holds.isEmpty() && shown.hasExpired(kRepeatMs))
            hold(holds);
        return;
    }
    looked = true;
    lastSignature = signature;
    reconcile();
}

// The units plugged in now: the slots that have their adapter (a held slot's
// own while it is plugged in), or the adapters named or taken unasked.
QList<UnitTarget> StationWatch::targetsNow()
{
    const QList<Adapter> adapters = Adapter::scan();
    QList<UnitTarget> targets;
    if (!station.isEmpty()) {
        QStringList missing;
        QString refusal;
        QList<StationFile::Hold> held;
        if (!station.resolve(adapters, targets, missing, refusal, &held)) {
            targets.clear(); // no slot can be told from that adapter
            held = { { QString(), refusal } };
        }
        // A held slot starts no job; one it runs goes on while its adapter is there.
        for (auto it = active.cbegin(); it != active.cend(); ++it) {
            const bool isHeld = std::any_of(held.cbegin(), held.cend(),
                [&it](const StationFile::Hold &h) { return h.slot.isEmpty() || h.slot == it.key(); });
            const bool plugged = std::any_of(adapters.cbegin(), adapters.cend(),
                [&it](const Adapter &a) { return a.device == it->device; });
            if (isHeld && plugged) {
                UnitTarget kept;
                kept.slot = it.key();
                kept.device = it->device;
                targets.append(kept);
            }
        }
        hold(held);
    } else {
        for (const Adapter &a : adapters) {
            const bool named = plainPorts.isEmpty()
                ? a.pickedUnnamed
                : std::any_of(plainPorts.cbegin(), plainPorts.cend(), [&a](const QString &p) {
                      return PortProblem::devicePath(p) == a.device;
                  });
            if (!named)
                continue;
            targets.append(UnitTarget::of(a));
        }
        for (const QString &port : plainPorts) { // a port without adapter identity
            const QString device = PortProblem::devicePath(port);
            const bool listed = std::any_of(targets.cbegin(), targets.cend(),
                [&device](const UnitTarget &t) { return t.device == device; });
            if (!listed && QFileInfo::exists(device)) {
                UnitTarget t;
                t.port = port;
                t.device = device;
                targets.append(t);
            }
        }
    }
    return targets;
}

void StationWatch::reconcile()
{
    const QList<UnitTarget> targets = targetsNow();
    const auto keyOf = [](const UnitTarget &t) { return t.slot.isEmpty() ? t.device : t.slot; };
    for (auto it = active.begin(); it != active.end();) {
        const bool present = std::any_of(targets.cbegin(), targets.cend(),
            [&](const UnitTarget &t) { return keyOf(t) == it.key() && t.device == it->device; });
        if (present) {
            ++it;
            continue;
        }
        host.adapterGone(it->unit);
        it = active.erase(it);
    }
    if (stopping)
        return;
    int started = 0;
    for (const UnitTarget &t : std::as_const(targets)) {
        if (active.contains(keyOf(t)))
            continue;
        if (++started > kStartsPerPass) {
            QTimer::singleShot(0, this, &StationWatch::reconcile);
            return;
        }
        active.insert(keyOf(t), Active { host.addUnit(t), t.device });
    }
}

// Shows each hold when the holds changed, and again every kRepeatMs while
// they last.
void StationWatch::hold(const QList<StationFile::Hold> &held)
{
    const auto same = [](const QList<StationFile::Hold> &a, const QList<StationFile::Hold> &b) {
        return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(),
            [](const StationFile::Hold &x, const StationFile::Hold &y) {
                return x.slot == y.slot && x.reason == y.reason;
            });
    };
    if (same(held, holds) && (holds.isEmpty() || !shown.hasExpired(kRepeatMs)))
        return;
    for (const StationFile::Hold &h : held) {
        const QString message = h.slot.isEmpty()
            ? h.reason + QStringLiteral(" No job starts until that is put right.")
            : QStringLiteral("%1 No job starts in slot %2 until that is put right.")
                  .arg(h.reason, h.slot);
        const bool shownBefore = std::any_of(holds.cbegin(), holds.cend(),
            [&h](const StationFile::Hold &o) { return o.slot == h.slot && o.reason == h.reason; });
        host.slotHeld(h.slot, message, shownBefore);
    }
    const bool changed = !same(held, holds);
    holds = held;
    shown.start();
    if (changed)
        host.holdsNow(holds);
}
