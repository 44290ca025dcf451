#pragma once
// The modal update dialog: one job (an UpdateMode) on every attached unit,
// shown as it runs. The jobs run in the engine's UnitRunner; the dialog loads
// the payload, shows the job log, the unit's version, the progress bars, the
// send and receive indicators and the unit table, and writes each unit's
// record to the user's history file.
#include "engine/JobPayload.h"
#include "engine/RunnerView.h"
#include "engine/UnitRecord.h"
#include "engine/UnitRunner.h"
#include "engine/UpdateMode.h"
#include "payload/ImageRecord.h"
#include "window/UnitLog.h"
#include "window/UnitTable.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>

class PortTest;
class Ui_DialogBootload;
struct UpdateSource;

// The update dialog (the window's name for it).
class DialogBootload : public QDialog, private RunnerView
{
    Q_OBJECT

public:
    // source: the package or folder the main window opened; null, or a
    // folder source, reads fw1.bin, settings.json and the images from that
    // folder (the program's folder when null).
    DialogBootload(UpdateMode mode, QWidget *parent, const UpdateSource *source = nullptr);
    ~DialogBootload() override;

    // The job the dialog runs.
    const UpdateMode mode;
    // The jobs, their ports and what they run on.
    const UnitRunner &jobs() const { return runner; }
    // The units' ports, one per attached unit, open or not, in the table's order.
    QList<PortTest *> ports() const;
    // The display images, in settings order.
    const QList<ImageRecord> &images() const { return runner.sequencer.inputs.images; }
    // The job log of the unit in row: the lines logged while the engine
    // worked on it, and those that name its port.
    QString unitLog(int row) const;

    // The indicators and progress bars change with every line. On a
    // stop-and-wait link every reply has an event-loop pass of its own, and
    // updating and painting them in each pass cost more than the rest of the
    // line's work and held back the next line. The widgets show the values at
    // most once every kFrameMs (the first change of a frame at once, the rest
    // when the frame ends).
    static constexpr int kFrameMs = 50;

public slots:
    // The job timer's step of every port's job.
    void Timeout();
    // Reads what a port received (its readyRead()) and hands it to the engine.
    void readyRead();
    // One received line of one port, handled by the engine.
    void GotMessage(PortTest *port, QString Msg);
    // The dialog finished: the rows keep the units' last state, the ports go.
    void close(int i);

public:
    using QDialog::close;

private:
    friend class TestDialog;
    friend class TestProtocolWire;
    friend class JobRig;

    void takePayload(const UpdateSource *source);
    void takeFolder(const QString &dir);
    void takePackage(const UpdateSource &source);
    void discoverPorts();
    void copyUnitLog(int row);
    enum LineWidget {
        ChangedTx = 1,
        ChangedRx = 2,
        ChangedLoad = 4,
        ChangedVerify = 8,
        ChangedRows = 16, // rows the unit table has marked
    };
    void lineWidgetsChanged(int which);
    void showLineWidgets();

    // RunnerView.
    void logLine(int unit, const QString &line) override;
    void unitChanged(int unit) override;
    void unitEnded(int unit) override;
    void unitStepped(int unit) override;
    void unitVersion(int unit, const QString &version) override;
    void lineSent(int unit) override;
    void lineReceived(int unit) override;
    void firmwareProgress(int value) override;
    void imageProgress(int value) override;

    UnitRunner runner { *this };
    Ui_DialogBootload *ui; // the form's ten widgets and the unit table
    UnitTable table;
    UnitLog log;
    JobPayload payload;
    UnitRecord::Update recordUpdate; // what each unit's history record names
    QString updateVersion; // the settings' "Version", or "D.02n"
    int txIndicatorIndex = 0; // frame of the send indicator
    int rxIndicatorIndex = 0; // frame of the receive indicator
    const char indicatorChars[4] = { '-', '|', '/', '-' };
    int firmwareProgressValue = 0; // shown in progressBarLoad
    int imageProgressValue = 0; // shown in progressBarVerify
    QTimer frameTimer; // ends a held frame
    QElapsedTimer lastFrame; // when the line widgets were last updated
    int changedLineWidgets = 0; // LineWidget bits not shown yet
};
