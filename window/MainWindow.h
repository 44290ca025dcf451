#pragma once
// The main window: the tool's three jobs as three buttons, each running one
// modal update dialog.
#include <QMainWindow>

class Ui_MainWindow;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

private slots:
    void on_pushButton_clicked();
    void on_pushButton_3_clicked();
    void on_pushButton_2_clicked();

private:
    void runJob(int mode);

    Ui_MainWindow *ui;
};
