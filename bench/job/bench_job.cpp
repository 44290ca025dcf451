// Whole-job benchmark: the firmware-and-images job (mode 0) end to end against
// simulated units run by zq-unit-sim in a child process, so this process's CPU
// time is the tool's own. The tool is the window's dialog in this process, or
// with --front cli the command line (zq-update) in a second child process,
// whose own CPU time is then the tool's. Prints, per run: job time, the
// capture-to-"$X" time against the wire-time bound, lines per second, the
// tool's CPU per line, and the lines sent against the lines needed (resends).
#include "PayloadWriter.h"
#include "window/DialogBootload.h"
#include "payload/UpdateMode.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#ifndef ZQ_UNIT_SIM
#define ZQ_UNIT_SIM "zq-unit-sim"
#endif
#ifndef ZQ_UPDATE
#define ZQ_UPDATE "zq-update"
#endif

namespace {

constexpr double kBootloaderBaud = 921600;

// Lines one unit needs from the capture to "$X": "$G", 223 sectors of "$E",
// 64 "$D" and "$P", two image headers with 611 and 284 chunks, "$X".
constexpr int kSectors = 223;
constexpr int kLinesNeeded = 1 + kSectors * (1 + 64 + 1) + 2 + 611 + 284 + 1;

struct RunConfig {
    int units = 1;
    bool pace = false;
    double latencyMs = 0;
    bool show = true;
    int timeoutS = 900;
    QString simProgram;
    QStringList simArgs; // --faults
    bool cli = false; // the command line instead of the dialog
    QString cliProgram;
};

struct RunResult {
    bool ok = false; // every unit updated, no problem, "$X" received
    QString why;
    double jobS = 0; // dialog built to every closing line
    double captureToExitS = 0; // the slowest unit's "$G" to "$X"
    double idleS = 0; // the slowest unit's step-count waits inside that
    qint64 linesAll = 0; // every line the tool sent, all units
    qint64 linesBoot = 0; // "$G" to "$X", all units
    qint64 bytesBoot = 0;
    qint64 resends = 0; // linesBoot - needed
    qint64 repeats = 0; // the units' own count of commands that changed nothing
    qint64 repeatsG = 0; // of which "$G"
    QJsonObject repeatsByWord; // the same by command word, all units
    double toolCpuS = 0; // after the dialog was built
    double setupCpuS = 0; // building the dialog: port discovery, settings, images
    double simCpuS = 0;
    double wireS = 0; // one unit's bytes at 10 bits a byte
    double boundS = 0; // wire + one latency per line, one unit
    double ratio = 0; // captureToExit / bound (slowest unit)
};

double cpuSeconds(int who)
{
    rusage usage {};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds a running process has used so far: the scheduler's run time of
// /proc/<pid>/schedstat (nanoseconds), else utime + stime of /proc/<pid>/stat.
double processCpuSeconds(qint64 pid)
{
    QFile schedstat(QStringLiteral("/proc/%1/schedstat").arg(pid));
    if (schedstat.open(QIODevice::ReadOnly))
        return schedstat.readAll().split(' ').value(0).toDouble() / 1e9;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which is in parentheses: state is field 3.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const double ticks = static_cast<double>(sysconf(_SC_CLK_TCK));
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / ticks;
}

bool allEnded(const DialogBootload &dlg)
{
    const UnitRunner &jobs = dlg.jobs();
    for (int i = 0; i < jobs.count(); ++i)
        if (!jobs.finished(i))
            return false;
    return true;
}

// The dialog in this process, until every port's job has written its closing line.
bool runDialog(const RunConfig &config, RunResult &result)
{
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();
    auto dlg = std::make_unique<DialogBootload>(UpdateMode::FirmwareAndImages, nullptr);
    if (config.show)
        dlg->show();
    const double cpuBuilt = cpuSeconds(RUSAGE_SELF);
    result.setupCpuS = cpuBuilt - cpuBefore;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (allEnded(*dlg) || clock.elapsed() > qint64(config.timeoutS) * 1000)
            loop.quit();
    });
    poll.start(20);
    loop.exec();
    poll.stop();
    result.jobS = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    result.toolCpuS = cpuSeconds(RUSAGE_SELF) - cpuBuilt;
    return allEnded(*dlg);
}

// zq-update in a child process, until it exits. Its setup (reading the payload,
// opening the ports) is the CPU it has used when it prints its first progress
// line; its whole CPU is counted when it has been waited for.
bool runCli(
    const RunConfig &config, const QStringList &paths, const QString &payloadDir, RunResult &result)
{
    const double childrenBefore = cpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer clock;
    clock.start();
    QProcess cli;
    cli.start(config.cliProgram,
        { QStringLiteral("--mode"), QStringLiteral("firmware-and-images"), QStringLiteral("--port"),
            paths.join(QLatin1Char(',')), QStringLiteral("--payload"), payloadDir });
    if (!cli.waitForStarted(10000)) {
        result.why = QStringLiteral("zq-update did not start: ") + cli.errorString();
        return false;
    }
    cli.setReadChannel(QProcess::StandardError); // the progress lines
    if (cli.waitForReadyRead(10000))
        result.setupCpuS = processCpuSeconds(cli.processId());
    if (!cli.waitForFinished(config.timeoutS * 1000)) {
        cli.kill();
        cli.waitForFinished();
        return false;
    }
    result.jobS = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    result.toolCpuS = cpuSeconds(RUSAGE_CHILDREN) - childrenBefore - result.setupCpuS;
    if (cli.exitStatus() != QProcess::NormalExit || cli.exitCode() != 0) {
        result.why = QStringLiteral("zq-update exited with %1").arg(cli.exitCode());
        return false;
    }
    return true;
}

RunResult runOnce(const RunConfig &config, const QString &payloadDir)
{
    RunResult result;
    // One report a process: two benches run at once in the same build must
    // not read each other's figures.
    const QString reportFile = payloadDir
        + QStringLiteral("/bench-sim-report-%1.json").arg(QCoreApplication::applicationPid());
    QFile::remove(reportFile);

    QStringList args { QStringLiteral("--units"), QString::number(config.units),
        QStringLiteral("--payload"), payloadDir, QStringLiteral("--report"), reportFile };
    if (config.pace)
        args << QStringLiteral("--pace");
    if (config.latencyMs > 0)
        args << QStringLiteral("--latency-ms") << QString::number(config.latencyMs);
    args << config.simArgs;

    const double simCpuBefore = cpuSeconds(RUSAGE_CHILDREN);
    QProcess sim;
    sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sim.start(config.simProgram, args);
    QStringList paths;
    QElapsedTimer startup;
    startup.start();
    while (paths.size() < config.units && startup.elapsed() < 10000) {
        if (!sim.canReadLine() && !sim.waitForReadyRead(1000))
            continue;
        while (sim.canReadLine() && paths.size() < config.units)
            paths << QString::fromLocal8Bit(sim.readLine()).trimmed();
    }
    if (paths.size() < config.units) {
        result.why = QStringLiteral("zq-unit-sim did not start: ") + sim.errorString();
        sim.kill();
        sim.waitForFinished();
        return result;
    }
    qputenv("ZQ_UPDATER_PORTS", paths.join(QLatin1Char(',')).toLocal8Bit());

    const bool ended
        = config.cli ? runCli(config, paths, payloadDir, result) : runDialog(config, result);

    sim.terminate();
    if (!sim.waitForFinished(10000)) {
        sim.kill();
        sim.waitForFinished();
    }
    // Both children's CPU is counted once waited for: the sim's is what the tool's is not.
    result.simCpuS = cpuSeconds(RUSAGE_CHILDREN) - simCpuBefore
        - (config.cli ? result.toolCpuS + result.setupCpuS : 0);

    QFile file(reportFile);
    if (!file.open(QIODevice::ReadOnly)) {
        result.why = QStringLiteral("no report from zq-unit-sim");
        return result;
    }
    const QJsonArray units = QJsonDocument::fromJson(file.readAll()).object()["units"].toArray();
    file.remove();
    result.ok = ended && units.size() == config.units;
    if (!ended && result.why.isEmpty())
        result.why = QStringLiteral("timed out");
    double slowestBound = 0;
    for (const QJsonValue &value : units) {
        const QJsonObject unit = value.toObject();
        const bool unitOk = unit["exitReceived"].toBool() && unit["problemCount"].toInt() == 0
            && unit["flash"].toObject()["equal"].toBool() && unit["imagesEqual"].toBool();
        if (!unitOk) {
            result.ok = false;
            result.why = QStringLiteral("unit %1 not updated").arg(unit["path"].toString());
        }
        result.linesAll += unit["lines"].toObject()["fromTool"].toInt();
        const QJsonObject repeats = unit["repeats"].toObject();
        for (auto it = repeats.begin(); it != repeats.end(); ++it) {
            result.repeats += it.value().toInt();
            result.repeatsByWord[it.key()]
                = result.repeatsByWord[it.key()].toInt() + it.value().toInt();
            if (it.key() == QLatin1String("G"))
                result.repeatsG += it.value().toInt();
        }
        const QJsonObject part = unit["captureToExit"].toObject();
        const qint64 lines = part["lines"].toInt();
        const qint64 bytes = part["bytes"].toInt();
        result.linesBoot += lines;
        result.bytesBoot += bytes;
        const double seconds = part["seconds"].toDouble();
        const double wire = config.pace ? static_cast<double>(bytes) * 10 / kBootloaderBaud : 0;
        const double bound = wire + static_cast<double>(lines) * config.latencyMs / 1000;
        if (seconds >= result.captureToExitS) {
            result.captureToExitS = seconds;
            result.idleS = part["idleSeconds"].toDouble();
            result.wireS = static_cast<double>(bytes) * 10 / kBootloaderBaud;
            slowestBound = bound;
        }
    }
    result.resends = result.linesBoot - qint64(kLinesNeeded) * config.units;
    result.boundS = slowestBound;
    result.ratio = slowestBound > 0 ? result.captureToExitS / slowestBound : 0;
    return result;
}

QJsonObject toJson(const RunConfig &config, const RunResult &r)
{
    return QJsonObject {
        { "front", config.cli ? "cli" : "window" },
        { "units", config.units },
        { "pace", config.pace },
        { "latencyMs", config.latencyMs },
        { "ok", r.ok },
        { "why", r.why },
        { "jobSeconds", r.jobS },
        { "captureToExitSeconds", r.captureToExitS },
        { "idleSeconds", r.idleS },
        { "linesSent", r.linesAll },
        { "linesCaptureToExit", r.linesBoot },
        { "linesNeeded", qint64(kLinesNeeded) * config.units },
        { "resends", r.resends },
        { "repeats", r.repeats },
        { "repeatsG", r.repeatsG },
        { "repeatsByWord", r.repeatsByWord },
        { "linesPerSecond", r.captureToExitS > 0 ? r.linesBoot / r.captureToExitS : 0 },
        { "toolCpuSeconds", r.toolCpuS },
        { "setupCpuMs", r.setupCpuS * 1e3 },
        { "toolCpuUsPerLine", r.linesAll > 0 ? r.toolCpuS * 1e6 / r.linesAll : 0 },
        { "simCpuSeconds", r.simCpuS },
        { "wireSeconds", r.wireS },
        { "boundSeconds", r.boundS },
        { "ratioToBound", r.ratio },
    };
}

void printHeader()
{
    printf("%5s %4s %6s | %7s %7s %6s | %7s %7s %7s | %8s | %8s %8s %7s | %7s %7s %6s | %s\n",
        "units", "pace", "lat_ms", "job_s", "G-X_s", "idle_s", "lines", "resends", "repeats",
        "lines/s", "cpu_us/l", "setup_ms", "sim_cpu", "wire_s", "bound_s", "ratio", "result");
    fflush(stdout);
}

void printRow(const QJsonObject &o, const char *prefix = "")
{
    const bool paced = o["pace"].toBool();
    const double latency = o["latencyMs"].toDouble();
    const bool bounded = paced || latency > 0;
    printf("%5d %4s %6g | %7.2f %7.2f %6.2f | %7lld %7lld %7lld | %8.0f | %8.2f %8.1f %7.2f | ",
        o["units"].toInt(), paced ? "yes" : "no", latency, o["jobSeconds"].toDouble(),
        o["captureToExitSeconds"].toDouble(), o["idleSeconds"].toDouble(),
        static_cast<long long>(o["linesCaptureToExit"].toDouble()),
        static_cast<long long>(o["resends"].toDouble()),
        static_cast<long long>(o["repeats"].toDouble()), o["linesPerSecond"].toDouble(),
        o["toolCpuUsPerLine"].toDouble(), o["setupCpuMs"].toDouble(),
        o["simCpuSeconds"].toDouble());
    if (bounded)
        printf("%7.2f %7.2f %6.3f", o["wireSeconds"].toDouble(), o["boundSeconds"].toDouble(),
            o["ratioToBound"].toDouble());
    else
        printf("%7s %7s %6s", "-", "-", "-");
    printf(" | %s%s\n", prefix,
        o["ok"].toBool() ? "ok" : qPrintable(QStringLiteral("FAILED: ") + o["why"].toString()));
    fflush(stdout);
}

// The median of every figure over the repeats of one configuration.
QJsonObject median(const QList<QJsonObject> &runs)
{
    QJsonObject m = runs.first();
    for (const QString &key : m.keys()) {
        if (!m[key].isDouble())
            continue;
        std::vector<double> values;
        for (const QJsonObject &run : runs)
            values.push_back(run[key].toDouble());
        std::sort(values.begin(), values.end());
        const size_t n = values.size();
        m[key] = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }
    bool ok = true;
    for (const QJsonObject &run : runs)
        ok = ok && run["ok"].toBool();
    m["ok"] = ok;
    m["runs"] = static_cast<int>(runs.size());
    return m;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Diagnostics off for timing, unless asked for.
    bool diagnostics = false;
    for (int i = 1; i < argc; ++i)
        diagnostics = diagnostics || qstrcmp(argv[i], "--diagnostics") == 0;
    if (!diagnostics)
        qputenv("QT_LOGGING_RULES", "zq.*=false");

    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs the firmware-and-images job end to end against simulated units (zq-unit-sim in a "
        "child process) and prints its speed figures."));
    parser.addHelpOption();
    parser.addOptions({
        { "units", "Comma-separated unit counts, one run each.", "list", "1,8" },
        { "pace", "Pace the simulated wire at the stage's baud rate (10 bits a byte)." },
        { "latency-ms", "Reply latency of the simulated adapter.", "ms", "0" },
        { "repeat", "Runs of each unit count; the median is printed after them.", "n", "1" },
        { "hidden", "Do not show the dialog (by default it is shown, offscreen)." },
        { "diagnostics", "Leave the diagnostic log on (it is off for timing)." },
        { "json", "Append one JSON object a line per run and per median to this file.", "file" },
        { "timeout-s", "Give up on a run after this long.", "s", "900" },
        { "sim", "The zq-unit-sim program.", "path", QStringLiteral(ZQ_UNIT_SIM) },
        { "front",
            "The tool: window (the dialog, in this process) or cli (zq-update, a child "
            "process).",
            "front", "window" },
        { "cli", "The zq-update program.", "path", QStringLiteral(ZQ_UPDATE) },
        { "seed", "Seed of the demo payload.", "n", "7" },
        { "faults", "More zq-unit-sim options (faults, jitter), e.g. \"--drop-lines 0.01\".",
            "options" },
    });
    parser.process(app);

    RunConfig base;
    base.pace = parser.isSet("pace");
    base.latencyMs = parser.value("latency-ms").toDouble();
    base.show = !parser.isSet("hidden");
    base.timeoutS = parser.value("timeout-s").toInt();
    base.simProgram = parser.value("sim");
    base.simArgs = QProcess::splitCommand(parser.value("faults"));
    base.cli = parser.value("front") == QLatin1String("cli");
    base.cliProgram = parser.value("cli");
    if (!base.cli && parser.value("front") != QLatin1String("window")) {
        fprintf(stderr, "bench_job: --front takes window or cli\n");
        return 2;
    }
    const int repeat = std::max(1, parser.value("repeat").toInt());

    const QString payloadDir = QCoreApplication::applicationDirPath();
    if (!PayloadWriter::writeDemoPayload(payloadDir, parser.value("seed").toUInt())) {
        fprintf(stderr, "bench_job: cannot write the demo payload beside the program\n");
        return 2;
    }

    QFile json(parser.value("json"));
    if (parser.isSet("json") && !json.open(QIODevice::Append)) {
        fprintf(stderr, "bench_job: cannot write %s\n", qPrintable(json.fileName()));
        return 2;
    }

    printf("front: %s\n", base.cli ? "zq-update (command line, child process)" : "dialog");
    printHeader();
    bool allOk = true;
    for (const QString &n : parser.value("units").split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        RunConfig config = base;
        config.units = std::max(1, n.toInt());
        QList<QJsonObject> runs;
        for (int i = 0; i < repeat; ++i) {
            QJsonObject o = toJson(config, runOnce(config, payloadDir));
            allOk = allOk && o["ok"].toBool();
            printRow(o);
            runs << o;
            if (json.isOpen())
                json.write(QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n');
        }
        if (repeat > 1) {
            QJsonObject m = median(runs);
            m["median"] = true;
            printRow(m, "median ");
            if (json.isOpen())
                json.write(QJsonDocument(m).toJson(QJsonDocument::Compact) + '\n');
        }
    }
    return allOk ? 0 : 1;
}
