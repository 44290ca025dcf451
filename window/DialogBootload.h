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
#include "window/LineWidgets.h"
#include "window/UnitLog.h"
#include "window/UnitTable.h"

#include <QDialog>
#include <QList>
#include <QString>

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
    // folder (the program's folder when null), once: the job sends those bytes.
    DialogBootload(UpdateMode mode, QWidget *parent, const UpdateSource *source = nullptr);
    ~DialogBootload() override;

    // The job the dialog runs.
    const UpdateMode mode;
    // The jobs, their ports and what they run on (its job timer can be
    // stepped, slowed or stopped through it).
    const UnitRunner &jobs() const { return runner; }
    UnitRunner &jobs() { return runner; }
    // The units' ports, one per attached unit, open or not, in the table's order.
    QList<PortTest *> ports() const;
    // The display images, in settings order.
    const QList<ImageRecord> &images() const { return runner.sequencer.inputs.images; }
    // The job log of the unit in row: the lines logged while the engine
    // worked on it, and those that name its port.
    QString unitLog(int row) const;

    // The line widgets' frame: they show what changed at most this often.
    static constexpr int kFrameMs = LineWidgets::kFrameMs;

private:
    // The dialog finished: the rows keep the units' last state, the ports go.
    void releaseUnits();
    void takePayload(const UpdateSource *source);
    void takeFolder(const QString &dir);
    void takePackage(const UpdateSource &source);
    void discoverPorts();
    void copyUnitLog(int row);

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
    LineWidgets lineWidgets; // the indicators, the progress bars and the table's rows
};
