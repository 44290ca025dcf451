#include "window/MainWindow.h"

#include "ui_MainWindow.h"
#include "window/DialogBootload.h"
#include "engine/UpdateMode.h"

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Orvek Annealing ZQ bootlodaer"));
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::runJob(int mode)
{
    auto *dialog = new DialogBootload(mode, this);
    dialog->exec();
    delete dialog;
}

void MainWindow::on_pushButton_clicked()
{
    runJob(FirmwareAndImages);
}

void MainWindow::on_pushButton_3_clicked()
{
    runJob(ImagesOnly);
}

void MainWindow::on_pushButton_2_clicked()
{
    runJob(DeleteImages);
}
