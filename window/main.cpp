// zq-updater: updates an annealing machine's control unit through its serial
// bootloader.
#include "window/MainWindow.h"
#include "ToolVersion.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zq-updater"));
    QApplication::setApplicationVersion(QStringLiteral(ZQ_VERSION));
    MainWindow window;
    window.show();
    return app.exec();
}
