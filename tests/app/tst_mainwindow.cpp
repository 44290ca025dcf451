// The main window: its title, size and widgets, and the three buttons that each
// run one modal update dialog of their job and delete it when it is closed.
#include "PtyPair.h"
#include "app/MainWindow.h"
#include "support/TestSupport.h"
#include "update/DialogBootload.h"
#include "update/PortTest.h"
#include "update/UpdateMode.h"

#include <QApplication>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QtTest>
#include <functional>

namespace {

// What a test saw of one dialog while its exec() ran.
struct SeenDialog {
    QPointer<DialogBootload> dialog;
    int mode = -1;
    QString title;
    bool modal = false;
    QWidget *parent = nullptr;
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void windowTitleAndSize();
    void buttons_data();
    void buttons();
    void barsArePresent();

    void buttonOpensDialogOfItsMode_data();
    void buttonOpensDialogOfItsMode();
    void everyClickBuildsAFreshDialog();
    void everyClickOpensThePortsAgain();

private:
    // Clicks the button and, while the click is blocked in the dialog's exec(),
    // records the modal dialog and closes it with closeIt.
    SeenDialog clickAndClose(
        QPushButton *button, const std::function<void(DialogBootload *)> &closeIt);
};

void TestMainWindow::initTestCase()
{
    // The dialog must see no ports named from outside the test, and no settings.
    cleanup();
}

SeenDialog TestMainWindow::clickAndClose(
    QPushButton *button, const std::function<void(DialogBootload *)> &closeIt)
{
    SeenDialog seen;
    QTimer poll;
    poll.setInterval(10);
    QElapsedTimer waited;
    waited.start();
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<DialogBootload *>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            if (waited.elapsed() > 10000)
                poll.stop(); // no dialog came; the click has returned by itself
            return;
        }
        poll.stop();
        seen.dialog = dialog;
        seen.mode = dialog->mode;
        seen.title = dialog->windowTitle();
        seen.modal = dialog->windowModality() == Qt::ApplicationModal;
        seen.parent = dialog->parentWidget();
        closeIt(dialog);
    });
    poll.start();
    QTest::mouseClick(button, Qt::LeftButton);
    poll.stop();
    return seen;
}

void TestMainWindow::windowTitleAndSize()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QStringLiteral("Orvek Annealing ZQ bootlodaer"));
    QCOMPARE(window.size(), QSize(408, 311));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.size(), QSize(408, 311));
}

void TestMainWindow::buttons_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QRect>("geometry");

    QTest::newRow("pushButton") << "pushButton"
                                << "Update Annealer Software and Images" << QRect(90, 20, 211, 41);
    QTest::newRow("pushButton_3") << "pushButton_3"
                                  << "Update Images Only" << QRect(110, 100, 161, 23);
    QTest::newRow("pushButton_2") << "pushButton_2"
                                  << "Erase Annealer Images" << QRect(120, 140, 141, 23);
}

void TestMainWindow::buttons()
{
    QFETCH(QString, name);
    QFETCH(QString, text);
    QFETCH(QRect, geometry);

    MainWindow window;
    auto *button = window.findChild<QPushButton *>(name);
    QVERIFY(button != nullptr);
    QCOMPARE(button->text(), text);
    QCOMPARE(button->geometry(), geometry);
    QCOMPARE(button->parentWidget(), window.centralWidget());
    QCOMPARE(window.centralWidget()->objectName(), QStringLiteral("centralWidget"));
}

void TestMainWindow::barsArePresent()
{
    MainWindow window;
    QCOMPARE(window.findChildren<QPushButton *>().size(), 3);

    QMenuBar *menuBar = window.menuBar();
    QCOMPARE(menuBar->objectName(), QStringLiteral("menuBar"));
    QVERIFY(menuBar->actions().isEmpty());

    auto *toolBar = window.findChild<QToolBar *>(QStringLiteral("mainToolBar"));
    QVERIFY(toolBar != nullptr);
    QCOMPARE(window.toolBarArea(toolBar), Qt::TopToolBarArea);
    QVERIFY(toolBar->actions().isEmpty());

    QCOMPARE(window.statusBar()->objectName(), QStringLiteral("statusBar"));
    QVERIFY(window.statusBar()->currentMessage().isEmpty());
}

void TestMainWindow::buttonOpensDialogOfItsMode_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("title");

    // Without settings.json the full update shows the default version.
    QTest::newRow("pushButton") << "pushButton" << int(FirmwareAndImages)
                                << "ORVEK ANNEALING ZQ Firmware Update D.02n";
    QTest::newRow("pushButton_3") << "pushButton_3" << int(ImagesOnly)
                                  << "ORVEK ANNEALING ZQ Firmware Update - Update Images";
    QTest::newRow("pushButton_2") << "pushButton_2" << int(DeleteImages)
                                  << "ORVEK ANNEALING ZQ Firmware Update - Delete Images";
}

void TestMainWindow::buttonOpensDialogOfItsMode()
{
    QFETCH(QString, name);
    QFETCH(int, mode);
    QFETCH(QString, title);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *button = window.findChild<QPushButton *>(name);
    QVERIFY(button != nullptr);

    const SeenDialog seen = clickAndClose(button, [](DialogBootload *d) { d->reject(); });
    QCOMPARE(seen.mode, mode);
    QCOMPARE(seen.title, title);
    QVERIFY(seen.modal);
    QCOMPARE(seen.parent, &window);
    // The click returned only after exec() ended, and the dialog is gone.
    QVERIFY(seen.dialog.isNull());
    QVERIFY(window.findChildren<DialogBootload *>().isEmpty());
}

void TestMainWindow::everyClickBuildsAFreshDialog()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton"));
    QVERIFY(button != nullptr);

    // The first dialog is left by the Escape key, as a user would.
    const SeenDialog first
        = clickAndClose(button, [](DialogBootload *d) { QTest::keyClick(d, Qt::Key_Escape); });
    QCOMPARE(first.title, QStringLiteral("ORVEK ANNEALING ZQ Firmware Update D.02n"));
    QVERIFY(first.dialog.isNull());

    // A new click reads the settings again: the new version shows in the title.
    QVERIFY(TestSupport::writeAppFile(
        QStringLiteral("settings.json"), R"({"Version": "E.07b", "Images": []})"));
    const SeenDialog second = clickAndClose(button, [](DialogBootload *d) { d->reject(); });
    QCOMPARE(second.title, QStringLiteral("ORVEK ANNEALING ZQ Firmware Update E.07b"));
    QVERIFY(second.dialog.isNull());
    QVERIFY(window.findChildren<DialogBootload *>().isEmpty());
}

void TestMainWindow::everyClickOpensThePortsAgain()
{
    PtyPair pty;
    QVERIFY(pty.open());
    qputenv("ZQ_UPDATER_PORTS", pty.slavePath().toLocal8Bit());

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton_2"));
    QVERIFY(button != nullptr);

    for (int click = 0; click < 2; ++click) {
        bool opened = false;
        QPointer<PortTest> port;
        const SeenDialog seen = clickAndClose(button, [&](DialogBootload *d) {
            opened = d->ports.size() == 1 && d->ports.first()->isOpen();
            if (!d->ports.isEmpty())
                port = d->ports.first();
            d->reject();
        });
        QCOMPARE(seen.mode, int(DeleteImages));
        QVERIFY2(opened, qPrintable(QStringLiteral("click %1").arg(click + 1)));
        // Closed and deleted with its dialog, so the next click can open it.
        QVERIFY(port.isNull());
    }
}

void TestMainWindow::cleanup()
{
    qunsetenv("ZQ_UPDATER_PORTS");
    TestSupport::removeAppFiles({ QStringLiteral("settings.json") });
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
