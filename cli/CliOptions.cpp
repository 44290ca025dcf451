#include "CliOptions.h"

#include "engine/PortDiscovery.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

namespace {

const char *const kModeNames[] = { "firmware-and-images", "images", "erase-images" };

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

Exit status: 0 every unit updated; 1 at least one unit not updated;
2 nothing started (bad option, no port found, payload unusable for the mode);
130 / 143 interrupted by SIGINT / SIGTERM.

Examples:
  zq-update --payload /media/update --report update.json
      firmware and images on every FTDI adapter's unit, the outcome also in update.json
  zq-update --mode images --port /dev/ttyUSB0,/dev/ttyUSB1 --payload /media/update
  zq-update --check --payload /media/update     (exit 0: the payload can be used))";

} // namespace

QString CliOptions::modeName(int mode)
{
    if (mode < FirmwareAndImages || mode > DeleteImages)
        return QString();
    return QString::fromLatin1(kModeNames[mode]);
}

bool CliOptions::parse(const QCoreApplication &app, QString &error)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kDescription));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption modeOption(QStringLiteral("mode"),
        QStringLiteral("The job: firmware-and-images (default), images or erase-images."),
        QStringLiteral("mode"), modeName(FirmwareAndImages));
    const QCommandLineOption portOption(QStringLiteral("port"),
        QStringLiteral("A port to update (name or device path); repeatable or comma-separated. "
                       "Without it: every FTDI adapter and ZQ_UPDATER_PORTS."),
        QStringLiteral("path"));
    const QCommandLineOption payloadOption(QStringLiteral("payload"),
        QStringLiteral("Folder with fw1.bin, settings.json and the images (default: the "
                       "program's folder)."),
        QStringLiteral("dir"));
    const QCommandLineOption reportOption(QStringLiteral("report"),
        QStringLiteral("Write the result as JSON to this file, also when interrupted."),
        QStringLiteral("file"));
    const QCommandLineOption quietOption(
        QStringLiteral("quiet"), QStringLiteral("Print only the final table and errors."));
    const QCommandLineOption checkOption(QStringLiteral("check"),
        QStringLiteral("Check the payload for the mode and exit (0 usable, 2 not); no port is "
                       "opened."));
    parser.addOptions(
        { modeOption, portOption, payloadOption, reportOption, quietOption, checkOption });

    if (!parser.parse(app.arguments())) {
        error = parser.errorText();
        return false;
    }
    if (parser.isSet(helpOption))
        parser.showHelp(0);
    if (parser.isSet(versionOption))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        error = QStringLiteral("unexpected argument: %1")
                    .arg(parser.positionalArguments().join(QLatin1Char(' ')));
        return false;
    }

    const QString modeText = parser.value(modeOption);
    mode = -1;
    for (int m = FirmwareAndImages; m <= DeleteImages; ++m)
        if (modeText == modeName(m))
            mode = m;
    if (mode < 0) {
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
                                             : QCoreApplication::applicationDirPath();
    payloadDir = QDir(payloadDir).absolutePath();
    reportFile = parser.value(reportOption);
    quiet = parser.isSet(quietOption);
    check = parser.isSet(checkOption);
    return true;
}
