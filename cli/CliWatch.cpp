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
    if (looked && signature == lastSignature)
        return;
    looked = true;
    lastSignature = signature;
    reconcile();
}

void CliWatch::reconcile()
{
    const QList<Adapter> adapters = Adapter::scan();
    QList<CliTarget> targets;
    if (!station.isEmpty()) {
        QStringList missing;
        QString refusal;
        if (!station.resolve(adapters, targets, missing, refusal)) {
            if (refusal != lastRefusal)
                Console::writeErr(QStringLiteral("zq-update: %1 No job starts until that is put right.\n")
                                      .arg(Console::shown(refusal))
                                      .toLocal8Bit());
            lastRefusal = refusal;
            targets.clear();
            // Slots already running go on; none is started while it lasts.
            for (auto it = active.cbegin(); it != active.cend(); ++it) {
                CliTarget kept;
                kept.slot = it.key();
                kept.device = it.value().device;
                targets.append(kept);
            }
        } else {
            lastRefusal.clear();
        }
    } else {
        for (const Adapter &a : adapters) {
            const bool named = plainPorts.isEmpty()
                ? a.taken
                : std::any_of(plainPorts.cbegin(), plainPorts.cend(), [&a](const QString &p) {
                      return PortProblem::devicePath(p) == a.device;
                  });
            if (!named)
                continue;
            CliTarget t;
            t.candidate.name = a.device;
            t.device = a.device;
            t.serial = a.serial;
            t.location = a.location;
            targets.append(t);
        }
        for (const QString &port : plainPorts) { // a port without adapter identity
            const QString device = PortProblem::devicePath(port);
            const bool listed = std::any_of(targets.cbegin(), targets.cend(),
                [&device](const CliTarget &t) { return t.device == device; });
            if (!listed && QFileInfo::exists(device)) {
                CliTarget t;
                t.candidate.name = port;
                t.device = device;
                targets.append(t);
            }
        }
    }

    const auto keyOf = [](const CliTarget &t) { return t.slot.isEmpty() ? t.device : t.slot; };
    for (auto it = active.begin(); it != active.end();) {
        const bool present = std::any_of(targets.cbegin(), targets.cend(),
            [&](const CliTarget &t) { return keyOf(t) == it.key() && t.device == it->device; });
        if (present) {
            ++it;
            continue;
        }
        job.adapterGone(it->unit);
        it = active.erase(it);
    }
    int started = 0;
    for (const CliTarget &t : std::as_const(targets)) {
        if (active.contains(keyOf(t)))
            continue;
        if (++started > kStartsPerPass) {
            QTimer::singleShot(0, this, &CliWatch::reconcile);
            return;
        }
        active.insert(keyOf(t), Active { job.addUnit(t), t.device });
    }
}
