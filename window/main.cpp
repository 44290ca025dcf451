// zq-updater: updates an annealing machine's control unit through its serial
// bootloader. "zq-updater FILE" opens an update package (or a payload folder)
// for the jobs; without one, the update opened last, else the program's folder.
#include "window/MainWindow.h"
#include "window/StartUp.h"
#include "ToolVersion.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    StartUp::ignoreHangUps(); // a closed terminal or pipe ends no job
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zq-updater"));
    QApplication::setApplicationVersion(QStringLiteral(ZQ_VERSION));
    MainWindow window;
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1)
        window.openUpdate(args.at(1));
    else
        window.openLast();
    window.show();
    return app.exec();
}
