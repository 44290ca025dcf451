#include "window/DialogBootload.h"

#include "link/LineFrame.h"
#include "payload/ImageReader.h"
#include "ui_DialogBootload.h"
#include "link/Diagnostics.h"
#include "payload/FirmwareFile.h"
#include "engine/Adapter.h"
#include "engine/PortDiscovery.h"
#include "engine/PortProblem.h"
#include "engine/RecordLog.h"
#include "engine/PortTest.h"
#include "engine/Timeouts.h"
#include "payload/SealedFile.h"
#include "payload/PayloadDir.h"
#include "payload/Settings.h"
#include "window/UpdateSource.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDebug>
#include <QFileInfo>
#include <QHash>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cstring>
#include <utility>

namespace {
constexpr int kLoadMaximum = Sequencer::kLoadMaximum;

// The unit table's columns.
enum Column { ColPort, ColVersion, ColStage, ColProgress, ColElapsed, ColResends, kColumns };
constexpr int kVisibleRows = 4; // rows the table shows without scrolling

// Paints a progress bar for the per cent in the cell's display role: cheaper
// than a QProgressBar per row, and repainted only when the value changes.
class ProgressDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
        const QModelIndex &index) const override
    {
        if (option.state & QStyle::State_Selected)
            painter->fillRect(option.rect, option.palette.highlight());
        QStyleOptionProgressBar bar;
        bar.initFrom(option.widget);
        bar.state |= QStyle::State_Horizontal;
        bar.rect = option.rect.adjusted(2, 2, -2, -2);
        bar.minimum = 0;
        bar.maximum = 100;
        bar.progress = index.data(Qt::DisplayRole).toInt();
        bar.text = QString::number(bar.progress) + QLatin1Char('%');
        bar.textVisible = true;
        bar.textAlignment = Qt::AlignCenter;
        QStyle *style = option.widget != nullptr ? option.widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
    }
};

// Whether line names the port: its name, not as part of a longer name
// ("pts/5" is not named by "pts/51").
bool namesPort(const QString &line, const QString &name)
{
    if (name.isEmpty())
        return false;
    for (int at = line.indexOf(name); at >= 0; at = line.indexOf(name, at + 1)) {
        const int end = at + name.size();
        if ((at == 0 || !line.at(at - 1).isLetterOrNumber())
            && (end == line.size() || !line.at(end).isLetterOrNumber()))
            return true;
    }
    return false;
}

// Makes port the dialog's current port for one call into the engine.
class CurrentPort
{
public:
    CurrentPort(PortTest *&current, PortTest *port)
        : current(current)
        , previous(current)
    {
        current = port;
    }
    ~CurrentPort()
    {
        current = previous;
    }
    CurrentPort(const CurrentPort &) = delete;
    CurrentPort &operator=(const CurrentPort &) = delete;

private:
    PortTest *&current;
    PortTest *previous;
};

QString elapsedText(qint64 ns)
{
    const qint64 s = ns / 1000000000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}
} // namespace

DialogBootload::DialogBootload(int mode, QWidget *parent, const UpdateSource *source)
    : QDialog(parent)
    , ui(new Ui_DialogBootload)
{
    this->mode = mode;
    ui->setupUi(this);
    // The captions as wide as their text in the platform's font.
    ui->label->adjustSize();
    ui->label_2->adjustSize();

    connect(&timer, SIGNAL(timeout()), this, SLOT(Timeout()));
    timer.start(Timeouts::kTickMs);
    frameTimer.setSingleShot(true);
    connect(&frameTimer, &QTimer::timeout, this, &DialogBootload::showLineWidgets);

    ui->progressBarLoad->setMaximum(kLoadMaximum);
    ui->progressBarLoad->setValue(0);
    ui->progressBarVerify->setMaximum(kLoadMaximum);
    ui->progressBarVerify->setValue(0);

    // After "$X" each unit's version is asked again: a unit that does not
    // answer with the update's is shown as not confirmed.
    sequencer.inputs.confirmVersion = true;
    const QString dir = source && !source->isPackage ? source->path : PayloadDir::besideProgram();
    if (!dir.isEmpty())
        sequencer.inputs.firmwarePath = dir + QStringLiteral("/fw1.bin");
    if (source)
        for (const QString &warning : source->warnings)
            logJob(warning);
    if (source && source->isPackage) {
        takePackage(*source);
        discoverPorts();
        setUpUnitTable();
    } else {
        discoverPorts();
        setUpUnitTable();
        if (dir.isEmpty()) {
            updateVersion = Settings::parse(QByteArray()).version; // the default
            settingsProblem = QStringLiteral("no update is open");
            if (mode != DeleteImages)
                logJob(QStringLiteral("No update is open: open an update first (an installed "
                                      "zq-updater does not look for one beside itself)."));
        } else {
            if (mode == FirmwareAndImages)
                checkFirmwareFile();
            readSettings(dir);
        }
        QStringList files;
        for (const ImageRecord &image : std::as_const(images))
            files << image.fileName;
        recordUpdate = UnitRecord::describe(mode, updateVersion, sequencer.inputs.firmwarePath, dir, files);
    }

    qint64 total = 0;
    for (const ImageRecord &image : images)
        total += image.pixels.size();
    ui->progressBarVerify->setMinimum(0);
    ui->progressBarVerify->setMaximum(static_cast<int>(total));

    connect(this, SIGNAL(finished(int)), this, SLOT(close(int)));

    switch (mode) {
    case ImagesOnly:
        setWindowTitle(QStringLiteral("ORVEK ANNEALING ZQ Firmware Update - Update Images"));
        break;
    case DeleteImages:
        setWindowTitle(QStringLiteral("ORVEK ANNEALING ZQ Firmware Update - Delete Images"));
        break;
    default:
        setWindowTitle(QStringLiteral("ORVEK ANNEALING ZQ Firmware Update ") + updateVersion);
        break;
    }
    ui->label_UpdateVersion->setText(QStringLiteral("Update Version: ") + updateVersion);
}

DialogBootload::~DialogBootload()
{
    // close(int) has normally deleted the ports already; a dialog destroyed
    // without being finished must not leak them either.
    qDeleteAll(ports);
    ports.clear();
    delete ui;
}

void DialogBootload::discoverPorts()
{
    const QList<PortCandidate> found = PortDiscovery::candidates();
    for (const PortCandidate &candidate : found) {
        QString error;
        PortTest *port = PortDiscovery::openPort(candidate, error);
        connect(port, SIGNAL(readyRead()), this, SLOT(readyRead()));
        // An unplugged adapter ends that unit's job; the others go on.
        connect(
            port, &QSerialPort::errorOccurred, this, [this, port](QSerialPort::SerialPortError e) {
                if (e != QSerialPort::ResourceError)
                    return;
                const CurrentPort current(currentPort, port);
                sequencer.connectionLost(port);
            });
        if (!error.isEmpty())
            logJob(QStringLiteral("Could not open port %1: %2").arg(port->portName(), error));
        ports.append(port);
    }
}

// The firmware job tells at once when fw1.bin can't be written; the job itself
// checks again before it erases anything.
void DialogBootload::checkFirmwareFile()
{
    const QString problem = FirmwareFile::problem(sequencer.inputs.firmwarePath);
    if (!problem.isEmpty())
        logJob(QStringLiteral("fw1.bin cannot be used: %1. The firmware will not be updated.")
                   .arg(problem));
}

// The payload of a checked package: fw1.bin from memory, the images read
// from the package, and the record naming the package and its signer.
void DialogBootload::takePackage(const UpdateSource &source)
{
    const UpdatePackage &package = source.package;
    sequencer.inputs.firmwarePath = source.firmware ? source.firmware->path() : QString();
    settingsProblem = package.settings.problem;
    updateVersion = package.settings.version;
    sequencer.inputs.expectedVersion = package.manifest.unitVersion;
    images = package.images;
    recordUpdate.version = updateVersion;
    recordUpdate.mode = mode;
    recordUpdate.package = source.path;
    recordUpdate.packageSha256 = QString::fromLatin1(package.sha256);
    recordUpdate.signer = package.signerId;
    QHash<QString, QString> hashes;
    for (const PackageManifest::File &f : package.manifest.files)
        hashes.insert(f.path, QString::fromLatin1(f.sha256));
    if (mode == FirmwareAndImages)
        recordUpdate.firmware = { QStringLiteral("fw1.bin"), hashes.value(QStringLiteral("fw1.bin")) };
    if (mode != DeleteImages)
        for (const ImageRecord &image : std::as_const(images))
            recordUpdate.images.append({ image.fileName, hashes.value(image.fileName) });
    logJob(package.isSigned ? QStringLiteral("Update %1 from %2, signed by key %3")
                                  .arg(package.manifest.version, QFileInfo(source.path).fileName(),
                                      package.signerId)
                            : QStringLiteral("Update %1 from %2, unsigned")
                                  .arg(package.manifest.version, QFileInfo(source.path).fileName()));
}

void DialogBootload::readSettings(const QString &dir)
{
    const Settings settings = Settings::read(dir + QStringLiteral("/settings.json"));
    settingsProblem = settings.problem;
    if (!settings.problem.isEmpty())
        logJob(settings.problem);
    updateVersion = settings.version;
    for (const SettingsImage &entry : settings.images)
        loadImage(dir + QLatin1Char('/') + entry.fileName, entry.imageName, entry.imageVersion);
}

void DialogBootload::loadImage(const QString &path, int imageName, int imageVersion)
{
    images.append(ImageReader::loadImage(path, imageName, imageVersion));
    if (!images.last().problem.isEmpty())
        logJob(images.last().problem);
}

void DialogBootload::parseImageSource(const QByteArray &text, ImageRecord &record)
{
    const QString problem = ImageReader::parseImageSource(text, record);
    if (!problem.isEmpty())
        record.problem = problem;
}

void DialogBootload::setUpUnitTable()
{
    QTableWidget *table = ui->tableUnits;
    table->setRowCount(ports.size());
    rows.resize(ports.size());
    const QList<Adapter> adapters = Adapter::scan();
    for (int row = 0; row < ports.size(); ++row) {
        rows[row].portName = ports[row]->portName();
        const QString device = PortProblem::devicePath(ports[row]->portName());
        for (const Adapter &adapter : adapters) {
            if (adapter.device == device) {
                rows[row].adapterSerial = adapter.serial;
                rows[row].usbLocation = adapter.location;
            }
        }
        for (int column = 0; column < kColumns; ++column) {
            auto *item = new QTableWidgetItem;
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
            if (column == ColElapsed || column == ColResends)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table->setItem(row, column, item);
        }
        table->item(row, ColPort)->setText(rows[row].portName);
        table->item(row, ColPort)->setToolTip(rows[row].portName);
        showRow(row);
    }
    table->setItemDelegateForColumn(ColProgress, new ProgressDelegate(table));

    // Fixed widths, measured once: each column's longest text, the stage's
    // longest while the job runs; the progress bar takes the rest. "Time" is
    // the job's elapsed time.
    QHeaderView *header = table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Fixed);
    const QFontMetrics metrics = table->fontMetrics();
    const auto fit = [&](int column, QStringList texts) {
        int width = 0;
        for (const QString &text : std::as_const(texts))
            width = std::max(width, metrics.horizontalAdvance(text) + 8); // a cell's margins
        const QString title = table->horizontalHeaderItem(column)->text();
        width = std::max(width, metrics.horizontalAdvance(title) + 10); // the header's
        header->resizeSection(column, width);
    };
    QStringList names;
    for (const UnitRow &row : std::as_const(rows))
        names << row.portName.left(12);
    fit(ColPort, names);
    fit(ColVersion, { QStringLiteral("D.02mm") });
    fit(ColStage, { QStringLiteral("firmware, sector 223 of 223") });
    fit(ColElapsed, { QStringLiteral("00:00") });
    fit(ColResends, {});
    header->setSectionResizeMode(ColProgress, QHeaderView::Stretch);

    // Four rows in view in any font: the table, and the dialog below it,
    // grow when the form's height is short of that.
    QHeaderView *rowHeader = table->verticalHeader();
    const int rowHeight = std::max(rowHeader->defaultSectionSize(), metrics.height() + 8);
    rowHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowHeader->setDefaultSectionSize(rowHeight);
    const int needed
        = 2 * table->frameWidth() + header->sizeHint().height() + kVisibleRows * rowHeight;
    if (table->height() < needed) {
        const int margin = height() - table->geometry().bottom() - 1;
        table->resize(table->width(), needed);
        resize(width(), table->geometry().bottom() + 1 + margin);
    }

    auto *copy = new QAction(QStringLiteral("Copy this unit's log"), table);
    connect(copy, &QAction::triggered, this, [this] { copyUnitLog(ui->tableUnits->currentRow()); });
    table->addAction(copy);
    connect(
        table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { copyUnitLog(row); });
}

void DialogBootload::unitChanged(PortTest *port)
{
    const int row = ports.indexOf(port);
    if (row < 0)
        return;
    if (port->status.ended() != (rows[row].endNs >= 0))
        rows[row].endNs = port->status.ended() ? nowNs() : -1;
    if (port->status.ended() && !rows[row].recorded)
        recordUnit(row);
    markRow(port);
}

// The unit's job ended: its record goes into the user's history file. A
// record that can't be written leaves a diagnostic line; the job log is the
// user's.
void DialogBootload::recordUnit(int row)
{
    rows[row].recorded = true;
    const PortTest *port = ports.at(row);
    UnitRecord record = UnitRecord::of(*port, recordUpdate, false);
    record.adapterSerial = rows[row].adapterSerial;
    record.usbLocation = rows[row].usbLocation;
    if (port->timing.startNs >= 0)
        record.seconds = static_cast<double>(rows[row].endNs - port->timing.startNs) / 1e9;
    QString error;
    const QString file = RecordLog::historyFile();
    if (!RecordLog::append(file, record.line(), error))
        qCWarning(lcJob).noquote() << "Could not add the unit's record to" << file << error;
}

void DialogBootload::markRow(PortTest *port)
{
    const int row = ports.indexOf(port);
    if (row < 0)
        return;
    rows[row].dirty = true;
    lineWidgetsChanged(ChangedRows);
}

void DialogBootload::showRow(int row)
{
    rows[row].dirty = false;
    const PortTest *port = ports.at(row);
    const UnitStatus &status = port->status;
    QTableWidget *table = ui->tableUnits;
    table->item(row, ColVersion)->setText(status.version);
    QTableWidgetItem *stage = table->item(row, ColStage);
    const QString text = status.text();
    stage->setText(text);
    stage->setToolTip(text);
    if (status.ended()) {
        // The words say it; the colour makes it quick to see: green updated,
        // amber updated but not seen running the update, red not updated.
        const bool updated = status.stage == UnitStatus::Updated;
        if (status.notConfirmed()) {
            stage->setForeground(QColor(0x80, 0x50, 0x00));
            stage->setBackground(QColor(0xff, 0xe8, 0xb0));
        } else {
            stage->setForeground(updated ? QColor(0x10, 0x60, 0x10) : QColor(0xa0, 0x10, 0x10));
            stage->setBackground(updated ? QColor(0xd8, 0xf0, 0xd8) : QColor(0xf8, 0xd8, 0xd8));
        }
    }
    table->item(row, ColProgress)->setData(Qt::DisplayRole, status.percent);
    const qint64 start = port->timing.startNs;
    const qint64 end = rows[row].endNs >= 0 ? rows[row].endNs : nowNs();
    table->item(row, ColElapsed)->setText(start < 0 ? QString() : elapsedText(end - start));
    table->item(row, ColResends)->setText(QString::number(port->timing.resends));
}

QString DialogBootload::unitLog(int row) const
{
    if (row < 0 || row >= rows.size())
        return QString();
    QStringList lines;
    for (const LogLine &line : logLines) {
        if (line.row == row || namesPort(line.text, rows[row].portName))
            lines.append(line.text);
    }
    return lines.join(QLatin1Char('\n'));
}

void DialogBootload::copyUnitLog(int row)
{
    if (row >= 0 && row < rows.size())
        QApplication::clipboard()->setText(unitLog(row));
}

void DialogBootload::logJob(const QString &line)
{
    ui->textEdit->append(line);
    logLines.append({ static_cast<int>(ports.indexOf(currentPort)), line });
}

void DialogBootload::showUnitVersion(PortTest *, const QString &version)
{
    ui->label_UnitVersion->setText(QStringLiteral("Unit Version: ") + version);
}

void DialogBootload::setFirmwareProgress(int value)
{
    firmwareProgress = value;
    lineWidgetsChanged(ChangedLoad);
}

void DialogBootload::setImageProgress(int value)
{
    imageProgress = value;
    lineWidgetsChanged(ChangedVerify);
}

void DialogBootload::lineWidgetsChanged(int which)
{
    changedLineWidgets |= which;
    if (frameTimer.isActive())
        return; // shown when the frame ends
    if (!lastFrame.isValid() || lastFrame.elapsed() >= kFrameMs) {
        showLineWidgets();
        return;
    }
    frameTimer.start(static_cast<int>(kFrameMs - lastFrame.elapsed()));
}

void DialogBootload::showLineWidgets()
{
    lastFrame.start();
    if (changedLineWidgets & ChangedTx)
        ui->labelTX->setText(
            QStringLiteral("TX: ") + QLatin1Char(indicatorChars[txIndicatorIndex]));
    if (changedLineWidgets & ChangedRx)
        ui->labelRX->setText(
            QStringLiteral("RX: ") + QLatin1Char(indicatorChars[rxIndicatorIndex]));
    if (changedLineWidgets & ChangedLoad)
        ui->progressBarLoad->setValue(firmwareProgress);
    if (changedLineWidgets & ChangedVerify)
        ui->progressBarVerify->setValue(imageProgress);
    if (changedLineWidgets & ChangedRows) {
        for (int row = 0; row < rows.size() && row < ports.size(); ++row) {
            if (rows[row].dirty)
                showRow(row);
        }
    }
    changedLineWidgets = 0;
}

void DialogBootload::sendLine(PortTest *port, char *text)
{
    if (Protocol::writeFramed(*port, port->portName(), text) == 0)
        return;
    port->writeNow();
    txIndicatorIndex = (txIndicatorIndex + 1) % 4;
    lineWidgetsChanged(ChangedTx);
}

void DialogBootload::sendLine(PortTest *port, const QString &text)
{
    char buf[kLineBufferSize];
    const QByteArray bytes = text.toUtf8();
    const int n = qMin(bytes.size(), kLineBufferSize - 1);
    std::memcpy(buf, bytes.constData(), static_cast<size_t>(n));
    buf[n] = '\0';
    sendLine(port, buf);
}

void DialogBootload::sendRaw(PortTest *port, const QString &text)
{
    Protocol::writeRaw(*port, text);
    port->writeNow();
}

void DialogBootload::readyRead()
{
    auto *port = dynamic_cast<PortTest *>(sender());
    if (port == nullptr)
        return;
    const CurrentPort current(currentPort, port);
    sequencer.receive(port, port->readAll());
}

void DialogBootload::lineReceived(PortTest *)
{
    rxIndicatorIndex = (rxIndicatorIndex + 1) % 4;
    lineWidgetsChanged(ChangedRx);
}

void DialogBootload::GotMessage(PortTest *port, QString Msg)
{
    const CurrentPort current(currentPort, port);
    sequencer.handleLine(port, Msg);
}

void DialogBootload::Timeout()
{
    for (PortTest *port : std::as_const(ports)) {
        runJobStep(port);
        if (!port->status.ended())
            markRow(port); // the elapsed time and the resends
    }
}

void DialogBootload::runJobStep(PortTest *port)
{
    const CurrentPort current(currentPort, port);
    sequencer.tick(port);
}

void DialogBootload::wakeUp(PortTest *port)
{
    {
        const CurrentPort current(currentPort, port);
        sequencer.wake(port);
    }
    markRow(port); // a resend may have gone out
}

void DialogBootload::close(int)
{
    // The rows keep the units' last state once the ports are gone.
    for (int row = 0; row < rows.size() && row < ports.size(); ++row)
        showRow(row);
    while (!ports.isEmpty()) {
        PortTest *port = ports.takeLast();
        port->close();
        delete port;
    }
}
