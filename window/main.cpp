// zq-updater: updates an annealing machine's control unit through its serial
// bootloader. "zq-updater FILE" opens an update package (or a payload folder)
// for the jobs; without one, the update opened last, else the program's folder.
// "--station STATIONFILE" opens the station view on it as the window comes up.
#include "window/MainWindow.h"
#include "window/StartUp.h"
#include "ToolVersion.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    StartUp::ignoreHangUps(); // a closed terminal or pipe ends no job
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zq-updater"));
    QApplication::setApplicationVersion(QStringLiteral(ZQ_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Updates the control unit of Orvek annealing machines."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption stationOption(QStringLiteral("station"),
        QStringLiteral("Opens the station view with the slots of FILE (JSON), hands-free."),
        QStringLiteral("FILE"));
    parser.addOption(stationOption);
    parser.addPositionalArgument(QStringLiteral("update"),
        QStringLiteral("An update package (.zqpkg) or a payload folder."), QStringLiteral("[update]"));
    parser.process(app);
    MainWindow window;
    const QStringList args = parser.positionalArguments();
    if (!args.isEmpty())
        window.openUpdate(args.first());
    else
        window.openLast();
    window.show();
    if (parser.isSet(stationOption))
        window.openStation(parser.value(stationOption));
    return app.exec();
}
