#include "window/MainWindow.h"

#include "ui_MainWindow.h"
#include "window/DialogBootload.h"
#include "payload/UpdateMode.h"
#include "window/StationView.h"
#include "engine/StationFile.h"
#include "payload/FileRead.h"
#include "payload/ShownText.h"
#include "ToolVersion.h"
#ifdef ZQ_HAVE_RECORDS
#include "records/RecordKeeper.h"
#include "window/HistoryView.h"
#endif

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QToolBar>

namespace {

// A refusal in a message box as plain text: names from the update (a tar
// entry, a version) are shown as they are, never read as markup.
void warn(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox box(
        QMessageBox::Warning, title, ShownText::of(text, true), QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// Where the last update opened is remembered: zq-updater/zq-updater.ini in
// the user's configuration folder (beside zq-updater/keys). QSettings reads
// it with a blocking open as it is made, so it is used only when the file is
// missing or a regular one: a FIFO there would hold the window for ever.
bool settingsUsable()
{
    const QString file = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/zq-updater/zq-updater.ini");
    qint64 size = 0;
    QString error;
    return !QFileInfo::exists(file) || FileRead::regularFile(file, size, error);
}

QString remembered()
{
    if (!settingsUsable())
        return QString();
    const QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zq-updater"),
        QStringLiteral("zq-updater"));
    return s.value(QLatin1String(MainWindow::kLastUpdateKey)).toString();
}

void remember(const QString &path)
{
    if (!settingsUsable())
        return;
    QSettings s(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zq-updater"),
        QStringLiteral("zq-updater"));
    s.setValue(QLatin1String(MainWindow::kLastUpdateKey), path);
}

// The local file or folder a drag carries, or an empty string.
QString droppedPath(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().size() != 1)
        return QString();
    const QUrl url = mime->urls().first();
    return url.isLocalFile() ? url.toLocalFile() : QString();
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    setWindowTitle(QStringLiteral("Orvek Annealing ZQ bootlodaer")); // spelt so, as shipped

    // The form's buttons by what they start, top to bottom.
    connect(ui->pushButton, &QPushButton::clicked, this, [this] { runJob(UpdateMode::FirmwareAndImages); });
    connect(ui->pushButton_3, &QPushButton::clicked, this, [this] { runJob(UpdateMode::ImagesOnly); });
    connect(ui->pushButton_2, &QPushButton::clicked, this, [this] { runJob(UpdateMode::DeleteImages); });

    QAction *open = ui->mainToolBar->addAction(QStringLiteral("Open update…"));
    open->setObjectName(QStringLiteral("actionOpenUpdate"));
    open->setShortcut(QKeySequence::Open);
    open->setToolTip(QStringLiteral("Open an update package (.zqpkg) or a payload folder"));
    connect(open, &QAction::triggered, this, &MainWindow::chooseUpdate);

    // labelLoaded shows the update's version and names as plain text, as they are.
    setAcceptDrops(true);
    showLoaded();

    QAction *historyAction = ui->mainToolBar->addAction(QStringLiteral("History…"));
    historyAction->setObjectName(QStringLiteral("actionHistory"));
    historyAction->setToolTip(QStringLiteral("Every unit's record: filter, look up a unit, export CSV"));
    connect(historyAction, &QAction::triggered, this, &MainWindow::showHistory);
    QMenu *stationMenu = ui->menuBar->addMenu(QStringLiteral("&Station"));
    stationMenu->setObjectName(QStringLiteral("menuStation"));
    QAction *station = stationMenu->addAction(QStringLiteral("S&tation…"));
    station->setObjectName(QStringLiteral("actionStation"));
    station->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    station->setToolTip(QStringLiteral("Hands-free: a tile per fixture slot, every unit plugged in is updated"));
    connect(station, &QAction::triggered, this, &MainWindow::chooseStation);

    QMenu *help = ui->menuBar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("menuHelp"));
    QAction *about = help->addAction(QStringLiteral("&About zq-updater"));
    about->setObjectName(QStringLiteral("actionAbout"));
    connect(about, &QAction::triggered, this, &MainWindow::showAbout);

    // Each button at least as wide as its text in the desktop's font (a form's
    // minimum width alone is taken as the button's least width, whatever its
    // text), and the window as wide as that needs.
    for (QPushButton *button : { ui->pushButton, ui->pushButton_3, ui->pushButton_2 })
        button->setMinimumWidth(qMax(button->minimumWidth(), button->sizeHint().width()));
    resize(size().expandedTo(minimumSizeHint()));
}

QString MainWindow::aboutText()
{
    return QStringLiteral("<p><b>zq-updater %1</b></p>"
                          "<p>Updates the control unit of Orvek annealing machines through the "
                          "unit's serial bootloader: firmware and display images, over one FTDI "
                          "USB-serial adapter per unit.</p>"
                          "<p>Built with Qt %2, running on Qt %3.</p>")
        .arg(QStringLiteral(ZQ_VERSION), QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion()));
}

void MainWindow::showAbout()
{
    QMessageBox::about(this, QStringLiteral("About zq-updater"), aboutText());
}

MainWindow::~MainWindow()
{
    delete ui;
}

bool MainWindow::openUpdate(const QString &path)
{
    UpdateSource next = UpdateSource::open(path);
    if (next.problem) {
        warn(this, QStringLiteral("Open update"), next.problem.message);
        return false;
    }
    source = next;
    hasSource = true;
    remember(source.path);
    showLoaded();
    return true;
}

void MainWindow::openLast()
{
    const QString last = remembered();
    if (!last.isEmpty() && QFileInfo::exists(last))
        openUpdate(last);
}

QString MainWindow::loadedText() const
{
    return ui->labelLoaded->text();
}

void MainWindow::showLoaded()
{
    const UpdateSource shown = hasSource ? source : UpdateSource::programFolder();
    ui->labelLoaded->setText(shown.summary());
    ui->labelLoaded->setToolTip(ShownText::of(shown.warnings.join(QLatin1Char('\n')), true));
}

void MainWindow::chooseUpdate()
{
    const QString last = remembered();
    QFileDialog dialog(this, QStringLiteral("Open update"), QFileInfo(last).absolutePath(),
        QStringLiteral("Update packages (*.zqpkg);;All files (*)"));
    dialog.setFileMode(QFileDialog::ExistingFile);
    // A payload folder is opened by choosing its settings.json.
    dialog.setNameFilters({ QStringLiteral("Update packages (*.zqpkg)"),
        QStringLiteral("Payload folder (settings.json)"), QStringLiteral("All files (*)") });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    QString path = dialog.selectedFiles().first();
    if (QFileInfo(path).fileName() == QLatin1String("settings.json"))
        path = QFileInfo(path).absolutePath();
    openUpdate(path);
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (!droppedPath(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent *event)
{
    const QString path = droppedPath(event->mimeData());
    if (path.isEmpty())
        return;
    event->acceptProposedAction();
    openUpdate(path);
}

void MainWindow::runJob(UpdateMode mode)
{
    // Checked before the dialog opens any port: a package not for this job,
    // or a folder when the policy requires signed packages.
    const Problem problem = hasSource ? source.problemFor(mode)
                                      : UpdateSource::programFolder().problemFor(mode);
    if (problem) {
        warn(this, QStringLiteral("Update"), problem.message);
        return;
    }
    auto *dialog = new DialogBootload(mode, this, opened());
    if (openRecords())
        dialog->setRecordSink([this](const QJsonObject &record, QString &why) { return storeRecord(record, why); });
    dialog->exec();
    delete dialog;
}

// The records database, opened for the first job; when it can't be, the
// records go to the history file and the user is told once. False then, and
// in a build without it.
bool MainWindow::openRecords()
{
#ifdef ZQ_HAVE_RECORDS
    if (records == nullptr) {
        records = new RecordKeeper(this);
        RecordsConfig config;
        QString error;
        if (!RecordsConfig::load(QString(), config, error) || !records->open(config, error))
            warn(this, QStringLiteral("Records"),
                error + QStringLiteral("\n\nThe jobs run; each unit's record goes to the "
                                       "history file instead."));
    }
    return records->isOpen();
#else
    return false;
#endif
}

// Stores one unit's record in the records database (openRecords() first).
bool MainWindow::storeRecord(const QJsonObject &record, QString &why)
{
#ifdef ZQ_HAVE_RECORDS
    return records->add(record, why);
#else
    Q_UNUSED(record);
    why = QStringLiteral("this build keeps no records database");
    return false;
#endif
}

// The records of every unit, from the records database.
void MainWindow::showHistory()
{
#ifdef ZQ_HAVE_RECORDS
    HistoryView view(this);
    view.refresh();
    view.exec();
#else
    warn(this, QStringLiteral("History"),
        QStringLiteral("This build keeps no records database (it was built without Qt SQL): each "
                       "unit's record goes to the history file, history.jsonl."));
#endif
}

// A station file, or every adapter a tile of its own.
void MainWindow::chooseStation()
{
    QMessageBox ask(QMessageBox::Question, QStringLiteral("Station"),
        QStringLiteral("Choose the fixture's slots from a station file, or give every adapter "
                       "plugged in a tile of its own."),
        QMessageBox::Cancel, this);
    QPushButton *file = ask.addButton(QStringLiteral("Station &file…"), QMessageBox::AcceptRole);
    QPushButton *every = ask.addButton(QStringLiteral("&Every adapter"), QMessageBox::AcceptRole);
    ask.setDefaultButton(file);
    ask.exec();
    if (ask.clickedButton() == every) {
        openStation(QString());
        return;
    }
    if (ask.clickedButton() != file)
        return;
    const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open station file"),
        QString(), QStringLiteral("Station files (*.json);;All files (*)"));
    if (!path.isEmpty())
        openStation(path);
}

StationView *MainWindow::openStation(const QString &stationFile)
{
    StationFile station;
    QString error;
    if (!stationFile.isEmpty() && !station.readFile(stationFile, error)) {
        warn(this, QStringLiteral("Station"), error);
        return nullptr;
    }
    const UpdateSource shown = hasSource ? source : UpdateSource::programFolder();
    Problem problem = shown.problemFor(UpdateMode::FirmwareAndImages);
    auto *view = new StationView(shown, station, this);
    if (!problem)
        problem = view->problem();
    if (problem) {
        delete view;
        warn(this, QStringLiteral("Station"), problem.message);
        return nullptr;
    }
    if (openRecords()) {
        view->setRecordSink([this](const QJsonObject &record, QString &why) { return storeRecord(record, why); });
        view->setHistoryView([this] { showHistory(); });
    }
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->resize(1366, 768);
    view->start();
    view->showMaximized();
    return view;
}
