// The window's station view under a real X server (xvfb-run, QT_QPA_PLATFORM=xcb)
// against zq-unit-sim's adapters in a stable-name folder of the test's own
// (ZQ_SERIAL_DIR). Each plug is a simulator process of its own: started, it
// plugs the adapter in (its by-id and by-path links appear); stopped, it
// unplugs it. Every tile is read through its accessible name, as a screen
// reader would.
#include "engine/RecordLog.h"
#include "engine/StationFile.h"
#include "engine/UpdateSource.h"
#include "window/ShiftCounters.h"
#include "window/SlotTile.h"
#include "window/StationView.h"

#include "support/ModalAnswer.h"
#include "support/TestSupport.h"
#include "support/UnitSimProcess.h"

#include <QAccessible>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

namespace {

constexpr int kJobMs = 90000; // a firmware job on a lossy link, on a loaded machine

using TestSupport::readFile;

// Runs the event loop until done() holds or ms pass. Not QTRY_*: its wait
// polls the loop every 10 ms, and a job whose every line waits for that
// takes ten times as long.
bool waitFor(const std::function<bool()> &done, int ms)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] { if (done()) loop.quit(); });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    check.start(50);
    if (!done())
        loop.exec();
    return done();
}

// Waits for cond, and says what the view showed when it did not come.
#define WAIT_VERIFY(cond, shown, ms) QVERIFY2(waitFor([&] { return bool(cond); }, ms), qPrintable(shown))
// Waits until the view's tile of slot reads text, and says what it read when it did not.
#define WAIT_TILE(view, slot, text, ms) \
    WAIT_VERIFY(tileText(view, slot).contains(text), tileText(view, slot), ms)

// Clicks No in a question box.
void answerNo(QWidget *box)
{
    qobject_cast<QMessageBox *>(box)->button(QMessageBox::No)->click();
}

} // namespace

class TestStationView : public QObject
{
    Q_OBJECT

    QTemporaryDir payload;
    QTemporaryDir work;
    QString serialDir;
    int plugs = 0;

    // One adapter or more ("|" between their plans) plugged in while the
    // simulator behind them runs; stopping it unplugs them.
    std::unique_ptr<UnitSimProcess> plug(const QString &plan, const QStringList &more = {})
    {
        auto p = std::make_unique<UnitSimProcess>();
        p->report = work.filePath(QStringLiteral("sim-%1.json").arg(++plugs));
        QStringList args { "--payload", payload.path(), "--report", p->report, "--restart-ms", "20",
            "--serial-dir", serialDir };
        for (const QString &a : plan.split(QLatin1Char('|')))
            args << "--adapter" << a;
        p->p.setStandardErrorFile(QProcess::nullDevice());
        return p->run(args + more, int(plan.count(QLatin1Char('|'))) + 1) ? std::move(p) : nullptr;
    }

    // The station json describes, read from a file as the window reads it.
    StationFile station(const QByteArray &json)
    {
        const QString file = work.filePath(QStringLiteral("station-%1.json").arg(++plugs));
        StationFile station;
        QString error;
        if (!TestSupport::writeFile(file, json) || !station.readFile(file, error))
            qWarning() << file << error;
        return station;
    }

    // The tile's accessible name; empty when there is no such tile.
    static QString tileText(StationView &view, const QString &name)
    {
        for (SlotTile *t : view.tiles())
            if (QAccessibleInterface *a = QAccessible::queryAccessibleInterface(t); t->name() == name && a)
                return a->text(QAccessible::Name);
        return QString();
    }

    static bool opened(StationView &view)
    {
        view.resize(1366, 768);
        view.show();
        const bool exposed = QTest::qWaitForWindowExposed(&view);
        view.start();
        return exposed;
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("zq.*=false"));
        QVERIFY(payload.isValid() && work.isValid());
        // The unit history and the settings in folders of the test's own: a
        // shared test folder is written and removed by other tests meanwhile.
        qputenv("XDG_DATA_HOME", QFile::encodeName(work.filePath(QStringLiteral("data"))));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.filePath(QStringLiteral("config"))));
        QVERIFY(makePayload(payload.path()));
        serialDir = work.filePath(QStringLiteral("serial"));
        QVERIFY(QDir().mkpath(serialDir + "/by-id") && QDir().mkpath(serialDir + "/by-path"));
        qputenv("ZQ_SERIAL_DIR", QFile::encodeName(serialDir));
        qputenv("ZQ_UPDATER_PORTS", QByteArray());
    }

    // Three slots, each plugged in, updated, unplugged and plugged in again:
    // the tiles go from waiting to updated and back, B's unit on a link that
    // loses lines as well. Every unit's job leaves one record.
    void plugUpdateUnplugReplug()
    {
        StationView view(UpdateSource::open(payload.path()), station(R"({ "slots": [ { "name": "A", "serial": "A1" },
            { "name": "B", "serial": "B2" },
            { "name": "C", "location": "pci-0000:00:14.0-usb-0:1.3:1.0-port0" } ] })"));
        QVERIFY2(!view.problem(), qPrintable(view.problem().message));
        QVERIFY(opened(view));
        QCOMPARE(view.tiles().size(), 3);
        QCOMPARE(tileText(view, "A"), QStringLiteral("A; adapter A1; waiting for a unit"));
        QCOMPARE(tileText(view, "C"),
            QStringLiteral("C; adapter pci-0000:00:14.0-usb-0:1.3:1.0-port0; waiting for a unit"));

        const QString version = QStringLiteral("version D.02m to D.03-demo, confirmed");
        for (int round = 1; round <= 2; ++round) {
            const QString lossy = QStringLiteral("--seed=%1").arg(round);
            auto a = plug(QStringLiteral("serial=A1 port=1.1"));
            auto b = plug(QStringLiteral("serial=B2 port=1.2"), { "--drop-lines", "0.01", lossy });
            auto c = plug(QStringLiteral("serial=C3 port=1.3"));
            QVERIFY(a && b && c);
            for (const char *slot : { "A", "B", "C" })
                WAIT_TILE(view, slot, QStringLiteral("; updated; ") + version, kJobMs);
            WAIT_VERIFY(view.running() == 0, QString::number(view.running()), 10000);
            int lost = 0;
            for (UnitSimProcess *p : { a.get(), b.get(), c.get() }) {
                const QJsonArray units = p->stop(); // unplugged
                QCOMPARE(units.size(), 1);
                QVERIFY(units[0]["exitReceived"].toBool() && units[0]["flash"]["equal"].toBool()
                    && units[0]["imagesEqual"].toBool());
                lost += units[0]["faults"]["droppedLines"].toInt();
            }
            QVERIFY2(lost > 0, "B's link lost no line");
            for (const char *slot : { "A", "B", "C" })
                WAIT_TILE(view, slot, QStringLiteral("; waiting for a unit: last unit updated"), 10000);
            QCOMPARE(view.counters().updated(), 3 * round);
        }
        QCOMPARE(std::pair(view.counters().notUpdated(), view.counters().held()), std::pair(0, 0));
        QCOMPARE(view.counters().recent().size(), 6);
        QVERIFY2(view.counters().recent().first().contains(QStringLiteral("updated, D.03-demo")),
            qPrintable(view.counters().recent().first()));
        QCOMPARE(readFile(RecordLog::historyFile()).count('\n'), 6);
    }

    // Two adapters with slot A's serial number hold slot A (its tile says
    // so), B's unit is updated meanwhile; once the second adapter goes, A's
    // unit is updated too.
    void sharedSerialHoldsItsSlot()
    {
        StationView view(UpdateSource::open(payload.path()), station(
            R"({ "slots": [ { "name": "A", "serial": "D1" }, { "name": "B", "serial": "E2" } ] })"));
        QVERIFY(opened(view));
        auto adapters = plug(QStringLiteral("serial=D1 port=2.1|serial=D1 port=2.2"));
        auto b = plug(QStringLiteral("serial=E2 port=2.3"));
        QVERIFY(adapters && b);
        WAIT_TILE(view, "A", QStringLiteral("A; adapter D1; held: slot A: 2 adapters have the serial number D1"),
            20000);
        WAIT_TILE(view, "B", QStringLiteral("; updated; "), kJobMs);
        QVERIFY2(tileText(view, "A").contains(QStringLiteral("; held: ")), qPrintable(tileText(view, "A")));
        QCOMPARE(view.counters().held(), 1);

        // Put right: the second adapter is unplugged (its links go, as udev's do).
        QVERIFY(QFile::remove(serialDir + "/by-id/usb-FTDI_FT232R_USB_UART_D1-if01-port0")
            && QFile::remove(serialDir + "/by-path/pci-0000:00:14.0-usb-0:2.2:1.0-port0"));
        WAIT_TILE(view, "A", QStringLiteral("; updated; "), kJobMs);
        // Held counted once, not per repeat.
        QCOMPARE(std::pair(view.counters().updated(), view.counters().held()), std::pair(2, 1));
        adapters->stop();
        b->stop();
    }

    // Without a station file every adapter gets a tile, named by its serial number.
    void everyAdapterATile()
    {
        StationView view(UpdateSource::open(payload.path()), StationFile());
        QVERIFY(opened(view));
        QVERIFY(view.tiles().isEmpty());
        auto p = plug(QStringLiteral("serial=N7 port=3.1"));
        QVERIFY(p);
        WAIT_TILE(view, "N7", QStringLiteral("; updated; "), kJobMs);
        QCOMPARE(view.tiles().size(), 1);
        p->stop();
    }

    // Closing asks while a unit is updating (No keeps the view); Stop, from
    // the keyboard, lets the running unit finish and starts no new job;
    // closing then asks nothing.
    void stopFinishesAndStartsNone()
    {
        StationView view(UpdateSource::open(payload.path()), station(
            R"({ "slots": [ { "name": "A", "serial": "F1" }, { "name": "B", "serial": "F2" } ] })"));
        QVERIFY(opened(view));
        view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&view));
        const auto a = plug(QStringLiteral("serial=F1 port=4.1"));
        QVERIFY(a);
        WAIT_TILE(view, "A", QStringLiteral("; updating: "), 30000);

        QVERIFY(TestSupport::answerModal([&] { view.close(); }, answerNo));
        QVERIFY(view.isVisible() && view.running() == 1);

        view.activateWindow(); // back from the question
        QVERIFY(QTest::qWaitForWindowActive(&view));
        auto *stopButton = view.findChild<QPushButton *>(QStringLiteral("stationStop"));
        stopButton->setFocus();
        QTest::keyClick(stopButton, Qt::Key_Space); // Stop, from the keyboard
        QVERIFY(!stopButton->isEnabled());
        auto b = plug(QStringLiteral("serial=F2 port=4.2"));
        QVERIFY(b);
        WAIT_TILE(view, "A", QStringLiteral("; updated; "), kJobMs);
        QCOMPARE(tileText(view, "B"), QStringLiteral("B; adapter F2; waiting for a unit"));
        WAIT_VERIFY(view.findChild<QLabel *>(QStringLiteral("stationStatus"))->text().startsWith("Stopped"),
            view.findChild<QLabel *>(QStringLiteral("stationStatus"))->text(), 10000);
        const QJsonArray bUnits = b->stop(); // no job started on B
        QCOMPARE(std::pair(int(bUnits.size()), bUnits[0]["lines"]["fromTool"].toInt()), std::pair(1, 0));

        QVERIFY(!TestSupport::answerModal([&] { view.close(); }, answerNo));
        QVERIFY(!view.isVisible());
        a->stop();
    }
};

QTEST_MAIN(TestStationView)
#include "tst_stationview.moc"
