#include "CliOptions.h"

#include "engine/PortDiscovery.h"
#include "payload/PayloadDir.h"
#include "payload/RawNames.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <algorithm>
#include <iterator>

namespace {

// A week: more than any run; and far below what a timer's milliseconds hold.
constexpr int kLongestTimeout = 7 * 24 * 3600;

const char *const kDescription
    = R"(Updates the control unit of every attached Orvek annealing machine over its
serial bootloader, one FTDI USB-serial adapter per unit, all units at once.

Modes:
  firmware-and-images  fw1.bin, then every display image in settings.json (default)
  images               every display image in settings.json
  erase-images         erases the unit's display images (no payload needed)

The payload folder holds fw1.bin, settings.json and the image files it names
(relative to the folder). Ports: every FTDI adapter, then those named in
ZQ_UPDATER_PORTS (comma-separated), unless --port names them.

While the job runs, each unit's stage and progress go to standard error; at the
end a table (port, unit version, result, time, resends, average reply time)
goes to standard output. Ctrl-C stops every job; units left in their
bootloader are finished by running the same command again.

Ports by adapter: --port serial:NUMBER or --port location:PATH (the adapter's
USB serial number or its name in /dev/serial/by-path, as "zq-update list"
shows them), or a station file naming slots (--station FILE):
  { "slots": [ { "name": "A", "serial": "A10K1234" },
               { "name": "B", "location": "pci-0000:00:14.0-usb-0:2.1:1.0-port0" } ] }

Update packages: --package FILE sends a signed package (NAME.zqpkg, made with
zq-make-package) instead of a folder; "zq-update verify FILE" shows its
manifest and signer and checks it, sending nothing (exit 0 or 2). Trusted keys:
--key FILE, keys/ beside the program, /etc/zq-updater/keys and the user's
configuration folder (zq-updater/keys). A package or folder that is not signed
is used with a warning, unless /etc/zq-updater/policy.json requires signatures.

zq-update list [--json] shows every serial port: its stable names, maker,
VID:PID, serial number, USB location, latency timer, whether it is taken and,
for a port that can't be opened, why.

--watch runs until Ctrl-C or SIGTERM: each adapter (or slot) that appears is
updated, once per plug; at the end a summary per slot. Exit 0 when every unit
seen was updated, else 1.

--timeout SECONDS ends the run after that long (a unit that never shows its
bootloader would otherwise be waited for): jobs not done are stopped, the
table and the report say what is left on each unit, exit 1.

After "$X" each unit's version is asked again at 19200 baud for 10 s: a unit
that does not answer, or answers another version than the package names, is
"updated, not confirmed" (a warning; with --require-confirm it exits 1).

Each command takes only its own options (any other is refused, by name):
--check takes --mode, --payload or --package, --key and --quiet; verify takes
--key; list takes --json; history takes its filters, --json or --csv and
--records; records sync and import take --records. No option takes an empty value, and one that takes a
single value can't be given two. --report and --log are checked before any
port is opened: their folder must exist (none is made) and be writable, and
they may name no file the run reads.

Records: each unit's record is stored in records.sqlite in the user's data
folder (zq-updater), and sent to the plant's PostgreSQL server when
--records URL or /etc/zq-updater/records.conf names one (no password: libpq
reads ~/.pgpass). "zq-update history" shows them, newest first (--serial,
--slot, --station NAME, --result, --version, --since, --until; --json or
--csv); "zq-update records sync" sends the records the server has not got;
"zq-update records import FILE" reads a --log file or history.jsonl once.

Exit status: 0 every unit updated; 1 at least one unit not updated (or the
--timeout was reached, or with --require-confirm one not confirmed);
2 nothing started (bad option, no port found, payload unusable for the mode);
130 / 143 interrupted by SIGINT / SIGTERM.

Examples:
  zq-update --payload /media/update --report update.json
      firmware and images on every FTDI adapter's unit, the outcome also in update.json
  zq-update --mode images --port /dev/ttyUSB0,/dev/ttyUSB1 --payload /media/update
  zq-update --check --payload /media/update     (exit 0: the payload can be used)
  zq-update --package /media/update-D.03a.zqpkg --report update.json
  zq-update verify /media/update-D.03a.zqpkg
  zq-update --watch --station station.json --payload /media/update --log units.jsonl
  zq-update history --serial A10K1234 --csv > unit.csv)";

// What a run is asked to do; each takes its own options (kApplies).
enum Command { Run = 1, Check = 2, Verify = 4, List = 8, History = 16, Sync = 32, Import = 64 };

struct Applies {
    const char *option;
    int commands; // the Commands it applies to
};

// Which options each command takes. An option is refused, by name, where it
// would be read by nothing: a report --check never writes, a port verify
// never opens. An option missing here applies nowhere, so a new one is
// refused until it is given its commands.
const Applies kApplies[] = {
    { "mode", Run | Check },
    { "port", Run },
    { "payload", Run | Check },
    { "package", Run | Check },
    { "key", Run | Check | Verify },
    { "report", Run },
    { "log", Run },
    { "station", Run | History }, // a station file to run; the station's name in history
    { "records", Run | History | Sync | Import },
    { "serial", History },
    { "slot", History },
    { "result", History },
    { "update-version", History }, // history's --version
    { "since", History },
    { "until", History },
    { "csv", History },
    { "events", Run },
    { "watch", Run },
    { "timeout", Run },
    { "require-confirm", Run },
    { "quiet", Run | Check },
    { "check", Check },
    { "json", List | History },
};

// Options that may be given more than once (each value adds one).
const char *const kRepeatable[] = { "port", "key" };

QString commandName(Command command)
{
    switch (command) {
    case Run: break;
    case Check: return QStringLiteral("--check (it opens no port and writes no file)");
    case Verify: return QStringLiteral("verify (it checks the package and sends nothing)");
    case List: return QStringLiteral("list (it only shows the ports)");
    case History: return QStringLiteral("history (it only shows the records)");
    case Sync: return QStringLiteral("records sync (it only sends the records)");
    case Import: return QStringLiteral("records import (it only reads the file)");
    }
    return QStringLiteral("an update run");
}

// The first option given that command does not take, named; empty when all apply.
QString applicabilityProblem(const QCommandLineParser &parser, Command command)
{
    const QStringList given = parser.optionNames();
    for (const QString &name : given) {
        const auto *row = std::find_if(std::begin(kApplies), std::end(kApplies),
            [&name](const Applies &a) { return name == QLatin1String(a.option); });
        if (row == std::end(kApplies) || (row->commands & command) == 0)
            return QStringLiteral("--%1 does not apply to %2: leave it out")
                .arg(name, commandName(command));
    }
    return QString();
}

// An option given an empty value ("--report \"\"" names no file), or a
// single-value option given twice with different values (the last would
// silently win); empty when there is none.
QString valueProblem(const QCommandLineParser &parser, const QList<QCommandLineOption> &options)
{
    for (const QCommandLineOption &option : options) {
        const QString name = option.names().constFirst();
        const QStringList values = parser.values(option);
        if (values.contains(QString()))
            return QStringLiteral("--%1 was given an empty value: name what it is for, or "
                                  "leave the option out")
                .arg(name);
        const bool repeatable = std::any_of(std::begin(kRepeatable), std::end(kRepeatable),
            [&name](const char *r) { return name == QLatin1String(r); });
        if (!repeatable && values.size() > 1 && values.count(values.first()) != values.size())
            return QStringLiteral("--%1 was given more than once (%2): give it once")
                .arg(name, values.join(QStringLiteral(", ")).left(200));
    }
    return QString();
}

} // namespace

// Long for a reason: the options are declared one after another, then read
// and checked in turn, each against the others it excludes; split in two,
// each half would need the other's fifteen option objects.
bool CliOptions::parse(const QCoreApplication &app, QString &error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption modeOption(QStringLiteral("mode"),
        QStringLiteral("The job: firmware-and-images (default), images or erase-images."),
        QStringLiteral("mode"), UpdateModes::name(UpdateMode::FirmwareAndImages));
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("A port to update (name or device path); repeatable or comma-separated. "
                       "Without it: every FTDI adapter and ZQ_UPDATER_PORTS."),
        QStringLiteral("path"));
    const QCommandLineOption payloadOption(QStringLiteral("payload"),
        QStringLiteral("Folder with fw1.bin, settings.json and the images (default: the "
                       "program's folder, unless it is installed in /usr/bin or the like)."),
        QStringLiteral("dir"));
    const QCommandLineOption reportOption(QStringLiteral("report"),
        QStringLiteral("Write the result as JSON to this file, also when interrupted."),
        QStringLiteral("file"));
    const QCommandLineOption quietOption(
        QStringLiteral("quiet"), QStringLiteral("Print only the final table and errors."));
    const QCommandLineOption checkOption(QStringLiteral("check"),
        QStringLiteral("Check the payload for the mode and exit (0 usable, 2 not); no port is "
                       "opened."));
    const QCommandLineOption jsonOption(
        QStringLiteral("json"), QStringLiteral("list: one JSON object for all ports."));
    const QCommandLineOption logOption(QStringLiteral("log"),
        QStringLiteral("Append one JSON line per unit to this file when its job ends."),
        QStringLiteral("file"));
    const QCommandLineOption stationOption(QStringLiteral("station"),
        QStringLiteral("The station's slots (JSON): each by adapter serial number or USB "
                       "location. With history: the records of the PC of this host name."),
        QStringLiteral("file"));
    const QCommandLineOption eventsOption(QStringLiteral("events"),
        QStringLiteral("Write one JSON event a line to standard output (the table goes to "
                       "standard error)."));
    const QCommandLineOption watchOption(QStringLiteral("watch"),
        QStringLiteral("Run until Ctrl-C or SIGTERM, updating each unit that is plugged in."));
    const QCommandLineOption packageOption(QStringLiteral("package"),
        QStringLiteral("An update package (NAME.zqpkg) to send instead of a payload folder."),
        QStringLiteral("file"));
    const QCommandLineOption keyOption(QStringLiteral("key"),
        QStringLiteral("A trusted minisign public key (.pub), besides those in the keys folders; "
                       "repeatable."),
        QStringLiteral("file"));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
        QStringLiteral("End the run after this many seconds: jobs not done are stopped, and "
                       "what is left on each unit is said (exit 1)."),
        QStringLiteral("seconds"));
    const QCommandLineOption requireConfirmOption(QStringLiteral("require-confirm"),
        QStringLiteral("Exit 1 when an updated unit is not confirmed: it did not answer the "
                       "version query after the update, or answered another version than the "
                       "package names."));
    const QCommandLineOption recordsOption(QStringLiteral("records"),
        QStringLiteral("The plant's PostgreSQL server for the records (postgresql://USER@HOST/DB "
                       "or libpq's keyword=value; no password), instead of records.conf's."),
        QStringLiteral("url"));
    const QCommandLineOption serialOption(QStringLiteral("serial"),
        QStringLiteral("history: the records of the adapter (unit) with this USB serial number."),
        QStringLiteral("number"));
    const QCommandLineOption slotOption(
        QStringLiteral("slot"), QStringLiteral("history: the records of this slot."), QStringLiteral("name"));
    const QCommandLineOption resultOption(QStringLiteral("result"),
        QStringLiteral("history: updated, \"not updated\", \"connection lost\" or interrupted."),
        QStringLiteral("result"));
    // history's --version, renamed before parsing; not an option of its own.
    QCommandLineOption updateVersionOption(QStringLiteral("update-version"),
        QStringLiteral("history --version VERSION: the records of this update version."),
        QStringLiteral("version"));
    updateVersionOption.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption sinceOption(QStringLiteral("since"),
        QStringLiteral("history: from this day or time (UTC; 2026-12-01 or 2026-12-01T10:00)."),
        QStringLiteral("time"));
    const QCommandLineOption untilOption(QStringLiteral("until"),
        QStringLiteral("history: before this time, or to the end of this day (UTC)."),
        QStringLiteral("time"));
    const QCommandLineOption csvOption(
        QStringLiteral("csv"), QStringLiteral("history: the records as CSV."));
    parser.addOptions({ modeOption, portOption, payloadOption, reportOption, quietOption,
        checkOption, jsonOption, logOption, stationOption, eventsOption, watchOption, packageOption,
        keyOption, timeoutOption, requireConfirmOption, recordsOption, serialOption, slotOption,
        resultOption, updateVersionOption, sinceOption, untilOption, csvOption });
    parser.addPositionalArgument(QStringLiteral("history"),
        QStringLiteral("Show the unit records, newest first."), QStringLiteral("[history]"));
    parser.addPositionalArgument(QStringLiteral("records"),
        QStringLiteral("records sync: send the records the server lacks; records import FILE: "
                       "read a --log file or history.jsonl into the records."),
        QStringLiteral("[records sync|import FILE]"));
    parser.addPositionalArgument(
        QStringLiteral("list"), QStringLiteral("Show the serial ports and exit."), QStringLiteral("[list]"));
    parser.addPositionalArgument(QStringLiteral("verify"),
        QStringLiteral("verify FILE: check an update package and show it; send nothing."),
        QStringLiteral("[verify FILE]"));

    // app's arguments, with the names that are not UTF-8 kept usable.
    Q_UNUSED(app);
    // "history --version V" filters by the update's version; anywhere else
    // --version shows the program's.
    QStringList arguments = RawNames::arguments();
    if (arguments.size() > 1 && arguments.at(1) == QLatin1String("history"))
        for (QString &a : arguments)
            if (a == QLatin1String("--version") || a.startsWith(QLatin1String("--version=")))
                a.replace(0, 9, QStringLiteral("--update-version"));
    if (!parser.parse(arguments)) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    QStringList positional = parser.positionalArguments();
    list = !positional.isEmpty() && positional.first() == QLatin1String("list");
    if (list)
        positional.removeFirst();
    history = !list && !positional.isEmpty() && positional.first() == QLatin1String("history");
    if (history)
        positional.removeFirst();
    if (!list && !history && !positional.isEmpty() && positional.first() == QLatin1String("records")) {
        positional.removeFirst();
        const QString what = positional.isEmpty() ? QString() : positional.takeFirst();
        recordsSync = what == QLatin1String("sync");
        if (what == QLatin1String("import")) {
            importFile = positional.isEmpty() ? QString() : positional.takeFirst();
            if (importFile.isEmpty()) {
                error = QStringLiteral("records import wants the file: zq-update records import FILE");
                return false;
            }
        } else if (!recordsSync) {
            error = QStringLiteral("records takes sync or import FILE");
            return false;
        }
    }
    verify = !list && !history && !positional.isEmpty() && positional.first() == QLatin1String("verify");
    if (verify) {
        positional.removeFirst();
        if (positional.isEmpty() || positional.first().isEmpty()) {
            error = QStringLiteral("verify wants the package: zq-update verify FILE");
            return false;
        }
        packageFile = positional.takeFirst();
    }
    if (!positional.isEmpty()) {
        error = QStringLiteral("unexpected argument: %1")
                    .arg(positional.join(QLatin1Char(' ')));
        return false;
    }
    check = parser.isSet(checkOption);
    const Command command = list ? List
        : verify                 ? Verify
        : history                ? History
        : recordsSync            ? Sync
        : !importFile.isEmpty()  ? Import
        : check                  ? Check
                                 : Run;
    error = valueProblem(parser, { modeOption, portOption, payloadOption, reportOption, logOption,
        stationOption, packageOption, keyOption, timeoutOption, recordsOption, serialOption,
        slotOption, resultOption, updateVersionOption, sinceOption, untilOption });
    if (error.isEmpty())
        error = applicabilityProblem(parser, command);
    if (!error.isEmpty())
        return false;
    json = parser.isSet(jsonOption);
    csv = parser.isSet(csvOption);
    if (json && csv) {
        error = QStringLiteral("--json and --csv both choose the output: use one");
        return false;
    }
    recordsUrl = parser.value(recordsOption);
    serial = parser.value(serialOption);
    slot = parser.value(slotOption);
    result = parser.value(resultOption);
    updateVersion = parser.value(updateVersionOption);
    since = parser.value(sinceOption);
    until = parser.value(untilOption);
    if (history) {
        stationName = parser.value(stationOption);
        return true;
    }

    const QString modeText = parser.value(modeOption);
    if (!UpdateModes::fromName(modeText, mode)) {
        error = QStringLiteral("unknown mode \"%1\": use firmware-and-images, images or "
                               "erase-images")
                    .arg(modeText);
        return false;
    }

    ports.clear();
    for (const QString &value : parser.values(portOption))
        for (const QString &name : PortDiscovery::namedPorts(value))
            if (!ports.contains(name))
                ports.append(name);
    if (parser.isSet(portOption) && ports.isEmpty()) {
        error = QStringLiteral("--port names no port");
        return false;
    }

    payloadDir = parser.isSet(payloadOption) ? parser.value(payloadOption)
                                             : PayloadDir::besideProgram();
    if (!payloadDir.isEmpty())
        payloadDir = QDir(payloadDir).absolutePath();
    reportFile = parser.value(reportOption);
    quiet = parser.isSet(quietOption);
    logFile = parser.value(logOption);
    stationFile = parser.value(stationOption);
    events = parser.isSet(eventsOption);
    watch = parser.isSet(watchOption);
    if (parser.isSet(packageOption)) {
        if (verify || parser.isSet(payloadOption)) {
            error = QStringLiteral("--package and %1 both name the payload: use one")
                        .arg(verify ? QStringLiteral("verify") : QStringLiteral("--payload"));
            return false;
        }
        packageFile = parser.value(packageOption);
    }
    if (!packageFile.isEmpty())
        packageFile = QDir(packageFile).absolutePath();
    keyFiles = parser.values(keyOption);
    requireConfirm = parser.isSet(requireConfirmOption);
    if (!stationFile.isEmpty() && parser.isSet(portOption)) {
        error = QStringLiteral("--station and --port both name ports: use one");
        return false;
    }
    timeoutSeconds = 0;
    if (parser.isSet(timeoutOption)) {
        bool number = false;
        const int seconds = parser.value(timeoutOption).toInt(&number);
        if (!number || seconds <= 0 || seconds > kLongestTimeout) {
            error = QStringLiteral("--timeout takes a whole number of seconds from 1 to %1, not "
                                   "\"%2\"")
                        .arg(kLongestTimeout)
                        .arg(parser.value(timeoutOption).left(40));
            return false;
        }
        timeoutSeconds = seconds;
    }
    return true;
}
