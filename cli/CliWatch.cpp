#include "CliWatch.h"

#include "CliJob.h"
#include "Console.h"
#include "engine/Adapter.h"
#include "engine/PortProblem.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

CliWatch::CliWatch(
    CliJob &j, const CliStation &s, const QStringList &plain, QObject *parent)
    : QObject(parent)
    , job(j)
    , station(s)
    , plainPorts(plain)
{
    timer.setInterval(kPollMs);
    connect(&timer, &QTimer::timeout, this, &CliWatch::poll);
}

void CliWatch::start()
{
    poll();
    timer.start();
}

// The links of the stable-name folder with their targets, and which named
// ports exist: what changes when an adapter comes or goes.
QStringList CliWatch::linkSignature() const
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

void CliWatch::poll()
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
QList<UnitTarget> CliWatch::targetsNow()
{
    const QList<Adapter> adapters = Adapter::scan();
    QList<UnitTarget> targets;
    if (!station.isEmpty()) {
        QStringList missing;
        QString refusal;
        QList<CliStation::Hold> held;
        if (!station.resolve(adapters, targets, missing, refusal, &held)) {
            targets.clear(); // no slot can be told from that adapter
            held = { { QString(), refusal } };
        }
        // A held slot starts no job; one it runs goes on while its adapter is there.
        for (auto it = active.cbegin(); it != active.cend(); ++it) {
            const bool isHeld = std::any_of(held.cbegin(), held.cend(),
                [&it](const CliStation::Hold &h) { return h.slot.isEmpty() || h.slot == it.key(); });
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

void CliWatch::reconcile()
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
        job.adapterGone(it->unit);
        it = active.erase(it);
    }
    int started = 0;
    for (const UnitTarget &t : std::as_const(targets)) {
        if (active.contains(keyOf(t)))
            continue;
        if (++started > kStartsPerPass) {
            QTimer::singleShot(0, this, &CliWatch::reconcile);
            return;
        }
        active.insert(keyOf(t), Active { job.addUnit(t), t.device });
    }
}

// Shows each hold when the holds changed, and again every kRepeatMs while
// they last.
void CliWatch::hold(const QList<CliStation::Hold> &held)
{
    const auto same = [](const QList<CliStation::Hold> &a, const QList<CliStation::Hold> &b) {
        return std::equal(a.cbegin(), a.cend(), b.cbegin(), b.cend(),
            [](const CliStation::Hold &x, const CliStation::Hold &y) {
                return x.slot == y.slot && x.reason == y.reason;
            });
    };
    if (same(held, holds) && (holds.isEmpty() || !shown.hasExpired(kRepeatMs)))
        return;
    for (const CliStation::Hold &h : held) {
        const QString message = h.slot.isEmpty()
            ? h.reason + QStringLiteral(" No job starts until that is put right.")
            : QStringLiteral("%1 No job starts in slot %2 until that is put right.")
                  .arg(h.reason, h.slot);
        const bool shownBefore = std::any_of(holds.cbegin(), holds.cend(),
            [&h](const CliStation::Hold &o) { return o.slot == h.slot && o.reason == h.reason; });
        job.slotHeld(h.slot, message, shownBefore);
    }
    holds = held;
    shown.start();
}
