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
    bool portOpen = false; // its one port, named in ZQ_UPDATER_PORTS, was open
    QPointer<PortTest> port;
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
        seen.portOpen = dialog->ports.size() == 1 && dialog->ports.first()->isOpen();
        if (!dialog->ports.isEmpty())
            seen.port = dialog->ports.first();
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
    QCOMPARE(window.menuBar()->objectName(), QStringLiteral("menuBar"));
    auto *toolBar = window.findChild<QToolBar *>(QStringLiteral("mainToolBar"));
    QVERIFY(toolBar != nullptr);
    QCOMPARE(window.toolBarArea(toolBar), Qt::TopToolBarArea);
    QCOMPARE(window.statusBar()->objectName(), QStringLiteral("statusBar"));
}

void TestMainWindow::buttonOpensDialogOfItsMode_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mode");
    QTest::newRow("pushButton") << "pushButton" << int(FirmwareAndImages);
    QTest::newRow("pushButton_3") << "pushButton_3" << int(ImagesOnly);
    QTest::newRow("pushButton_2") << "pushButton_2" << int(DeleteImages);
}

void TestMainWindow::buttonOpensDialogOfItsMode()
{
    QFETCH(QString, name);
    QFETCH(int, mode);

    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *button = window.findChild<QPushButton *>(name);
    QVERIFY(button != nullptr);

    const SeenDialog seen = clickAndClose(button, [](DialogBootload *d) { d->reject(); });
    QCOMPARE(seen.mode, mode);
    QVERIFY(seen.modal);
    QCOMPARE(seen.parent, &window);
    // The click returned only after exec() ended, and the dialog is gone.
    QVERIFY(seen.dialog.isNull());
    QVERIFY(window.findChildren<DialogBootload *>().isEmpty());
}

void TestMainWindow::everyClickBuildsAFreshDialog()
{
    PtyPair pty;
    QVERIFY(pty.open());
    qputenv("ZQ_UPDATER_PORTS", pty.slavePath().toLocal8Bit());
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *button = window.findChild<QPushButton *>(QStringLiteral("pushButton"));
    QVERIFY(button != nullptr);

    // The first dialog is left by the Escape key, as a user would.
    const SeenDialog first
        = clickAndClose(button, [](DialogBootload *d) { QTest::keyClick(d, Qt::Key_Escape); });
    QCOMPARE(first.title, QStringLiteral("ORVEK ANNEALING ZQ Firmware Update D.02n"));
    QVERIFY(first.portOpen);
    QVERIFY(first.dialog.isNull());
    QVERIFY(first.port.isNull()); // closed and deleted with its dialog

    // A new click reads the settings again and opens the port again.
    QVERIFY(TestSupport::writeAppFile(
        QStringLiteral("settings.json"), R"({"Version": "E.07b", "Images": []})"));
    const SeenDialog second = clickAndClose(button, [](DialogBootload *d) { d->reject(); });
    QCOMPARE(second.title, QStringLiteral("ORVEK ANNEALING ZQ Firmware Update E.07b"));
    QVERIFY(second.portOpen);
    QVERIFY(second.dialog.isNull());
    QVERIFY(second.port.isNull());
    QVERIFY(window.findChildren<DialogBootload *>().isEmpty());
}

void TestMainWindow::cleanup()
{
    qunsetenv("ZQ_UPDATER_PORTS");
    TestSupport::removeAppFiles({ QStringLiteral("settings.json") });
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
