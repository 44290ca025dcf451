// zq-unit-sim: puts simulated control units on pseudo-terminals for bench
// testing the updater without hardware. Prints one port path per unit and
// serves until SIGTERM or SIGINT; --report writes what each unit saw.
#include "SignalWatcher.h"
#include "SimAdapters.h"
#include "SimOptions.h"
#include "SimUnit.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <cstdio>
#include <memory>
#include <vector>

namespace {
// With --adapter, the plugs' units (SimAdapters) instead of the fixed ones.
SimAdapters *scheduled = nullptr;

QByteArray reportText(const std::vector<std::unique_ptr<SimUnit>> &units)
{
    QJsonArray list;
    for (const auto &unit : units)
        list.append(unit->report());
    if (scheduled != nullptr)
        list = scheduled->report();
    return QJsonDocument(QJsonObject { { QStringLiteral("units"), list } }).toJson();
}

void writeReport(const QString &file, const std::vector<std::unique_ptr<SimUnit>> &units)
{
    if (file.isEmpty())
        return;
    // Written whole and renamed into place, so a script polling it never reads half.
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(reportText(units)) < 0 || !out.commit())
        fprintf(stderr, "zq-unit-sim: cannot write %s\n", qPrintable(file));
}

// With --adapter: the adapters' units come and go as their plans say; the
// link of each slot is printed.
std::unique_ptr<SimAdapters> startAdapters(const SimOptions &options, const QString &dir)
{
    QList<SimAdapters::Plan> plans;
    for (const QString &text : options.adapterPlans) {
        SimAdapters::Plan plan;
        QString error;
        if (!SimAdapters::parsePlan(text, plan, error))
            SimOptions::fail(error);
        plans.append(plan);
    }
    if (dir.isEmpty())
        SimOptions::fail(QStringLiteral("--adapter needs --serial-dir"));
    auto adapters = std::make_unique<SimAdapters>(
        dir, plans, [options](int k) { return options.configFor(k); }, options.expected);
    if (!adapters->start())
        SimOptions::fail(QStringLiteral("cannot make %1").arg(dir));
    for (int k = 1; k <= plans.size(); ++k)
        printf("%s\n", qPrintable(adapters->byIdLink(k)));
    return adapters;
}

// The fixed units, each on its port; the path of each is printed.
std::unique_ptr<SimUnit> startUnit(const SimOptions &options, int k)
{
    SimConfig config = options.configFor(k);
    if (!options.devices.isEmpty())
        config.device = options.devices.at(k - 1);
    auto unit = std::make_unique<SimUnit>(config);
    if (!unit->open())
        SimOptions::fail(config.device.isEmpty()
                ? QStringLiteral("cannot open a pseudo-terminal pair")
                : QStringLiteral("cannot open %1").arg(config.device));
    unit->setExpectation(options.expected);
    printf("%s\n", qPrintable(unit->path()));
    return unit;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zq-unit-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated control units for bench testing the updater. Prints the port path of each "
        "unit (one a line) and serves until SIGTERM or SIGINT."));
    parser.addHelpOption();
    SimOptions::add(parser);
    SimAdapters::addOptions(parser);
    parser.process(app);
    const SimOptions options(parser);

    const QString &reportFile = options.reportFile;
    std::vector<std::unique_ptr<SimUnit>> units;
    std::unique_ptr<SimAdapters> adapters;
    if (!options.adapterPlans.isEmpty()) {
        adapters = startAdapters(options, parser.value(QStringLiteral("serial-dir")));
        scheduled = adapters.get();
        QObject::connect(adapters.get(), &SimAdapters::unitFinished, &app,
            [&reportFile, &units] { writeReport(reportFile, units); });
    }
    for (int k = 1; k <= options.unitCount && !adapters; ++k) {
        units.push_back(startUnit(options, k));
        QObject::connect(units.back().get(), &SimUnit::finished, &app,
            [&reportFile, &units] { writeReport(reportFile, units); });
    }
    // Catch SIGTERM before anyone learns a path: a caller may stop us as soon
    // as it has read them.
    SignalWatcher watcher;
    QObject::connect(&watcher, &SignalWatcher::terminated, &app, &QCoreApplication::quit);
    fflush(stdout);

    const int rc = app.exec();
    // Without a report file the report goes to stdout, after the paths.
    if (reportFile.isEmpty())
        fputs(reportText(units).constData(), stdout);
    else
        writeReport(reportFile, units);
    scheduled = nullptr;
    return rc;
}
