// zq-update: the command line of the updater. The same job engine as the
// window, without one: reads the options and the payload, checks that the job
// can start before any port is opened, then runs it on every unit (or, with
// --watch, on every unit plugged in until it is stopped). "zq-update list"
// shows the serial ports.
#include "CliEvents.h"
#include "CliJob.h"
#include "CliList.h"
#include "CliPackage.h"
#include "CliOptions.h"
#include "CliPayload.h"
#include "CliReport.h"
#include "CliStation.h"
#include "CliWatch.h"
#include "Console.h"
#include "SignalRelay.h"
#include "ToolVersion.h"
#include "engine/Adapter.h"
#include "engine/PortDiscovery.h"
#include "engine/PortProblem.h"
#include "engine/UnitRecord.h"
#include "payload/SealedFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonObject>
#include <QLoggingCategory>
#include <cstdio>

namespace {

constexpr int kNothingStarted = 2;

int cannotStart(const QString &message)
{
    std::fprintf(stderr, "zq-update: %s\n", qPrintable(message));
    return kNothingStarted;
}

// A run that got past its options and was refused: the report and the events
// say why, so a line controller that reads them sees it.
int refuse(const CliOptions &options, const CliEvents &events, const QString &message)
{
    if (!options.reportFile.isEmpty()) {
        CliReport report;
        report.toolVersion = QCoreApplication::applicationVersion();
        report.mode = CliOptions::modeName(options.mode);
        report.payloadDir = options.packageFile.isEmpty() ? options.payloadDir : QString();
        report.package = options.packageFile;
        report.started = report.ended = QDateTime::currentDateTimeUtc();
        report.refusal = message;
        report.exitStatus = kNothingStarted;
        QString error;
        if (!report.write(options.reportFile, error))
            std::fprintf(stderr, "zq-update: could not write the report %s: %s\n",
                qPrintable(options.reportFile), qPrintable(error));
    }
    events.emitEvent(QStringLiteral("refused"),
        QJsonObject { { QStringLiteral("reason"), message },
            { QStringLiteral("exitStatus"), kNothingStarted } });
    return cannotStart(message);
}

// The adapter identity of a port given by name or found by the scan.
CliTarget targetFor(const PortCandidate &candidate, const QList<Adapter> &adapters)
{
    CliTarget t;
    t.candidate = candidate;
    t.device = PortProblem::devicePath(
        candidate.name.isEmpty() ? candidate.info.systemLocation() : candidate.name);
    for (const Adapter &a : adapters) {
        if (a.device == t.device) {
            t.serial = a.serial;
            t.location = a.location;
        }
    }
    return t;
}

} // namespace

int main(int argc, char *argv[])
{
    // Qt's own event dispatcher rather than glib's: every reply is one pass of
    // the event loop, and glib's wakes itself through an eventfd (a write and a
    // read more a line) each time the port's write notifier is switched.
    if (qEnvironmentVariableIsEmpty("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zq-update"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZQ_VERSION));
    // The diagnostic log (a line per command, the port scan) is the window's
    // debugging aid; here it would bury the progress. QT_LOGGING_RULES still
    // turns it on.
    QLoggingCategory::setFilterRules(QStringLiteral("zq.*=false\ndefault.debug=false"));

    CliOptions options;
    QString error;
    if (!options.parse(app, error))
        return cannotStart(error + QStringLiteral("\nRun zq-update --help for the options."));

    const CliEvents events(options.events);
    if (options.list) {
        const QList<Adapter> adapters = Adapter::scan();
        const QByteArray out = options.json ? CliList::json(adapters) : CliList::text(adapters);
        std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), stdout);
        return 0;
    }

    if (options.verify) {
        const QString problem = CliPackage::verify(options);
        return problem.isEmpty() ? 0 : refuse(options, events, problem);
    }
    SealedFile packageFirmware; // a package's fw1.bin, in memory while the job runs
    const CliPayload payload = CliPackage::read(options, packageFirmware);
    const QString mode = CliOptions::modeName(options.mode);
    if (!payload.problem.isEmpty())
        return refuse(options, events, QStringLiteral("cannot run %1: %2").arg(mode, payload.problem));
    if (options.check) {
        for (const QString &warning : payload.warnings)
            std::fprintf(stderr, "zq-update: %s\n", qPrintable(warning));
        if (!options.quiet)
            std::printf("The payload in %s can be used for %s (update version %s).\n",
                qPrintable(options.packageFile.isEmpty() ? options.payloadDir : options.packageFile),
                qPrintable(mode),
                qPrintable(payload.updateVersion));
        return 0;
    }

    CliStation station;
    QStringList plainPorts;
    if (!options.stationFile.isEmpty() && !station.readFile(options.stationFile, error))
        return refuse(options, events, error);
    if (!station.takePorts(options.ports, plainPorts, error))
        return refuse(options, events, error);

    // Slots are matched before anything is sent: adapters that can't be told
    // apart stop the run here. Watching, they hold the slots they confuse
    // while they last: the watch says so and starts the others.
    const QList<Adapter> adapters = Adapter::scan();
    QList<CliTarget> targets;
    QStringList missing;
    if (!options.watch && !station.isEmpty()
        && !station.resolve(adapters, targets, missing, error))
        return refuse(options, events, error);
    if (options.watch) {
        targets.clear(); // the watch starts each one as it sees it
    } else {
        for (const QString &name : std::as_const(plainPorts))
            targets.append(targetFor({ QSerialPortInfo(), name }, adapters));
        if (station.isEmpty() && plainPorts.isEmpty()) {
            const QList<PortCandidate> candidates = PortDiscovery::candidates();
            for (const PortCandidate &candidate : candidates)
                targets.append(targetFor(candidate, adapters));
        }
        if (targets.isEmpty())
            return refuse(options, events,
                station.isEmpty()
                    ? QStringLiteral("no port found: plug in the unit's FTDI adapter, or name the "
                                     "port with --port (or in ZQ_UPDATER_PORTS).")
                    : QStringLiteral("no slot's adapter is plugged in (%1): check the "
                                     "adapters, or run zq-update list.")
                          .arg(missing.join(QStringLiteral(", "))));
        for (const QString &slot : std::as_const(missing))
            std::fprintf(stderr, "zq-update: slot %s: its adapter is not plugged in; skipped.\n",
                qPrintable(slot));
    }

    QStringList imagePaths;
    for (const ImageRecord &image : payload.inputs.images)
        imagePaths << image.fileName;
    const UnitRecord::Update update = options.packageFile.isEmpty()
        ? UnitRecord::describe(options.mode, payload.updateVersion, payload.inputs.firmwarePath,
            options.payloadDir, imagePaths)
        : CliPackage::describe(options, payload);

    CliJob job(options, payload, update, events, Console::stderrIsTerminal());
    SignalRelay relay;
    QObject::connect(&relay, &SignalRelay::interrupted, &job, &CliJob::interrupt);
    QObject::connect(
        &job, &CliJob::finished, &app, [](int status) { QCoreApplication::exit(status); },
        Qt::QueuedConnection);
    job.setWatching(options.watch);
    job.start(targets);
    CliWatch watch(job, station, plainPorts);
    if (options.watch)
        watch.start();
    return app.exec();
}
