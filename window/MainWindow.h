#pragma once
// The main window: the tool's three jobs as three buttons, each running one
// modal update dialog, and Help > About with the tool's version.
#include <QMainWindow>

class Ui_MainWindow;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The About box's text: the program, its version and what it is for.
    static QString aboutText();

private slots:
    void on_pushButton_clicked();
    void on_pushButton_3_clicked();
    void on_pushButton_2_clicked();
    void showAbout();

private:
    void runJob(int mode);

    Ui_MainWindow *ui;
};
