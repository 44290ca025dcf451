#pragma once
// The modal update dialog: one job (an UpdateMode) on every attached unit. It
// owns the ports, the display images and the 500 ms timer that steps the jobs;
// the job itself runs in the engine (Sequencer), for which the dialog is the
// host: it writes the lines, shows the log, the version and the progress.
#include "payload/ImageRecord.h"
#include "engine/JobHost.h"
#include "engine/Sequencer.h"
#include "engine/UnitRecord.h"
#include "engine/UpdateMode.h"
#include "engine/WakeTimers.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>
#include <QVector>

class PortTest;
class Ui_DialogBootload;

class DialogBootload : public QDialog, public JobHost
{
    Q_OBJECT

public:
    DialogBootload(int mode, QWidget *parent);
    ~DialogBootload() override;

    // Completes the command text in the caller's kLineBufferSize buffer with its
    // checksum and writes it; advances the send indicator.
    void sendLine(PortTest *port, char *text) override;
    void sendLine(PortTest *port, const QString &text);
    // Writes text unframed, with a line feed appended if it lacks one ("$G").
    void sendRaw(PortTest *port, const QString &text) override;

    // Reads one display image file and appends its record to images.
    void loadImage(const QString &path, int imageName, int imageVersion);
    void parseImageSource(const QByteArray &text, ImageRecord &record);

    // One step of one port's job.
    void runJobStep(PortTest *port);

    // The rest of the engine's host: the job log, the unit's version, the
    // progress bars (see kFrameMs) and the receive indicator.
    void logJob(const QString &line) override;
    void showUnitVersion(PortTest *port, const QString &version) override;
    void setFirmwareProgress(int value) override;
    void setImageProgress(int value) override;
    void lineReceived(PortTest *port) override;
    void wakeAfter(PortTest *port, int ms) override { wakeTimers.wakeAfter(port, ms); }

    // The unit table (tableUnits): one row per port, in the order of `ports`.
    // A change only marks the port's row; rows are written in the frame of
    // the line widgets (kFrameMs), and while a job runs once a step for the
    // elapsed time and the resends.
    void unitChanged(PortTest *port) override;
    // The job log's lines of one row's unit: those logged while its port was
    // the current one (see currentPort), and those that name its port.
    QString unitLog(int row) const;
    // Puts unitLog(row) on the clipboard (a double-click on the row, or the
    // row's context menu).
    void copyUnitLog(int row);

    Sequencer sequencer { *this }; // the job engine; holds mode and images
    WakeTimers wakeTimers { [this](PortTest *port) { wakeUp(port); } };
    QTimer timer; // 500 ms; steps every port's job
    Ui_DialogBootload *ui; // the form's ten widgets and the unit table
    QList<PortTest *> ports; // one per attached unit, open or not; owned
    QList<ImageRecord> &images = sequencer.inputs.images; // the display images, in settings order
    int &mode = sequencer.inputs.mode; // an UpdateMode
    int txIndicatorIndex = 0; // frame of the send indicator
    int rxIndicatorIndex = 0; // frame of the receive indicator
    const char indicatorChars[4] = { '-', '|', '/', '-' };
    QString updateVersion; // the settings' "Version", or "D.02n"
    QString &settingsProblem = sequencer.inputs.settingsProblem;

    // The indicators and progress bars change with every line. On a
    // stop-and-wait link every reply has an event-loop pass of its own, and
    // updating and painting them in each pass cost more than the rest of the
    // line's work and held back the next line. The indices and values change
    // with every line; the widgets show them at most once every kFrameMs (the
    // first change of a frame at once, the rest when the frame ends).
    static constexpr int kFrameMs = 50;
    int firmwareProgress = 0; // shown in progressBarLoad
    int imageProgress = 0; // shown in progressBarVerify

public slots:
    void Timeout();
    void readyRead();
    void GotMessage(PortTest *port, QString Msg);
    void close(int i);

public:
    using QDialog::close;

private:
    void discoverPorts();
    void checkFirmwareFile();
    void readSettings(const QString &dir);
    enum LineWidget {
        ChangedTx = 1,
        ChangedRx = 2,
        ChangedLoad = 4,
        ChangedVerify = 8,
        ChangedRows = 16, // rows whose `dirty` is set
    };
    void lineWidgetsChanged(int which);
    void showLineWidgets();
    void setUpUnitTable();
    void markRow(PortTest *port);
    void showRow(int row);
    void wakeUp(PortTest *port);

    QTimer frameTimer; // ends a held frame
    QElapsedTimer lastFrame; // when the line widgets were last updated
    int changedLineWidgets = 0; // LineWidget bits not shown yet

    void recordUnit(int row);

    UnitRecord::Update recordUpdate; // what each unit's history record names
    struct UnitRow {
        QString portName;
        QString adapterSerial; // the adapter's USB identity, where the system shows it
        QString usbLocation;
        bool recorded = false; // its record is in the history file
        bool dirty = true; // to be written in the next frame
        qint64 endNs = -1; // when the unit's job was seen ended (nowNs)
    };
    QVector<UnitRow> rows; // one per port, same order
    // The port the engine is working on for the dialog's current call (a
    // step, received bytes, a wake-up, a lost connection); null outside them.
    PortTest *currentPort = nullptr;
    struct LogLine {
        int row; // of the port current when it was logged; -1: none
        QString text;
    };
    QVector<LogLine> logLines; // the job log, line by line
};
