#include "window/MainWindow.h"

#include "ui_MainWindow.h"
#include "window/DialogBootload.h"
#include "engine/UpdateMode.h"
#include "ToolVersion.h"

#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Orvek Annealing ZQ bootlodaer"));
    QMenu *help = ui->menuBar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("menuHelp"));
    QAction *about = help->addAction(QStringLiteral("&About zq-updater"));
    about->setObjectName(QStringLiteral("actionAbout"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);
}

QString MainWindow::aboutText()
{
    return QStringLiteral("<p><b>zq-updater %1</b></p>"
                          "<p>Updates the control unit of Orvek annealing machines through the "
                          "unit's serial bootloader: firmware and display images, over one FTDI "
                          "USB-serial adapter per unit.</p>"
                          "<p>Built with Qt %2, running on Qt %3.</p>")
        .arg(QStringLiteral(ZQ_VERSION), QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()));
}

void MainWindow::showAbout()
{
    QMessageBox::about(this, QStringLiteral("About zq-updater"), aboutText());
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
