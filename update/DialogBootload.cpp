#include "update/DialogBootload.h"

#include "link/LineFrame.h"
#include "payload/ImageReader.h"
#include "ui_DialogBootload.h"
#include "link/Diagnostics.h"
#include "payload/FirmwareFile.h"
#include "update/PortDiscovery.h"
#include "update/PortTest.h"
#include "update/Timeouts.h"
#include "payload/Settings.h"

#include <QCoreApplication>
#include <QDebug>
#include <cstring>
#include <utility>

namespace {
constexpr int kLoadMaximum = Sequencer::kLoadMaximum;
} // namespace

DialogBootload::DialogBootload(int mode, QWidget *parent)
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

    sequencer.inputs.firmwarePath
        = QCoreApplication::applicationDirPath() + QStringLiteral("/fw1.bin");
    discoverPorts();
    if (mode == FirmwareAndImages)
        checkFirmwareFile();
    readSettings();

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
                if (e == QSerialPort::ResourceError)
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

void DialogBootload::readSettings()
{
    const QString dir = QCoreApplication::applicationDirPath();
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

void DialogBootload::logJob(const QString &line)
{
    ui->textEdit->append(line);
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
    changedLineWidgets = 0;
}

void DialogBootload::sendLine(PortTest *port, char *text)
{
    if (Protocol::writeFramed(*port, port->portName(), text) == 0)
        return;
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
}

void DialogBootload::readyRead()
{
    auto *port = dynamic_cast<PortTest *>(sender());
    if (port != nullptr)
        sequencer.receive(port, port->readAll());
}

void DialogBootload::lineReceived(PortTest *)
{
    rxIndicatorIndex = (rxIndicatorIndex + 1) % 4;
    lineWidgetsChanged(ChangedRx);
}

void DialogBootload::GotMessage(PortTest *port, QString Msg)
{
    sequencer.handleLine(port, Msg);
}

void DialogBootload::Timeout()
{
    for (PortTest *port : std::as_const(ports))
        runJobStep(port);
}

void DialogBootload::runJobStep(PortTest *port)
{
    sequencer.step(port);
}

void DialogBootload::close(int)
{
    while (!ports.isEmpty()) {
        PortTest *port = ports.takeLast();
        port->close();
        delete port;
    }
}
