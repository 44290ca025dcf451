#include "window/DialogBootload.h"

#include "engine/Adapter.h"
#include "engine/PortDiscovery.h"
#include "engine/PortTest.h"
#include "engine/RecordLog.h"
#include "engine/Timeouts.h"
#include "engine/UpdateSource.h"
#include "link/Diagnostics.h"
#include "payload/PayloadDir.h"
#include "payload/Settings.h"
#include "payload/ShownText.h"
#include "ui_DialogBootload.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDebug>
#include <QFileInfo>
#include <QTextCursor>
#include <QTextDocument>

DialogBootload::DialogBootload(UpdateMode jobMode, QWidget *parent, const UpdateSource *source)
    : QDialog(parent)
    , mode(jobMode)
    , ui(new Ui_DialogBootload)
    , table(runner)
    , lineWidgets(*ui, table)
{
    ui->setupUi(this);
    ui->progressBarLoad->setMaximum(Sequencer::kLoadMaximum);
    ui->progressBarLoad->setValue(0);

    takePayload(source);
    discoverPorts();

    // progressBarVerify: the image progress, up to the bytes of every image.
    qint64 total = 0;
    for (const ImageRecord &image : images())
        total += image.pixels.size();
    ui->progressBarVerify->setMinimum(0);
    ui->progressBarVerify->setMaximum(static_cast<int>(total));
    ui->progressBarVerify->setValue(0);

    connect(this, &QDialog::finished, this, &DialogBootload::releaseUnits);
    switch (mode) {
    case ImagesOnly:
        setWindowTitle(QStringLiteral("ORVEK ANNEALING ZQ Firmware Update - Update Images"));
        break;
    case DeleteImages:
        setWindowTitle(QStringLiteral("ORVEK ANNEALING ZQ Firmware Update - Delete Images"));
        break;
    case FirmwareAndImages:
        setWindowTitle(
            QStringLiteral("ORVEK ANNEALING ZQ Firmware Update ") + ShownText::of(updateVersion));
        break;
    }
    // Versions from the update and the unit as they are, never read as markup.
    ui->label_UpdateVersion->setTextFormat(Qt::PlainText);
    ui->label_UnitVersion->setTextFormat(Qt::PlainText);
    ui->label_UpdateVersion->setText(
        QStringLiteral("Update Version: ") + ShownText::of(updateVersion));
    runner.start();
}

DialogBootload::~DialogBootload()
{
    // releaseUnits() has normally released the ports already.
    runner.release();
    delete ui;
}

QList<PortTest *> DialogBootload::ports() const
{
    QList<PortTest *> list;
    for (int i = 0; i < runner.count(); ++i)
        list << runner.port(i);
    return list;
}

// The payload, read once for every unit; after "$X" each unit's version is
// asked again: a unit that does not answer with the update's is shown as not
// confirmed.
void DialogBootload::takePayload(const UpdateSource *source)
{
    if (source)
        for (const QString &warning : source->warnings)
            logLine(-1, warning);
    if (source && source->isPackage)
        takePackage(*source);
    else
        takeFolder(source ? source->path : UpdateSource::programFolder().path); // as the main window shows it
    runner.sequencer.inputs = payload.inputs;
    runner.sequencer.inputs.confirmVersion = true;
    recordUpdate = payload.update();
}

void DialogBootload::takeFolder(const QString &dir)
{
    if (dir.isEmpty()) {
        payload.inputs.mode = mode;
        updateVersion = Settings::parse(QByteArray()).version; // the default
        payload.inputs.settingsProblem = { Problem::NoUpdate, QStringLiteral("no update is open") };
        if (mode != DeleteImages)
            logLine(-1, QStringLiteral("No update is open: open an update first (an installed "
                                       "zq-updater does not look for one beside itself)."));
        return;
    }
    payload = JobPayload::read(dir, mode, JobPayload::AsNamed);
    updateVersion = payload.updateVersion;
    // The firmware job tells at once when fw1.bin can't be written.
    if (payload.firmwareProblem)
        logLine(-1, QStringLiteral("fw1.bin cannot be used: %1. The firmware will not be updated.")
                        .arg(payload.firmwareProblem.message));
    if (payload.inputs.settingsProblem)
        logLine(-1, payload.inputs.settingsProblem.message);
    for (const QString &warning : std::as_const(payload.warnings))
        logLine(-1, warning);
}

// The payload of a checked package: fw1.bin from memory, the images read
// from the package, and the record naming the package and its signer.
void DialogBootload::takePackage(const UpdateSource &source)
{
    const UpdatePackage &package = source.package;
    payload = JobPayload::fromPackage(package, source.path, mode);
    updateVersion = payload.updateVersion;
    const QString name = QFileInfo(source.path).fileName();
    logLine(-1, package.isSigned
            ? QStringLiteral("Update %1 from %2, signed by key %3")
                  .arg(package.manifest.version, name, package.signerId)
            : QStringLiteral("Update %1 from %2, unsigned").arg(package.manifest.version, name));
}

// Every FTDI adapter and every port named in ZQ_UPDATER_PORTS, open or not.
void DialogBootload::discoverPorts()
{
    const QList<Adapter> adapters = Adapter::scan();
    const QList<PortCandidate> found = PortDiscovery::candidates();
    for (const PortCandidate &candidate : found)
        runner.addUnit(UnitTarget::of(candidate, adapters));
    table.setUp(ui->tableUnits);
    auto *copy = new QAction(QStringLiteral("Copy this unit's log"), ui->tableUnits);
    connect(copy, &QAction::triggered, this, [this] { copyUnitLog(ui->tableUnits->currentRow()); });
    ui->tableUnits->addAction(copy);
    connect(ui->tableUnits, &QTableWidget::cellDoubleClicked, this,
        [this](int row, int) { copyUnitLog(row); });
}

QString DialogBootload::unitLog(int row) const
{
    return row < 0 || row >= table.rowCount() ? QString() : log.of(row, table.portName(row));
}

// Puts the row's log on the clipboard (a double-click on the row, or its context menu).
void DialogBootload::copyUnitLog(int row)
{
    if (row >= 0 && row < table.rowCount())
        QApplication::clipboard()->setText(unitLog(row));
}

// A line of the job log. Text from outside (a port or slot name, a version, a
// file name) comes with its control characters as \xNN, and a line that would
// read as markup goes in as plain text: neither can hide or forge a line.
void DialogBootload::logLine(int unit, const QString &line)
{
    const QString shown = ShownText::of(line, true);
    if (Qt::mightBeRichText(shown)) {
        QTextCursor end(ui->textEdit->document());
        end.movePosition(QTextCursor::End);
        if (!ui->textEdit->document()->isEmpty())
            end.insertBlock();
        end.insertText(shown);
    } else {
        ui->textEdit->append(shown);
    }
    log.append(unit, shown);
}

void DialogBootload::unitChanged(int unit)
{
    // After the update the label shows what the unit runs now, and whether
    // it confirmed it, as its row does.
    const UnitStatus &status = runner.port(unit)->status;
    if (status.ended() && status.confirmation != UnitStatus::NotAsked)
        ui->label_UnitVersion->setText(QStringLiteral("Unit Version: ") + status.versionText());
    table.mark(unit);
    lineWidgets.rowsMarked();
}

// The unit's job ended: its record goes into the user's history file. A
// record that can't be written leaves a diagnostic line; the job log is the
// user's.
void DialogBootload::unitEnded(int unit)
{
    const UnitRecord record = runner.recordOf(unit, recordUpdate);
    QString error;
    const QString file = RecordLog::historyFile();
    if (!RecordLog::append(file, record.line(), error))
        qCWarning(lcJob).noquote() << "Could not add the unit's record to" << file << error;
}

// The elapsed time and the resends of a running job.
void DialogBootload::unitStepped(int unit)
{
    if (!runner.port(unit)->status.ended())
        unitChanged(unit);
}

void DialogBootload::unitVersion(int, const QString &version)
{
    ui->label_UnitVersion->setText(QStringLiteral("Unit Version: ") + ShownText::of(version));
}

void DialogBootload::lineSent(int)
{
    lineWidgets.lineSent();
}

void DialogBootload::lineReceived(int)
{
    lineWidgets.lineReceived();
}

void DialogBootload::firmwareProgress(int value)
{
    lineWidgets.firmwareProgress(value);
}

void DialogBootload::imageProgress(int value)
{
    lineWidgets.imageProgress(value);
}

void DialogBootload::releaseUnits()
{
    table.show(true);
    runner.release();
}
