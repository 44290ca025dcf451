#pragma once
// The station view: the window as a hands-free station for a fixture of
// adapters. One tile per slot of the station file (or, without one, per
// adapter plugged in, named by its serial number), the update it sends at the
// top with its version and signer, the shift's counters and last units, Stop
// and the station's log. The engine's StationWatch starts a job for every
// unit plugged in, exactly as zq-update --watch does; this view only shows
// the UnitRunner's units, through RunnerView.
#include "engine/JobPayload.h"
#include "engine/RunnerView.h"
#include "engine/StationFile.h"
#include "engine/StationHost.h"
#include "engine/UnitRecord.h"
#include "engine/UnitRunner.h"

#include <QDialog>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

class QGridLayout;
class QLabel;
class QPushButton;
class ShiftCounters;
class SlotTile;
class StationWatch;
struct UpdateSource;

class StationView : public QDialog, private RunnerView, public StationHost
{
    Q_OBJECT

public:
    // source: the update opened in the window (firmware and images are
    // sent); station: its slots, or empty for a tile per adapter.
    StationView(const UpdateSource &source, const StationFile &station, QWidget *parent = nullptr);
    ~StationView() override;

    // Why the station can't run the update (its payload can't make a job);
    // none when it can. With a problem, start() starts nothing.
    const Problem &problem() const { return payload.problem; }
    // Starts watching the adapters.
    void start();
    // Stop: the running units finish, no new job starts.
    void stop();
    // How many units' jobs are running.
    int running() const;

    // The tiles, in the grid's order, and the counters (for a test).
    QList<SlotTile *> tiles() const { return tileOrder; }
    const ShiftCounters &counters() const { return *shift; }
    // The station's log: every job log line, each with its time and slot.
    const QStringList &stationLog() const { return log; }

    // The text at the top: the update's version and signer.
    QString updateText() const;

    // Where each ended job's record is stored (the records database); a
    // record it does not take (false, why set) goes to the history file.
    using RecordSink = std::function<bool(const QJsonObject &record, QString &why)>;
    void setRecordSink(RecordSink sink) { recordSink = std::move(sink); }
    // What History opens (the records' History view); unset, the station's log.
    void setHistoryView(std::function<void()> open) { openHistory = std::move(open); }

    // StationHost.
    int addUnit(const UnitTarget &target) override;
    void adapterGone(int index) override;
    void slotHeld(const QString &slot, const QString &message, bool again) override;
    void holdsNow(const QList<StationFile::Hold> &held) override;

public slots:
    void reject() override; // Escape and the close button: asks while units run

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // RunnerView.
    void logLine(int unit, const QString &line) override;
    void unitAdded(int unit) override;
    void unitChanged(int unit) override;
    void unitEnded(int unit) override;
    void unitStepped(int unit) override;
    void unitVersion(int unit, const QString &version) override;

    QString keyOf(const UnitTarget &target) const;
    SlotTile *tile(const QString &key, const QString &adapter);
    void placeTiles();
    void showTile(const QString &key);
    bool mayClose();
    void showStopped();
    void showHistory();

    UnitRunner runner { *this };
    StationFile station;
    JobPayload payload;
    UnitRecord::Update recordUpdate;
    StationWatch *watch = nullptr;
    QString sourceText; // the update, a line for the top
    QMap<QString, SlotTile *> tilesByKey;
    QList<SlotTile *> tileOrder;
    QMap<QString, int> unitOf; // the last unit of each tile
    QList<QString> keys; // each unit's tile
    QList<bool> plugged; // each unit's adapter is still there
    QMap<QString, QString> held; // by slot ("" holds every slot)
    QStringList log;
    bool closing = false;

    QLabel *updateLabel;
    QLabel *statusLabel;
    QPushButton *stopButton;
    QPushButton *historyButton;
    QGridLayout *grid;
    ShiftCounters *shift;
    RecordSink recordSink;
    std::function<void()> openHistory;
};
