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
#include "engine/JobPayload.h"
#include "engine/UnitTarget.h"
#include "engine/UpdateSource.h"
#include "CliReport.h"
#include "engine/StationFile.h"
#include "engine/StationWatch.h"
#include "Console.h"
#include "SignalRelay.h"
#include "ToolVersion.h"
#include "engine/Adapter.h"
#include "engine/FileWrite.h"
#include "engine/PortDiscovery.h"
#include "engine/PortProblem.h"
#include "engine/UnitRecord.h"
#include "payload/InputFiles.h"
#ifdef ZQ_HAVE_RECORDS
#include "CliHistory.h"
#include "records/RecordKeeper.h"
#endif

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <utility>
#include <QJsonObject>
#include <QLoggingCategory>

namespace {

constexpr int kNothingStarted = 2;

int cannotStart(const QString &message)
{
    Console::writeErr(
        QStringLiteral("zq-update: %1\n").arg(Console::shown(message, true)).toLocal8Bit());
    return kNothingStarted;
}

// Why the --report or --log file can't be written by this run: a link, a FIFO
// or a device, a folder that is missing or can't be written, a file the run
// reads (every input read so far, as InputFiles noted it, and those it names),
// or the one file named for both. Checked before anything is written or sent.
QString outputProblem(const CliOptions &options, const JobPayload &payload)
{
    QStringList inputs = InputFiles::all();
    inputs << payload.firmwarePath << options.payloadDir + QStringLiteral("/settings.json")
           << options.stationFile << options.packageFile << options.keyFiles;
    for (const ImageRecord &image : payload.inputs.images)
        inputs << image.fileName;
    inputs.removeAll(QString());
    const QList<std::pair<QString, QString>> outputs { { QStringLiteral("--report"), options.reportFile },
        { QStringLiteral("--log"), options.logFile } };
    for (const auto &output : outputs) {
        if (output.second.isEmpty())
            continue;
        const QString problem = FileWrite::outputProblem(output.second,
            output.first == QLatin1String("--log") ? FileWrite::Writing::Append
                                                   : FileWrite::Writing::Replace);
        if (!problem.isEmpty())
            return QStringLiteral("%1: %2.").arg(output.first, problem);
        for (const QString &input : std::as_const(inputs))
            if (FileWrite::sameFile(output.second, input))
                return QStringLiteral("%1 %2 is %3, which this run reads: name another file.")
                    .arg(output.first, output.second, input);
    }
    if (!options.reportFile.isEmpty() && !options.logFile.isEmpty()
        && FileWrite::sameFile(options.reportFile, options.logFile))
        return QStringLiteral("--report and --log both name %1: the report would replace the "
                              "log. Name two files.")
            .arg(options.reportFile);
    return QString();
}

// A run that got past its options and was refused: the report and the events
// say why, so a line controller that reads them sees it.
int refuse(const CliOptions &options, const CliEvents &events, const QString &message)
{
    if (!options.reportFile.isEmpty()) {
        CliReport report = CliReport::forRun(options);
        report.started = report.ended = QDateTime::currentDateTimeUtc();
        report.refusal = message;
        report.exitStatus = kNothingStarted;
        QString error;
        if (!report.write(options.reportFile, error))
            Console::writeErr(QStringLiteral("zq-update: could not write the report %1: %2\n")
                                  .arg(Console::shown(options.reportFile), Console::shown(error))
                                  .toLocal8Bit());
    }
    events.emitEvent(QStringLiteral("refused"),
        QJsonObject { { QStringLiteral("reason"), message },
            { QStringLiteral("exitStatus"), kNothingStarted } });
    return cannotStart(message);
}

// A signal that came while the payload was read and checked: the run ends
// with its report before any port is opened.
void reportSignalBeforeStart(const CliOptions &options, const CliEvents &events, int sig)
{
    CliReport report;
    report.toolVersion = QCoreApplication::applicationVersion();
    report.mode = UpdateModes::name(options.mode);
    report.payloadDir = options.payloadDir;
    report.started = report.ended = QDateTime::currentDateTimeUtc();
    report.interrupted = true;
    report.exitStatus = SignalRelay::exitStatus(sig);
    QString error;
    if (!options.reportFile.isEmpty() && !report.write(options.reportFile, error))
        Console::writeErr(QStringLiteral("zq-update: could not write the report %1: %2\n")
                              .arg(Console::shown(options.reportFile), Console::shown(error))
                              .toLocal8Bit());
    Console::writeErr("zq-update: interrupted before any port was opened; no unit was "
                      "touched.\n");
    events.emitEvent(QStringLiteral("finished"),
        QJsonObject { { QStringLiteral("exitStatus"), report.exitStatus },
            { QStringLiteral("recordsNotWritten"), 0 } });
}

// --check: the payload can be used; its warnings on standard error.
int checkOnly(const CliOptions &options, const JobPayload &payload)
{
    for (const QString &warning : payload.warnings)
        Console::writeErr(
            QStringLiteral("zq-update: %1\n").arg(Console::shown(warning)).toLocal8Bit());
    if (!options.quiet)
        Console::writeOut(
            QStringLiteral("The payload in %1 can be used for %2 (update version %3).\n")
                .arg(Console::shown(
                         options.packageFile.isEmpty() ? options.payloadDir : options.packageFile),
                    UpdateModes::name(options.mode), Console::shown(payload.updateVersion))
                .toLocal8Bit());
    return 0;
}

// The station (--station, --port serial: and location:) and the plain ports
// named; without --watch the units to start: the station's slots that have
// their adapter, the ports named, or else every port found. Watching, the
// watch starts each unit as it sees it, and adapters that can't be told apart
// hold the slots they confuse while they last. Returns why the run can't
// start; empty when it can.
QString chooseUnits(const CliOptions &options, StationFile &station, QStringList &plainPorts,
    QList<UnitTarget> &targets)
{
    QString error;
    if ((!options.stationFile.isEmpty() && !station.readFile(options.stationFile, error))
        || !station.takePorts(options.ports, plainPorts, error))
        return error;
    if (options.watch)
        return QString();
    // Slots are matched before anything is sent: adapters that can't be told
    // apart stop the run here.
    const QList<Adapter> adapters = Adapter::scan();
    QStringList missing;
    if (!station.isEmpty() && !station.resolve(adapters, targets, missing, error))
        return error;
    // One device named twice (/dev/pts/6 and pts/6) is one unit.
    for (const QString &name : plainPorts) {
        const UnitTarget t = UnitTarget::of(name, adapters);
        if (std::none_of(targets.cbegin(), targets.cend(),
                [&t](const UnitTarget &other) { return other.device == t.device; }))
            targets.append(t);
    }
    if (station.isEmpty() && plainPorts.isEmpty()) {
        targets += PortDiscovery::unasked(adapters);
    }
    if (targets.isEmpty())
        return station.isEmpty()
            ? QStringLiteral("no port found: plug in the unit's FTDI adapter, or name the "
                             "port with --port (or in ZQ_UPDATER_PORTS).")
            : QStringLiteral("no slot's adapter is plugged in (%1): check the "
                             "adapters, or run zq-update list.")
                  .arg(missing.join(QStringLiteral(", ")));
    for (const QString &slot : std::as_const(missing))
        Console::writeErr(
            QStringLiteral("zq-update: slot %1: its adapter is not plugged in; skipped.\n")
                .arg(Console::shown(slot))
                .toLocal8Bit());
    return QString();
}

// Not even the report can be written: the events and standard error say it.
int refuseUnwritable(const CliEvents &events, const QString &why)
{
    events.emitEvent(QStringLiteral("refused"),
        QJsonObject { { QStringLiteral("reason"), why },
            { QStringLiteral("exitStatus"), kNothingStarted } });
    return cannotStart(why);
}

// The run after its options: the payload read and checked, the units chosen,
// then the jobs until they end (or, watching, until the run is stopped).
int run(const CliOptions &options, const CliEvents &events)
{
    // Ctrl-C or SIGTERM while the payload is read and checked: taken when the
    // check is done, and the run ends with its report before any port is opened.
    SignalRelay relay;
    int signalBeforeStart = 0;
    const QMetaObject::Connection early = QObject::connect(&relay, &SignalRelay::interrupted,
        [&signalBeforeStart](int sig) { signalBeforeStart = sig; });
    // A closed terminal (SIGHUP) ends no job: it is noted once, and the run
    // goes on to its report and its records.
    bool terminalNoted = false;
    QObject::connect(&relay, &SignalRelay::terminalLost, [&terminalNoted] {
        if (std::exchange(terminalNoted, true))
            return;
        Console::writeErr("zq-update: the terminal was closed (SIGHUP); the run goes on, and "
                          "its report and records are written at the end.\n");
    });
    const auto interruptedBeforeStart = [&]() {
        QCoreApplication::processEvents(); // the signals that came meanwhile
        if (signalBeforeStart == 0)
            return false;
        reportSignalBeforeStart(options, events, signalBeforeStart);
        return true;
    };

    UpdateSource package; // the package opened, when one is named
    JobPayload payload = CliPackage::read(options, package);
    const QString outputs = outputProblem(options, payload);
    if (!outputs.isEmpty())
        return refuseUnwritable(events, outputs);
    if (interruptedBeforeStart())
        return SignalRelay::exitStatus(signalBeforeStart);
    if (payload.problem)
        return refuse(options, events,
            QStringLiteral("cannot run %1: %2")
                .arg(UpdateModes::name(options.mode), payload.problem.message));
    if (options.check)
        return checkOnly(options, payload);

    StationFile station;
    QStringList plainPorts;
    QList<UnitTarget> targets;
    const QString refusal = chooseUnits(options, station, plainPorts, targets);
    if (!refusal.isEmpty())
        return refuse(options, events, refusal);
    // The jobs send fw1.bin's bytes as read and checked, and the records give
    // their digest: a fw1.bin replaced meanwhile is neither sent half nor
    // recorded wrongly.
    const UnitRecord::Update update = payload.update();

    CliJob job(options, payload, update, events, Console::stderrIsTerminal());
#ifdef ZQ_HAVE_RECORDS
    // Each record goes into the records database too; one that can't be
    // used is said once, and the jobs run with --log and the report alone.
    RecordsConfig recordsConfig;
    QString recordsError;
    if (!RecordsConfig::load(options.recordsUrl, recordsConfig, recordsError))
        return refuse(options, events, recordsError);
    RecordKeeper records;
    QObject::connect(&records, &RecordKeeper::note, &records,
        [](const QString &line) { Console::writeErr(QStringLiteral("zq-update: %1\n").arg(line).toLocal8Bit()); },
        Qt::DirectConnection);
    if (records.open(recordsConfig, recordsError))
        job.setRecordSink([&records](const QJsonObject &record, QString &why) { return records.add(record, why); });
    else
        Console::writeErr(QStringLiteral("zq-update: %1. The jobs run; each unit's record goes only "
                                         "to %2.\n")
                              .arg(Console::shown(recordsError),
                                  options.logFile.isEmpty() ? QStringLiteral("the report")
                                                            : QStringLiteral("--log and the report"))
                              .toLocal8Bit());
#else
    if (!options.quiet)
        Console::writeErr("zq-update: this build keeps no records database (built without Qt "
                          "SQL): each unit's record goes only to --log and the report.\n");
#endif
    if (interruptedBeforeStart())
        return SignalRelay::exitStatus(signalBeforeStart);
    QObject::disconnect(early);
    QObject::connect(&relay, &SignalRelay::interrupted, &job, &CliJob::interrupt);
    QObject::connect(
        &job, &CliJob::finished, QCoreApplication::instance(),
        [](int status) { QCoreApplication::exit(status); }, Qt::QueuedConnection);
    job.setWatching(options.watch);
    job.setTimeout(options.timeoutSeconds);
    job.start(targets);
    StationWatch watch(job, station, plainPorts);
    if (options.watch)
        watch.start();
    const int status = QCoreApplication::exec();
#ifdef ZQ_HAVE_RECORDS
    const int left = records.finish();
    if (left > 0)
        Console::writeErr(QStringLiteral("zq-update: records: %1 record(s) wait in the local outbox "
                                         "for the server %2; they go on the next run or with "
                                         "\"zq-update records sync\".\n")
                              .arg(left)
                              .arg(recordsConfig.server)
                              .toLocal8Bit());
#endif
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // A reader that goes away (| head) ends no job: writes to it just fail.
    SignalRelay::ignoreBrokenPipe();
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
        Console::writeOut(out);
        return 0;
    }

    if (options.history || options.recordsSync || !options.importFile.isEmpty()) {
#ifdef ZQ_HAVE_RECORDS
        return options.history ? CliHistory::history(options)
            : options.recordsSync ? CliHistory::sync(options)
                                  : CliHistory::import(options);
#else
        return cannotStart(QStringLiteral("this build keeps no records database (built without Qt "
                                          "SQL): each unit's record goes only to --log and the report."));
#endif
    }
    if (options.verify) {
        const Problem problem = CliPackage::verify(options);
        return problem ? refuse(options, events, problem.message) : 0;
    }
    return run(options, events);
}
