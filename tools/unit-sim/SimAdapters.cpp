#include "SimAdapters.h"

#include "SimUnit.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QJsonObject>

namespace {
constexpr int kScheduleTickMs = 20;
}

bool SimAdapters::parsePlan(const QString &text, Plan &plan, QString &error)
{
    plan = Plan();
    bool anyPlug = false;
    for (const QString &part : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const int eq = part.indexOf(QLatin1Char('='));
        const QString key = part.left(eq);
        const QString value = eq < 0 ? QString() : part.mid(eq + 1);
        if (key == QLatin1String("serial")) {
            plan.serial = value;
        } else if (key == QLatin1String("port") && !value.isEmpty()) {
            plan.port = value;
        } else if (key == QLatin1String("plugs")) {
            for (const QString &range : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                const QStringList ends = range.split(QLatin1Char('-'));
                bool ok1 = false;
                bool ok2 = true;
                const qint64 from = ends.value(0).toLongLong(&ok1);
                const qint64 to = ends.value(1).isEmpty() ? -1 : ends.value(1).toLongLong(&ok2);
                if (ends.size() != 2 || !ok1 || !ok2 || from < 0 || (to >= 0 && to <= from)) {
                    error = QStringLiteral("plugs takes FROM-TO or FROM- ranges in ms, not %1").arg(range);
                    return false;
                }
                plan.plugs.append({ from, to });
                anyPlug = true;
            }
        } else {
            error = QStringLiteral("an adapter is given as \"serial=S port=P plugs=0-5000,8000-\", "
                                   "not %1")
                        .arg(text);
            return false;
        }
    }
    if (!anyPlug)
        plan.plugs.append({ 0, -1 });
    return true;
}

void SimAdapters::addOptions(QCommandLineParser &parser)
{
    parser.addOption(QCommandLineOption(QStringLiteral("serial-dir"),
        QStringLiteral("With --adapter: the folder for the adapters' by-id and by-path links "
                       "(point the tool at it with ZQ_SERIAL_DIR)."),
        QStringLiteral("dir")));
    parser.addOption(QCommandLineOption(QStringLiteral("adapter"),
        QStringLiteral("A USB adapter plugged in and out on a schedule, in place of --units: "
                       "\"serial=S port=P plugs=0-5000,8000-\" (ms since start; a fresh unit "
                       "each plug; serial= blank: no serial number). Repeatable; "
                       "--fault-units counts adapters."),
        QStringLiteral("plan")));
}

SimAdapters::SimAdapters(const QString &serialDir, const QList<Plan> &s,
    std::function<SimConfig(int)> config, const SimExpectation &e, QObject *parent)
    : QObject(parent)
    , dir(serialDir)
    , plans(s)
    , configFor(std::move(config))
    , expected(e)
{
    for (int k = 0; k < plans.size(); ++k)
        pluggedIndex.append(-1);
    timer.setInterval(kScheduleTickMs);
    connect(&timer, &QTimer::timeout, this, &SimAdapters::tick);
}

SimAdapters::~SimAdapters()
{
    for (int k = 1; k <= plans.size(); ++k)
        unplug(k);
}

QString SimAdapters::byIdLink(int k) const
{
    // Ports that share a serial number are told apart by their interface, as
    // on a dual-port adapter.
    const Plan &s = plans.at(k - 1);
    int interface = 0;
    for (int before = 0; before < k - 1; ++before)
        interface += plans.at(before).serial == s.serial ? 1 : 0;
    return QStringLiteral("%1/by-id/usb-FTDI_FT232R_USB_UART_%2-if%3-port0")
        .arg(dir, s.serial)
        .arg(interface, 2, 10, QLatin1Char('0'));
}

QString SimAdapters::byPathLink(int k) const
{
    const Plan &s = plans.at(k - 1);
    return QStringLiteral("%1/by-path/pci-0000:00:14.0-usb-0:%2:1.0-port0").arg(dir, s.port);
}

bool SimAdapters::start()
{
    if (!QDir().mkpath(dir + QStringLiteral("/by-id"))
        || !QDir().mkpath(dir + QStringLiteral("/by-path")))
        return false;
    clock.start();
    tick();
    timer.start();
    return true;
}

void SimAdapters::tick()
{
    const qint64 now = clock.elapsed();
    for (int k = 1; k <= plans.size(); ++k) {
        bool due = false;
        for (const auto &range : plans.at(k - 1).plugs)
            due = due || (now >= range.first && (range.second < 0 || now < range.second));
        // A plug that ended and the next that starts in the same tick: out first.
        const int at = pluggedIndex.at(k - 1);
        if (at >= 0 && !due)
            unplug(k);
        else if (at < 0 && due)
            plug(k);
    }
}

void SimAdapters::plug(int k)
{
    Plugged p;
    p.adapter = k;
    for (const Plugged &before : plugs)
        p.plug += before.adapter == k ? 1 : 0;
    ++p.plug;
    SimConfig config = configFor(k);
    config.seed += static_cast<quint32>(100 * (p.plug - 1));
    p.unit = std::make_unique<SimUnit>(config);
    if (!p.unit->open()) {
        fprintf(stderr, "zq-unit-sim: cannot open a pseudo-terminal pair\n");
        return;
    }
    p.unit->setExpectation(expected);
    connect(p.unit.get(), &SimUnit::finished, this, &SimAdapters::unitFinished);
    p.present = true;
    // The links appear once the device is there, as udev makes them.
    for (const QString &link : { byIdLink(k), byPathLink(k) }) {
        QFile::remove(link);
        QFile::link(p.unit->path(), link);
    }
    plugs.push_back(std::move(p));
    pluggedIndex[k - 1] = static_cast<int>(plugs.size()) - 1;
}

void SimAdapters::unplug(int k)
{
    const int at = pluggedIndex.at(k - 1);
    if (at < 0)
        return;
    QFile::remove(byIdLink(k));
    QFile::remove(byPathLink(k));
    plugs[at].unit->unplug();
    plugs[at].present = false;
    pluggedIndex[k - 1] = -1;
}

QJsonArray SimAdapters::report() const
{
    QJsonArray list;
    for (const Plugged &p : plugs) {
        QJsonObject o = p.unit->report();
        o.insert(QStringLiteral("serial"), plans.at(p.adapter - 1).serial);
        o.insert(QStringLiteral("adapter"), p.adapter);
        o.insert(QStringLiteral("plug"), p.plug);
        list.append(o);
    }
    return list;
}
