// zq-update: the command line of the updater. The same job engine as the
// window, without one: reads the options and the payload, checks that the job
// can start before any port is opened, then runs it on every unit.
#include "CliJob.h"
#include "CliOptions.h"
#include "CliPayload.h"
#include "Console.h"
#include "SignalRelay.h"
#include "engine/PortDiscovery.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <cstdio>

#ifndef ZQ_VERSION
#define ZQ_VERSION "0"
#endif

namespace {

constexpr int kNothingStarted = 2;

int cannotStart(const QString &message)
{
    std::fprintf(stderr, "zq-update: %s\n", qPrintable(message));
    return kNothingStarted;
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

    const CliPayload payload = CliPayload::read(options.payloadDir, options.mode);
    const QString mode = CliOptions::modeName(options.mode);
    if (!payload.problem.isEmpty())
        return cannotStart(QStringLiteral("cannot run %1: %2").arg(mode, payload.problem));
    if (options.check) {
        for (const QString &warning : payload.warnings)
            std::fprintf(stderr, "zq-update: %s\n", qPrintable(warning));
        if (!options.quiet)
            std::printf("The payload in %s can be used for %s (update version %s).\n",
                qPrintable(options.payloadDir), qPrintable(mode),
                qPrintable(payload.updateVersion));
        return 0;
    }

    QList<PortCandidate> candidates;
    if (options.ports.isEmpty()) {
        candidates = PortDiscovery::candidates();
    } else {
        for (const QString &name : std::as_const(options.ports))
            candidates.append({ QSerialPortInfo(), name });
    }
    if (candidates.isEmpty())
        return cannotStart(QStringLiteral(
            "no port found: plug in the unit's FTDI adapter, or name the port with --port "
            "(or in ZQ_UPDATER_PORTS)."));

    CliJob job(options, payload, Console::stderrIsTerminal());
    SignalRelay relay;
    QObject::connect(&relay, &SignalRelay::interrupted, &job, &CliJob::interrupt);
    QObject::connect(
        &job, &CliJob::finished, &app, [](int status) { QCoreApplication::exit(status); },
        Qt::QueuedConnection);
    job.start(candidates);
    return app.exec();
}
