// zq-updater: updates an annealing machine's control unit through its serial
// bootloader.
#include "engine/BrokenPipe.h"
#include "window/MainWindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    BrokenPipe::ignore(); // a closed terminal or pipe ends no job
    QApplication app(argc, argv);
    MainWindow window;
    window.show();
    return app.exec();
}
