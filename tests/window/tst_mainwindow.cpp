// The main window's title and its three buttons: each runs one modal update
// dialog of its job, a new one every click, deleted once it is closed; Help >
// About names the tool's version; "Station…" refuses what can't make a station.
#include "window/MainWindow.h"
#include "support/ModalAnswer.h"
#include "support/TestSupport.h"
#include "window/DialogBootload.h"
#include "payload/UpdateMode.h"
#include "window/StationView.h"

#include <QAction>
#include <QApplication>
#include <memory>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    // No ports named from outside the test and no settings: the default version.
    void initTestCase()
    {
        qunsetenv("ZQ_UPDATER_PORTS");
        TestSupport::removeAppFiles({ QStringLiteral("settings.json") });
    }

    // The title keeps its long-standing spelling ("bootlodaer"): a fault here is
    // the spelling put right (mutant title-spelling-corrected).
    void title()
    {
        MainWindow window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Orvek Annealing ZQ bootlodaer"));
    }

    void button_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("title");
        const QString dialog = QStringLiteral("ORVEK ANNEALING ZQ Firmware Update ");
        QTest::newRow("pushButton")
            << "Update Annealer Software and Images" << int(UpdateMode::FirmwareAndImages) << dialog + "D.02n";
        QTest::newRow("pushButton_3")
            << "Update Images Only" << int(UpdateMode::ImagesOnly) << dialog + "- Update Images";
        QTest::newRow("pushButton_2")
            << "Erase Annealer Images" << int(UpdateMode::DeleteImages) << dialog + "- Delete Images";
    }

    void button()
    {
        QFETCH(QString, text);
        QFETCH(int, mode);
        QFETCH(QString, title);
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *button = window.findChild<QPushButton *>(QTest::currentDataTag());
        QVERIFY(button != nullptr);
        QCOMPARE(button->text(), text);
        for (int click = 0; click < 2; ++click) {
            // What the click's dialog was while the click was blocked in its exec().
            QPointer<DialogBootload> dialog;
            QString seen;
            TestSupport::answerModal([&] { QTest::mouseClick(button, Qt::LeftButton); }, [&](QWidget *modal) {
                if ((dialog = qobject_cast<DialogBootload *>(modal)))
                    seen = QStringLiteral("%1, %2, modal %3, on the window %4")
                               .arg(int(dialog->mode)).arg(dialog->windowTitle())
                               .arg(dialog->windowModality() == Qt::ApplicationModal)
                               .arg(dialog->parentWidget() == &window);
                modal->close();
            });
            QCOMPARE(seen, QStringLiteral("%1, %2, modal 1, on the window 1").arg(mode).arg(title));
            // The click returned only after exec() ended, and the dialog is gone.
            QVERIFY(dialog.isNull());
        }
        QVERIFY(window.findChildren<DialogBootload *>().isEmpty());
    }

    // In a font wider than the form's (a plain X server's), every button
    // shows its whole text inside the window.
    void buttonsFitTheirText()
    {
        const QFont before = QApplication::font();
        QFont wide = before;
        if (before.pointSizeF() > 0)
            wide.setPointSizeF(before.pointSizeF() * 2.2);
        else
            wide.setPixelSize(before.pixelSize() * 11 / 5);
        // The program's font, as the desktop gives it before any window is
        // made; the test's own font again when the window has gone.
        QApplication::setFont(wide);
        const std::shared_ptr<void> restore(nullptr, [before](void *) { QApplication::setFont(before); });
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        for (const char *name : { "pushButton", "pushButton_3", "pushButton_2" }) {
            auto *button = window.findChild<QPushButton *>(QLatin1String(name));
            QVERIFY2(button->width() >= button->sizeHint().width(), name);
            QVERIFY2(button->x() >= 0 && button->geometry().right() < window.width(), name);
        }
    }

    // What the window shows when nothing was opened: no update in a folder
    // without settings.json (never the default version), and for an
    // installed program (no folder: the same rule as its dialogs) no update
    // open; erasing needs none.
    void loadedWithoutUpdate()
    {
        // The program's folder, which holds no settings.json here.
        const QString loaded = MainWindow().loadedText();
        QVERIFY2(loaded.startsWith("No update in the folder " + QCoreApplication::applicationDirPath())
                && !loaded.contains("D.02n"), qPrintable(loaded));
        const UpdateSource none;
        QVERIFY(none.summary().startsWith("No update is open"));
        const Problem full = none.problemFor(UpdateMode::FirmwareAndImages);
        QVERIFY(full.kind == Problem::NoUpdate && full.message.startsWith("No update is open"));
        QCOMPARE(none.problemFor(UpdateMode::DeleteImages).kind, Problem::None);
    }

    // The About box names the version CMake's project() line sets.
    void about()
    {
        MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *action = window.findChild<QAction *>(QStringLiteral("actionAbout"));
        QVERIFY(action != nullptr);
        const QString text = TestSupport::dismissModal([&] { action->trigger(); });
        QVERIFY2(text.contains(QStringLiteral("zq-updater " ZQ_EXPECTED_VERSION)), qPrintable(text));
    }

    // A station file that can't be read, or no update to send, opens no
    // station: a message says why.
    void stationRefused_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("says");
        QTest::newRow("no JSON") << QByteArray("slots: A") << "is no JSON object with a \"slots\" list";
        QTest::newRow("missing") << QByteArray() << "cannot read the station file";
        QTest::newRow("one serial, two slots")
            << QByteArray(R"({ "slots": [ { "name": "A", "serial": "X" }, { "name": "B", "serial": "X" } ] })")
            << "slots A and B both name the serial number X";
        QTest::newRow("no update open")
            << QByteArray(R"({ "slots": [ { "name": "A", "serial": "X" } ] })") << "fw1.bin is missing";
    }
    void stationRefused()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, says);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("station.json"));
        QVERIFY(file.isEmpty() || TestSupport::writeFile(path, file));
        MainWindow window;
        auto *action = window.findChild<QAction *>(QStringLiteral("actionStation"));
        QVERIFY(action != nullptr);
        QCOMPARE(action->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_T));
        StationView *opened = nullptr;
        const QString text = TestSupport::dismissModal([&] { opened = window.openStation(path); });
        QVERIFY(opened == nullptr && window.findChild<StationView *>() == nullptr);
        QVERIFY2(!text.isEmpty() && text.contains(says), qPrintable(text));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
