#pragma once
// The main window: the tool's three jobs as three buttons, each running one
// modal update dialog, Help > About with the tool's version, and the update
// they send: an update package or a payload folder opened with "Open update…",
// given on the command line or dropped on the window (the last one is
// remembered), else the program's folder. What is loaded is shown before a
// job starts. "Station…" opens the hands-free station view on that update.
#include "engine/UpdateSource.h"

#include <QJsonObject>
#include <QMainWindow>

class RecordKeeper;
class StationView;
class Ui_MainWindow;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // The About box's text: the program, its version and what it is for.
    static QString aboutText();

    // Opens a package or payload folder for the jobs. A package that fails a
    // check is refused with a message (nothing changes); false then.
    bool openUpdate(const QString &path);
    // Opens the update opened last time, when it is still there.
    void openLast();
    // What the jobs send: null while nothing was opened (the program's folder).
    const UpdateSource *opened() const { return hasSource ? &source : nullptr; }
    // The text that shows what is loaded.
    QString loadedText() const;

    // Opens the station view on the opened update: the slots of stationFile,
    // or a tile per adapter when it is empty. A station file or an update
    // that can't be used is refused with a message; null then.
    StationView *openStation(const QString &stationFile);

    // The QSettings key of the last update opened (zq-updater/zq-updater.ini in
    // the user's configuration folder).
    static constexpr const char *kLastUpdateKey = "lastUpdate";

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void chooseUpdate();
    void chooseStation();
    void showAbout();
    void showHistory();
    bool openRecords();
    bool storeRecord(const QJsonObject &record, QString &why);
    // Checks the update for the job, then runs the job's dialog until it is closed.
    void runJob(UpdateMode mode);
    void showLoaded();

    Ui_MainWindow *ui;
    UpdateSource source;
    bool hasSource = false;
    RecordKeeper *records = nullptr; // opened at the first job; null without Qt SQL
};
