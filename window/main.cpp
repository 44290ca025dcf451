// zq-updater: updates an annealing machine's control unit through its serial
// bootloader.
#include "window/MainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    return app.exec();
}
