#include "window/StationView.h"

#include "engine/RecordLog.h"
#include "engine/StationWatch.h"
#include "engine/UpdateSource.h"
#include "link/Diagnostics.h"
#include "payload/ShownText.h"
#include "window/ShiftCounters.h"
#include "window/SlotTile.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDebug>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>

namespace {

JobPayload payloadOf(const UpdateSource &source)
{
    if (source.isPackage)
        return JobPayload::fromPackage(source.package, source.path, UpdateMode::FirmwareAndImages);
    JobPayload payload = JobPayload::read(source.path, UpdateMode::FirmwareAndImages, JobPayload::Checked);
    if (source.path.isEmpty() && !payload.problem)
        payload.problem = Problem(Problem::NoUpdate, QStringLiteral("no update is open: open an update first"));
    return payload;
}

} // namespace

StationView::StationView(const UpdateSource &source, const StationFile &places, QWidget *parent)
    : QDialog(parent)
    , station(places)
    , payload(payloadOf(source))
    , updateLabel(new QLabel(this))
    , statusLabel(new QLabel(this))
    , stopButton(new QPushButton(QStringLiteral("&Stop"), this))
    , historyButton(new QPushButton(QStringLiteral("&History"), this))
    , grid(new QGridLayout)
    , shift(new ShiftCounters(this))
{
    setWindowTitle(QStringLiteral("zq-updater station"));
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint);
    runner.setEndUnopened(true); // a port that can't be opened: "not updated", said on its tile
    runner.sequencer.inputs = payload.inputs;
    runner.sequencer.inputs.confirmVersion = true;
    recordUpdate = payload.update();

    // The update at the top: its version and signer (the summary's first two lines).
    // A folder by its name: the version and the signer are what the line needs
    // to see; the whole path is in the tooltip.
    sourceText = source.summary().section(QLatin1Char('\n'), 0, 1).replace(QLatin1Char('\n'), QStringLiteral(" · "));
    if (!source.path.isEmpty())
        sourceText.replace(ShownText::of(QDir::toNativeSeparators(source.path)),
            ShownText::of(QFileInfo(source.path).fileName()));
    updateLabel->setToolTip(ShownText::of(QDir::toNativeSeparators(source.path)));
    updateLabel->setObjectName(QStringLiteral("stationUpdate"));
    updateLabel->setTextFormat(Qt::PlainText);
    QFont big = updateLabel->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    updateLabel->setFont(big);
    updateLabel->setText(updateText());
    updateLabel->setAccessibleName(updateText());
    statusLabel->setObjectName(QStringLiteral("stationStatus"));
    statusLabel->setTextFormat(Qt::PlainText);
    statusLabel->setFont(big);
    stopButton->setObjectName(QStringLiteral("stationStop"));
    stopButton->setToolTip(QStringLiteral("The running units finish; no new job starts"));
    historyButton->setObjectName(QStringLiteral("stationHistory"));
    auto *closeButton = new QPushButton(QStringLiteral("&Close"), this);
    closeButton->setObjectName(QStringLiteral("stationClose"));
    for (QPushButton *b : { stopButton, historyButton, closeButton }) {
        b->setAutoDefault(false);
        b->setFont(big);
    }
    connect(stopButton, &QPushButton::clicked, this, &StationView::stop);
    connect(historyButton, &QPushButton::clicked, this, &StationView::showHistory);
    connect(closeButton, &QPushButton::clicked, this, &StationView::reject);

    auto *top = new QHBoxLayout;
    top->addWidget(updateLabel, 1);
    top->addWidget(stopButton);
    top->addWidget(historyButton);
    top->addWidget(closeButton);
    auto *middle = new QHBoxLayout;
    middle->addLayout(grid, 1);
    shift->setFixedWidth(300);
    middle->addWidget(shift);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addLayout(top);
    layout->addWidget(statusLabel);
    layout->addLayout(middle, 1);
    grid->setSpacing(6);

    for (const StationFile::Place &place : std::as_const(station.places))
        tile(place.name, place.serial.isEmpty() ? place.location : place.serial);
    if (payload.problem) {
        statusLabel->setText(QStringLiteral("The update can't be sent: ") + ShownText::of(payload.problem.message));
        stopButton->setEnabled(false);
    } else {
        statusLabel->setText(station.isEmpty()
                ? QStringLiteral("Plug a unit in: each adapter gets a tile, and its unit is updated.")
                : QStringLiteral("Plug a unit in: its slot's job starts by itself."));
    }
}

StationView::~StationView()
{
    delete watch; // before the runner it drives
    watch = nullptr;
    runner.release();
}

QString StationView::updateText() const
{
    return sourceText;
}

void StationView::start()
{
    if (watch != nullptr || payload.problem)
        return;
    for (const QString &warning : std::as_const(payload.warnings))
        logLine(-1, warning);
    watch = new StationWatch(*this, station, {}, this);
    runner.start();
    watch->start();
}

void StationView::stop()
{
    if (watch == nullptr || watch->stopped())
        return;
    watch->stop();
    stopButton->setEnabled(false);
    logLine(-1, QStringLiteral("Stopped: no new job starts; the running units finish."));
    showStopped();
}

void StationView::showStopped()
{
    if (watch == nullptr || !watch->stopped())
        return;
    const int n = running();
    statusLabel->setText(n > 0
            ? QStringLiteral("Stopping: %1 unit(s) still updating, no new job starts.").arg(n)
            : QStringLiteral("Stopped: no job is running and no new one starts. Close the station to leave."));
}

int StationView::running() const
{
    int n = 0;
    for (int i = 0; i < runner.count(); ++i)
        n += runner.status(i).ended() ? 0 : 1;
    return n;
}

// A slot's tile; without a station file the adapter's, by its serial number.
// Two adapters plugged in with one serial number (or none) can't share a tile:
// the second is told by its device as well.
QString StationView::keyOf(const UnitTarget &target) const
{
    if (!target.slot.isEmpty())
        return target.slot;
    if (target.serial.isEmpty())
        return target.device;
    for (int i = 0; i < runner.count(); ++i)
        if (plugged.at(i) && keys.at(i) == target.serial && runner.unit(i).target.device != target.device)
            return QStringLiteral("%1 on %2").arg(target.serial, QFileInfo(target.device).fileName());
    return target.serial;
}

SlotTile *StationView::tile(const QString &key, const QString &adapter)
{
    if (SlotTile *t = tilesByKey.value(key))
        return t;
    auto *t = new SlotTile(key, adapter, this);
    tilesByKey.insert(key, t);
    tileOrder.append(t);
    placeTiles();
    return t;
}

// Four columns for a fixture of 16 (a row for up to four), more past that.
void StationView::placeTiles()
{
    const int n = static_cast<int>(tileOrder.size());
    const int columns = std::max(std::min(n, 4), static_cast<int>(std::ceil(std::sqrt(n))));
    for (int i = 0; i < n; ++i) {
        grid->removeWidget(tileOrder.at(i));
        grid->addWidget(tileOrder.at(i), i / columns, i % columns);
    }
    for (int c = 0; c < columns; ++c)
        grid->setColumnStretch(c, 1);
    for (int r = 0; r * columns < n; ++r)
        grid->setRowStretch(r, 1);
    // Tab goes from tile to tile in the grid's order, then to the buttons.
    for (int i = 1; i < n; ++i)
        setTabOrder(tileOrder.at(i - 1), tileOrder.at(i));
}

// The tile's state from its last unit and its hold: a running job shows as
// updating; a held slot as held; an ended job while its unit is plugged in,
// its result; else waiting, with the last unit's result.
void StationView::showTile(const QString &key)
{
    SlotTile *t = tilesByKey.value(key);
    if (t == nullptr)
        return;
    const int unit = unitOf.value(key, -1);
    const UnitStatus *status = unit >= 0 ? &runner.status(unit) : nullptr;
    const bool heldNow = held.contains(key) || held.contains(QString());
    if (status != nullptr && !status->ended()) {
        t->setState(SlotTile::Updating, QStringLiteral("%1%, %2").arg(status->percent).arg(status->text()));
    } else if (heldNow) {
        t->setState(SlotTile::Held, held.value(key, held.value(QString())));
    } else if (status != nullptr && plugged.at(unit)) {
        if (status->stage == UnitStatus::Updated)
            t->setState(SlotTile::Updated, status->notConfirmed() ? QStringLiteral("not confirmed") : QString());
        else
            t->setState(SlotTile::NotUpdated,
                status->stage == UnitStatus::ConnectionLost ? QStringLiteral("connection lost") : status->reason);
    } else if (status != nullptr) {
        t->setState(SlotTile::Waiting, QStringLiteral("last unit ") + status->text().section(QLatin1Char(':'), 0, 0));
    } else {
        t->setState(SlotTile::Waiting);
    }
    if (status == nullptr)
        return;
    const QString after = status->stage == UnitStatus::Updated ? status->versionText() : QString();
    t->setVersions(status->version, after);
    t->setSeconds(runner.seconds(unit));
}

int StationView::addUnit(const UnitTarget &target)
{
    const QString key = keyOf(target);
    tile(key, target.slot.isEmpty() ? target.device : target.serial);
    keys.append(key); // before the runner tells unitAdded
    plugged.append(true);
    return runner.addUnit(target);
}

void StationView::adapterGone(int index)
{
    if (index < 0 || index >= runner.count())
        return;
    runner.unplugged(index);
    plugged[index] = false;
    showTile(keys.at(index));
    showStopped();
}

void StationView::slotHeld(const QString &slot, const QString &message, bool again)
{
    if (!again) {
        shift->slotHeld();
        logLine(-1, message);
    }
    held.insert(slot, message);
    if (slot.isEmpty())
        for (auto it = tilesByKey.cbegin(); it != tilesByKey.cend(); ++it)
            showTile(it.key());
    else
        showTile(slot);
}

void StationView::holdsNow(const QList<StationFile::Hold> &now)
{
    QMap<QString, QString> next;
    for (const StationFile::Hold &h : now)
        next.insert(h.slot, h.reason);
    const QMap<QString, QString> was = held;
    held = next;
    for (auto it = was.cbegin(); it != was.cend(); ++it)
        if (!held.contains(it.key())) {
            if (it.key().isEmpty())
                for (auto t = tilesByKey.cbegin(); t != tilesByKey.cend(); ++t)
                    showTile(t.key());
            else
                showTile(it.key());
        }
}

void StationView::unitAdded(int unit)
{
    const QString &key = keys.at(unit);
    unitOf.insert(key, unit);
    showTile(key);
}

void StationView::unitChanged(int unit)
{
    if (unit >= 0 && unit < keys.size() && unitOf.value(keys.at(unit), -1) == unit)
        showTile(keys.at(unit));
}

void StationView::unitStepped(int unit)
{
    if (!runner.status(unit).ended())
        unitChanged(unit);
}

void StationView::unitVersion(int unit, const QString &)
{
    if (unit >= 0)
        unitChanged(unit);
}

// The unit's job ended: it counts for the shift, stands first in the last
// units, and its record goes to the records database, or, when that can't
// take it (or there is none), to the user's history file, as the dialog's do.
void StationView::unitEnded(int unit)
{
    const UnitStatus &status = runner.status(unit);
    const bool updated = !runner.unit(unit).interrupted && status.stage == UnitStatus::Updated;
    QString after = updated ? QStringLiteral("updated, ") + status.versionText() : status.text();
    if (!updated && !after.startsWith(QLatin1String("not updated")))
        after = QStringLiteral("not updated: ") + after; // a lost connection, a stopped job
    shift->unitEnded(updated,
        QStringLiteral("%1  %2  %3  %4")
            .arg(QTime::currentTime().toString(QStringLiteral("HH:mm")), keys.at(unit), after,
                SlotTile::minutes(runner.seconds(unit))));
    const UnitRecord record = runner.recordOf(unit, recordUpdate);
    QString error;
    if (!recordSink || !recordSink(record.json(), error)) {
        if (recordSink)
            logLine(unit, error + QStringLiteral(" - the record goes to the history file"));
        const QString file = RecordLog::historyFile();
        if (!RecordLog::append(file, record.line(), error))
            logLine(-1, QStringLiteral("Could not add the unit's record to %1: %2").arg(file, error));
    }
    unitChanged(unit);
    showStopped();
}

void StationView::logLine(int unit, const QString &line)
{
    const QString time = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
    const QString name = unit >= 0 && unit < keys.size() ? keys.at(unit) + QStringLiteral(": ") : QString();
    log.append(ShownText::of(time + QLatin1Char(' ') + name + line));
    if (log.size() > 20000) // a shift's worth; the oldest go
        log.removeFirst();
}

// The records' History view when the window has one; else the station's log.
void StationView::showHistory()
{
    if (openHistory) {
        openHistory();
        return;
    }
    QDialog dialog(this);
    dialog.setWindowTitle(QStringLiteral("Station log"));
    auto *text = new QPlainTextEdit(&dialog);
    text->setObjectName(QStringLiteral("stationLog"));
    text->setReadOnly(true);
    text->setPlainText(log.join(QLatin1Char('\n')));
    text->moveCursor(QTextCursor::End);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(text);
    layout->addWidget(buttons);
    dialog.resize(900, 500);
    dialog.exec();
}

// Closing while units run asks first: a unit stopped mid-update must be
// updated again. Yes stops their jobs (the units say what is left on them in
// the log and the records).
bool StationView::mayClose()
{
    if (closing)
        return true;
    const int n = running();
    if (n > 0) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Close the station"),
            QStringLiteral("%1 unit(s) are being updated. Stop them and close? A unit stopped "
                           "before its job ends must be updated again.")
                .arg(n),
            QMessageBox::Yes | QMessageBox::No, this);
        box.setObjectName(QStringLiteral("stationCloseQuestion"));
        box.setDefaultButton(QMessageBox::No);
        if (box.exec() != QMessageBox::Yes)
            return false;
    }
    closing = true;
    if (watch != nullptr)
        watch->stop();
    runner.stopAll(QStringLiteral("the station was closed"), true);
    runner.stopTimer();
    return true;
}

void StationView::reject()
{
    if (mayClose())
        QDialog::reject();
}

void StationView::closeEvent(QCloseEvent *event)
{
    if (mayClose())
        QDialog::closeEvent(event);
    else
        event->ignore();
}
