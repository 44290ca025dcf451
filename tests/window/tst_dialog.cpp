// The update dialog as its constructor leaves it: the form, the title of each
// job, the version from settings.json and the display images it names; and
// its ports: every port named in ZQ_UPDATER_PORTS is opened at 19200 baud,
// 8N1, once, in the given order; one that cannot be opened stays listed,
// closed; closing the dialog closes and deletes them all. The unit table
// during whole jobs: a row per port, each following its own unit.
#include "PayloadWriter.h"
#include "PtyPair.h"
#include "support/JobRig.h"
#include "support/TestSupport.h"
#include "window/DialogBootload.h"
#include "engine/UnitJob.h"
#include "engine/Protocol.h"
#include "payload/UpdateMode.h"


#include <QAction>
#include <QClipboard>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QTableWidget>
#include <QTextEdit>
#include <QRegularExpression>
#include <QSerialPortInfo>
#include <QtTest>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Writes an image of width x height beside the test program; returns its pixel bytes.
QByteArray writeImage(const QString &fileName, int width, int height, quint32 seed)
{
    const QByteArray pixels = PayloadWriter::pixels(width, height, seed);
    const bool written = PayloadWriter::writeImageSource(TestSupport::appFile(fileName),
        QFileInfo(fileName).completeBaseName(), width, height, pixels);
    return written ? pixels : QByteArray();
}

// The dialog's job log (its textEdit), as the user reads it.
QString logOf(const QWidget &dlg)
{
    return dlg.findChild<QTextEdit *>(QStringLiteral("textEdit"))->toPlainText();
}

// The user's history file in a data folder of the test's own while it lives.
struct OwnHistory {
    QTemporaryDir data;
    OwnHistory() { qputenv("XDG_DATA_HOME", QFile::encodeName(data.path())); }
    ~OwnHistory() { qunsetenv("XDG_DATA_HOME"); }
    // The file's lines, the empty one after its last line feed included.
    QList<QByteArray> lines() const
    {
        const QString file = QCoreApplication::applicationName() + "/history.jsonl";
        return TestSupport::readFile(data.filePath(file)).split('\n');
    }
};

const QString kTitle = QStringLiteral("ORVEK ANNEALING ZQ Firmware Update ");

// How many descriptors of this process are open on the device at path.
int descriptorsOn(const QString &path)
{
    const QDir fds(QStringLiteral("/proc/self/fd"));
    int count = 0;
    for (const QString &entry : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        count += QFileInfo(fds.filePath(entry)).symLinkTarget() == path ? 1 : 0;
    return count;
}

// The device path of a port that was given by its path.
QString devicePathOf(const UnitJob *port)
{
    const QString name = port->portName();
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

} // namespace

Q_DECLARE_METATYPE(UpdateMode)

class TestDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("zq.*=false"));
        cleanup();
    }

    // Only the ports a test names itself.
    void cleanup()
    {
        qunsetenv("ZQ_UPDATER_PORTS");
        TestSupport::removeAppFiles({ "settings.json", "logo.c", "splash.c", "icons.c", "fw1.bin",
            PayloadWriter::DemoLargeImage, PayloadWriter::DemoSmallImage });
    }

    // settings.json's "Version" in the title and the label, per mode: a fault
    // here is a mode shown with another's title, or the version left out. No
    // settings.json, or one that can't be read, gives the default version and
    // no images, and the log says why. The 500 ms job timer runs either way.
    void version_data()
    {
        QTest::addColumn<QByteArray>("settings"); // null: no file
        QTest::addColumn<UpdateMode>("mode");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("logged"); // what the log says of settings.json; empty: nothing

        const QString images = kTitle + "- Update Images";
        const UpdateMode full = UpdateMode::FirmwareAndImages;
        const QString fallback = kTitle + "D.02n", erase = kTitle + "- Delete Images";
        QTest::newRow("missing") << QByteArray() << full << "D.02n" << fallback << "missing";
        QTest::newRow("empty file") << QByteArray("") << full << "D.02n" << fallback << "settings.json";
        QTest::newRow("invalid JSON")
            << QByteArray(R"({"Version": "E.01", "Images": [)") << full << "D.02n" << fallback << "settings.json";
        QTest::newRow("not an object") << QByteArray(R"(["E.01"])") << full << "D.02n" << fallback << "settings.json";
        QTest::newRow("text") << QByteArray(R"({"Version": "E.01a"})") << full << "E.01a" << kTitle + "E.01a" << "";
        QTest::newRow("blanks kept") << QByteArray(R"({"Version": " x "})") << full << " x " << kTitle + " x " << "";
        QTest::newRow("empty string") << QByteArray(R"({"Version": ""})") << full << "D.02n" << fallback << "";
        // A version that is no text is shown as written, never as the default,
        // and the log says what is wrong.
        QTest::newRow("number") << QByteArray(R"({"Version": 3})") << full << "3" << kTitle + "3"
                                << "settings.json: Version 3 is not a text";
        QTest::newRow("absent") << QByteArray(R"({"Images": []})") << full << "D.02n" << fallback << "";
        QTest::newRow("images only")
            << QByteArray(R"({"Version": "E.01a"})") << UpdateMode::ImagesOnly << "E.01a" << images << "";
        QTest::newRow("delete images, default")
            << QByteArray(R"({"Version": ""})") << UpdateMode::DeleteImages << "D.02n" << erase << "";
    }

    void version()
    {
        QFETCH(QByteArray, settings);
        QFETCH(UpdateMode, mode);
        QFETCH(QString, version);
        QFETCH(QString, title);
        QFETCH(QString, logged);
        QVERIFY(settings.isNull() || TestSupport::writeAppFile("settings.json", settings));

        DialogBootload dlg(mode, nullptr);
        QVERIFY(dlg.jobs().ticking());
        QCOMPARE(dlg.jobs().tickMs(), 500);
        dlg.jobs().stopTimer();
        QCOMPARE(dlg.mode, mode);
        QCOMPARE(dlg.windowTitle(), title);
        QCOMPARE(dlg.findChild<QLabel *>("label_UpdateVersion")->text(), "Update Version: " + version);
        QVERIFY(dlg.images().isEmpty());
        const QProgressBar *load = dlg.findChild<QProgressBar *>("progressBarLoad");
        QCOMPARE(std::pair(load->maximum(), load->value()), std::pair(913414, 0));
        QCOMPARE(dlg.findChild<QProgressBar *>("progressBarVerify")->maximum(), 0);
        // A readable settings file is nothing to report; one that is there is named once.
        const QString log = logOf(dlg);
        QVERIFY2(log.contains(logged) && log.contains("settings.json") != logged.isEmpty()
                && (settings.isNull() || log.count("settings.json") <= 1),
            qPrintable(log));
    }

    // The images in the order settings.json lists them; a file that is missing
    // keeps its place without bytes, and is the only one the log names.
    // Numbers that are absent or no whole numbers read as 0; an entry that is
    // no object has no file name, so its path is the folder itself.
    void images_data()
    {
        QTest::addColumn<QByteArray>("images"); // settings.json's "Images"
        QTest::addColumn<QString>("read"); // per image: name/version widthxheight, and whose bytes
        QTest::addColumn<QString>("named"); // the file the log names
        QTest::addColumn<QStringList>("unnamed"); // the files it must not name
        QTest::newRow("in order, one missing") << QByteArray(R"([
            {"FileName": "splash.c", "ImageName": 2, "ImageVersion": 11},
            {"FileName": "logo.c", "ImageName": 1, "ImageVersion": 12},
            {"FileName": "gone.c", "ImageName": 3, "ImageVersion": 5},
            {"FileName": "icons.c", "ImageName": 7, "ImageVersion": 13}])")
            << "2/11 5x4 splash.c, 1/12 3x2 logo.c, 3/5 0x0 -, 7/13 1x1 icons.c" << "gone.c"
            << QStringList { "logo.c", "splash.c", "icons.c" };
        QTest::newRow("no numbers, no name") << QByteArray(R"([{"FileName": "logo.c"},
            {"FileName": "logo.c", "ImageName": 1.5, "ImageVersion": "4"}, 7])")
            << "0/0 3x2 logo.c, 0/0 3x2 logo.c, 0/0 0x0 -" << "" << QStringList();
    }

    void images()
    {
        QFETCH(QByteArray, images);
        QFETCH(QString, read);
        QFETCH(QString, named);
        QFETCH(QStringList, unnamed);
        const QMap<QString, QByteArray> files { { "logo.c", writeImage("logo.c", 3, 2, 1) },
            { "splash.c", writeImage("splash.c", 5, 4, 2) }, { "icons.c", writeImage("icons.c", 1, 1, 3) } };
        QVERIFY(!files.values().contains(QByteArray()));
        QVERIFY(TestSupport::writeAppFile("settings.json", R"({"Version": "E.02", "Images": )" + images + "}"));

        DialogBootload dlg(UpdateMode::ImagesOnly, nullptr);
        dlg.jobs().stopTimer();
        QStringList got;
        int bytes = 0;
        for (const ImageRecord &r : dlg.images()) {
            got << QStringLiteral("%1/%2 %3x%4 %5").arg(r.imageName).arg(r.imageVersion).arg(r.width).arg(r.height)
                    .arg(files.key(r.pixels, QStringLiteral("-")));
            bytes += int(r.pixels.size());
        }
        QCOMPARE(got.join(QStringLiteral(", ")), read);
        const QProgressBar *verify = dlg.findChild<QProgressBar *>("progressBarVerify");
        QCOMPARE(QList<int>({ verify->minimum(), verify->maximum(), verify->value() }), QList<int>({ 0, bytes, 0 }));
        const QString log = logOf(dlg);
        QVERIFY2(!log.isEmpty() && log.contains(named), qPrintable(log));
        for (const QString &name : unnamed)
            QVERIFY2(!log.contains(name), qPrintable(log));
    }

    void namedPortOpensOnce_data()
    {
        QTest::addColumn<QString>("pattern"); // %1: the device path, %2: the port name

        QTest::newRow("path") << "%1";
        QTest::newRow("name") << "%2";
        QTest::newRow("twice") << "%1,%1";
        QTest::newRow("empty entries") << ",%1,,";
        QTest::newRow("path and name") << "%1,%2";
    }

    void namedPortOpensOnce()
    {
        QFETCH(QString, pattern);
        PtyPair pty;
        QVERIFY(pty.open());
        const QString path = pty.slavePath();
        QVERIFY(path.startsWith(QLatin1String("/dev/")));
        qputenv("ZQ_UPDATER_PORTS", pattern.arg(path, path.mid(5)).toLocal8Bit());

        QCOMPARE(descriptorsOn(path), 1); // the pair's own
        DialogBootload dlg(UpdateMode::FirmwareAndImages, nullptr);
        dlg.jobs().stopTimer();

        QCOMPARE(dlg.ports().size(), 1);
        UnitJob *port = dlg.ports().first();
        QCOMPARE(devicePathOf(port), path);
        QVERIFY(port->link.isOpen());
        QCOMPARE(port->jobState, JobState::StartVersionQuery);
        QCOMPARE(descriptorsOn(path), 2);
        QVERIFY2(!logOf(dlg).contains(QLatin1String("Could not open port")), qPrintable(logOf(dlg)));

        // What the line itself was set to: 19200 baud, 8N1, no flow control.
        QCOMPARE(pty.baudRate(), 19200);
        termios t {};
        QCOMPARE(tcgetattr(pty.masterFd(), &t), 0);
        QCOMPARE(t.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t(CS8));
        QCOMPARE(t.c_iflag & (IXON | IXOFF), tcflag_t(0));

        // Received bytes reach the port's receive line through the dialog.
        const QByteArray partial = "$MVERR,1";
        QCOMPARE(::write(pty.masterFd(), partial.constData(), partial.size()), ssize_t(partial.size()));
        QTRY_COMPARE_WITH_TIMEOUT(int(port->rxLength), partial.size(), 10000);

        // A line is written when it is sent, not on a later write notification:
        // it has reached the unit's end before the event loop runs again.
        Protocol::Line buf;
        Protocol::versionQuery(buf);
        dlg.jobs().sendLine(port, buf);
        QByteArray atUnit;
        TestSupport::readAvailable(pty.masterFd(), atUnit);
        QCOMPARE(atUnit, QByteArray("$MVER*826A\n"));

        // Closing the dialog closes its port; the units are gone.
        dlg.reject();
        QVERIFY(dlg.ports().isEmpty());
        QCOMPARE(descriptorsOn(path), 1);
    }

    void portsInTheGivenOrderAndOneThatCannotOpen()
    {
        PtyPair first;
        PtyPair second;
        QVERIFY(first.open() && second.open());
        const QString missing = TestSupport::appFile(QStringLiteral("no-such-folder/ttyZQ0"));
        QVERIFY(!QFileInfo::exists(missing));
        // Given second before first: the variable's order counts, not the order of creation.
        const QStringList given { missing, second.slavePath(), first.slavePath() };
        qputenv("ZQ_UPDATER_PORTS", given.join(QLatin1Char(',')).toLocal8Bit());

        DialogBootload dlg(UpdateMode::DeleteImages, nullptr);
        dlg.jobs().stopTimer();
        QCOMPARE(dlg.ports().size(), 3);
        QCOMPARE(dlg.ports()[0]->portName(), missing);
        QVERIFY(!dlg.ports()[0]->link.isOpen());
        QCOMPARE(devicePathOf(dlg.ports()[1]), second.slavePath());
        QCOMPARE(devicePathOf(dlg.ports()[2]), first.slavePath());
        QVERIFY(dlg.ports()[1]->link.isOpen() && dlg.ports()[2]->link.isOpen());
        QCOMPARE(std::pair(descriptorsOn(first.slavePath()), descriptorsOn(second.slavePath())), std::pair(2, 2));

        // The user reads which port failed; the open ones are not mentioned.
        const QString log = logOf(dlg);
        QVERIFY2(log.contains(QStringLiteral("Could not open port ") + missing), qPrintable(log));
        // Its row's log is that line, which names it; the others have none.
        QVERIFY(dlg.unitLog(0).startsWith(QStringLiteral("Could not open port ") + missing));
        QVERIFY(dlg.unitLog(1).isEmpty() && dlg.unitLog(2).isEmpty());
        QCOMPARE(dlg.findChild<QTableWidget *>("tableUnits")->item(0, 0)->text(), missing);
        QVERIFY2(!log.contains(first.slavePath().mid(5)) && !log.contains(second.slavePath().mid(5)), qPrintable(log));

        // A reply steps only the port that replied: stepping every port on every
        // reply made the other units resend while their own replies were on the way.
        const QByteArray reply = "$MVERR,V9\n";
        QCOMPARE(::write(first.masterFd(), reply.constData(), size_t(reply.size())), ssize_t(reply.size()));
        QTRY_COMPARE(dlg.ports()[2]->status.version, QStringLiteral("V9"));
        QCOMPARE(dlg.ports()[1]->jobState, JobState::StartVersionQuery);

        // Every port is closed and its unit gone, the one that never opened too.
        dlg.reject();
        QVERIFY(dlg.ports().isEmpty());
        QCOMPARE(std::pair(descriptorsOn(first.slavePath()), descriptorsOn(second.slavePath())), std::pair(1, 1));
    }

    void noPortsAtAll()
    {
        for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts())
            if (info.manufacturer().contains(QLatin1String("FTDI")))
                QSKIP("an FTDI adapter is attached to this machine");

        DialogBootload dlg(UpdateMode::FirmwareAndImages, nullptr);
        QVERIFY(dlg.ports().isEmpty());
        QVERIFY(dlg.jobs().ticking());
        QVERIFY2(!logOf(dlg).contains(QLatin1String("Could not open port")), qPrintable(logOf(dlg)));
    }

    // Two units, one on a slower link: a row each, in port order, each
    // following its own unit's stage and progress, written at most once a frame.
    void unitRowsFollowTheirUnits()
    {
        QVERIFY(PayloadWriter::writeDemoPayload(QCoreApplication::applicationDirPath(), 7));
        SimConfig slow = JobRig::quickUnit(2);
        slow.pace = true;
        slow.latencyMs = 2;
        JobRig rig(UpdateMode::ImagesOnly, { JobRig::quickUnit(1), slow }, nullptr, QString(), JobRig::Dialog);
        QVERIFY(rig.ready());
        rig.dlg->show(); // the rows are painted too
        QTableWidget *table = rig.dlg->findChild<QTableWidget *>("tableUnits");
        QCOMPARE(table->rowCount(), 2);
        QElapsedTimer clock;
        clock.start();
        QList<QStringList> stages { {}, {} };
        QList<QList<int>> percents { {}, {} };
        QList<QList<qint64>> frames { {}, {} }; // when the progress was written
        connect(table, &QTableWidget::itemChanged, this, [&](QTableWidgetItem *item) {
            QStringList &shown = stages[item->row()];
            if (item->column() == 2 && (shown.isEmpty() || shown.last() != item->text()))
                shown << item->text();
            if (item->column() == 3) {
                percents[item->row()] << item->data(Qt::DisplayRole).toInt();
                frames[item->row()] << clock.elapsed();
            }
        });
        for (int row = 0; row < 2; ++row)
            QCOMPARE(QStringLiteral("/dev/") + table->item(row, 0)->text(), rig.units[row]->path());

        QTRY_COMPARE_WITH_TIMEOUT(table->item(0, 2)->text(), QStringLiteral("updated"), 60000);
        QVERIFY(table->item(1, 3)->data(Qt::DisplayRole).toInt() < 100); // still on its way
        QTRY_COMPARE_WITH_TIMEOUT(table->item(1, 2)->text(), QStringLiteral("updated"), 120000);
        QTRY_VERIFY_WITH_TIMEOUT(rig.ended(), 10000);
        QVERIFY(percents[1].size() >= 10); // the slow unit's row moved step by step
        // The elapsed time, "m:ss" (how long each took is the machine's business).
        const QRegularExpression elapsed(QStringLiteral("^\\d+:[0-5]\\d$"));
        for (int row = 0; row < 2; ++row) {
            QVERIFY2(elapsed.match(table->item(row, 4)->text()).hasMatch(),
                qPrintable(table->item(row, 4)->text()));
            QVERIFY2(rig.unitUpdated(row), rig.describe().constData());
            // What the unit runs now, as it answered after "$X".
            QCOMPARE(table->item(row, 1)->text(), QStringLiteral("D.03-demo, confirmed"));
            // The slow unit's second image lasts many frames; the fast one's may not.
            const int first = stages[row].indexOf("image 1 of 2");
            QVERIFY2(first >= 0 && first < stages[row].indexOf(row == 1 ? "image 2 of 2" : "finishing"),
                qPrintable(stages[row].join('|')));
            QVERIFY(std::is_sorted(percents[row].cbegin(), percents[row].cend()));
            QCOMPARE(percents[row].last(), 100);
            const QColor colour = table->item(row, 2)->foreground().color();
            QVERIFY(colour.green() > 2 * colour.red());
            QCOMPARE(table->item(row, 5)->text(), QString::number(rig.port(row)->timing.resends));
            // Frames at least kFrameMs apart (timers may be a few per cent early).
            const qint64 span = frames[row].last() - frames[row].first();
            QVERIFY2((frames[row].size() - 1) * DialogBootload::kFrameMs * 9 / 10 <= span,
                qPrintable(QStringLiteral("%1 frames in %2 ms").arg(frames[row].size()).arg(span)));
        }
    }

    // No fw1.bin, one unit unplugged: both rows say why, and each unit's log
    // holds only its own lines.
    void failedUnitsAndTheirOwnLogs()
    {
        QVERIFY(PayloadWriter::writeDemoPayload(QCoreApplication::applicationDirPath(), 8));
        QVERIFY(QFile::remove(TestSupport::appFile("fw1.bin")));
        SimConfig unplugged = JobRig::quickUnit(3);
        unplugged.unplugAfter = 2; // in the version query
        JobRig rig(UpdateMode::FirmwareAndImages, { unplugged, JobRig::quickUnit(4) }, nullptr, QString(), JobRig::Dialog);
        QVERIFY(rig.ready());
        rig.dlg->show();
        QTRY_VERIFY_WITH_TIMEOUT(rig.ended(), JobRig::kTimeoutMs);
        QTableWidget *table = rig.dlg->findChild<QTableWidget *>("tableUnits");
        const QString reason = rig.port(1)->status.reason;
        QVERIFY2(reason.startsWith("the firmware"), qPrintable(reason));
        QTRY_COMPARE(table->item(0, 2)->text(), QStringLiteral("connection lost"));
        QTRY_COMPARE(table->item(1, 2)->text(), "not updated: " + reason);
        for (const QTableWidgetItem *item : { table->item(0, 2), table->item(1, 2) })
            QVERIFY(item->foreground().color().red() > 2 * item->foreground().color().green());

        QVERIFY(QTest::qWaitForWindowExposed(rig.dlg.get()));
        const QRect cell = table->visualItemRect(table->item(1, 0));
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center()); // press, release,
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center()); // double-click
        const QString log = QApplication::clipboard()->text();
        QVERIFY2(log.contains("The firmware was not updated") && log.contains(rig.port(1)->portName() + ": job took")
                && !log.contains("Connection to") && !log.contains("will not be updated"),
            qPrintable(log));
        table->setCurrentCell(0, 0);
        table->actions().constFirst()->trigger();
        QCOMPARE(QApplication::clipboard()->text(),
            rig.log().split('\n').filter("Connection to " + rig.port(0)->portName() + " lost").join('\n'));
    }

    // A unit whose new firmware does not start after "$X" stays updated, but
    // its row warns: "updated, not confirmed" in amber, beside a green one.
    void aUnitThatDoesNotStartIsNotConfirmed()
    {
        QVERIFY(PayloadWriter::writeDemoPayload(QCoreApplication::applicationDirPath(), 10));
        SimConfig dead = JobRig::quickUnit(6);
        dead.noStart = true;
        JobRig rig(UpdateMode::ImagesOnly, { dead, JobRig::quickUnit(7) }, nullptr, QString(), JobRig::Dialog);
        QVERIFY(rig.ready());
        rig.dlg->show(); // laid out as the user sees it
        QTRY_VERIFY_WITH_TIMEOUT(rig.ended(), JobRig::kTimeoutMs);
        QVERIFY2(rig.unitUpdated(0) && rig.unitUpdated(1), rig.describe().constData());
        QTableWidget *table = rig.dlg->findChild<QTableWidget *>("tableUnits");
        QTRY_COMPARE(table->item(0, 2)->text(), QStringLiteral("updated, not confirmed"));
        QTRY_COMPARE(table->item(1, 2)->text(), QStringLiteral("updated"));
        // The version each unit runs now, and whether it said so, with every
        // column in view and room for the progress bar.
        int fixed = 0; // every column but the progress bar's
        for (const int column : { 0, 1, 2, 4, 5 })
            fixed += table->horizontalHeader()->sectionSize(column);
        QVERIFY(fixed + 90 <= table->width() - 2 * table->frameWidth());
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("not confirmed (was D.02m)"));
        QCOMPARE(table->item(1, 1)->text(), QStringLiteral("D.03-demo, confirmed"));
        const QString unitVersion = rig.dlg->findChild<QLabel *>("label_UnitVersion")->text();
        QVERIFY(unitVersion.endsWith(", confirmed") || unitVersion.endsWith("(was D.02m)"));
        const QColor amber = table->item(0, 2)->foreground().color();
        const QColor green = table->item(1, 2)->foreground().color();
        QVERIFY(amber.red() > amber.green() && amber.green() > amber.blue());
        QVERIFY(green.green() > 2 * green.red());
        QVERIFY2(rig.log().contains(rig.port(0)->portName() + ": the unit did not answer the version query in 10 s "
                                            "after \"$X\": updated, not confirmed"),
            rig.describe().constData());
        QVERIFY2(rig.log().contains(
                     rig.port(1)->portName() + ": the unit runs version D.03-demo now (before the update: D.02m)"),
            rig.describe().constData());
        QCOMPARE(rig.log().count("Bootload Complete"), 2);
    }

    // A unit's ended job leaves one record, once: in the user's history file
    // (the application data folder) without a records database; with one,
    // there and not in the file, unless the database refuses it.
    void finishedJobRecordedInHistory_data()
    {
        QTest::addColumn<int>("database"); // 0: none, 1: takes the record, 2: refuses it
        QTest::newRow("no database") << 0;
        QTest::newRow("taken by the database") << 1;
        QTest::newRow("refused by the database") << 2;
    }

    void finishedJobRecordedInHistory()
    {
        QFETCH(int, database);
        QVERIFY(PayloadWriter::writeDemoPayload(QCoreApplication::applicationDirPath(), 9));
        const OwnHistory history;
        QString given; // the port as ZQ_UPDATER_PORTS names it
        QList<QJsonObject> stored;
        {
            JobRig rig(UpdateMode::ImagesOnly, { JobRig::quickUnit(5) }, nullptr, QString(), JobRig::Dialog);
            QVERIFY(rig.ready());
            given = rig.units.front()->path();
            if (database > 0)
                rig.dlg->setRecordSink([&stored, database](const QJsonObject &record, QString &why) {
                    stored << record;
                    why = QStringLiteral("the disk is full");
                    return database == 1;
                });
            QTRY_VERIFY_WITH_TIMEOUT(rig.ended(), JobRig::kTimeoutMs);
            QVERIFY2(rig.unitUpdated(0), rig.describe().constData());
            rig.dlg->reject(); // closing the dialog adds nothing
        }
        QCOMPARE(stored.size(), database > 0 ? 1 : 0);
        const QList<QByteArray> lines = history.lines();
        QCOMPARE(lines.size(), database == 1 ? 1 : 2); // a record and the last line feed, or nothing
        const QJsonObject r = database == 1 ? stored[0] : QJsonDocument::fromJson(lines[0]).object();
        if (database == 2)
            QCOMPARE(r, stored[0]);
        // The simulated unit holds the images it is expected to: it answers
        // with the update's version (an images job compares none). The port is
        // named as the command line's records name it: as given.
        for (const auto &[key, value] : { QPair<QString, QString>("result", "updated"), { "mode", "images" },
                 { "unitVersion", "D.02m" }, { "updateVersion", "D.03-demo" }, { "confirmation", "confirmed" },
                 { "confirmedVersion", "D.03-demo" }, { "port", given } })
            QCOMPARE(r[key].toString(), value);
        QVERIFY(r["seconds"].toDouble() > 0 && r["linesSent"].toInt() > 0);
        const QJsonArray stages = r["stages"].toArray();
        QVERIFY(stages.size() >= 3);
        QCOMPARE(stages.first()["stage"].toString(), QStringLiteral("versionQuery"));
        QCOMPARE(stages.last()["stage"].toString(), QStringLiteral("updated"));
        const QJsonArray images = r["images"].toArray();
        QCOMPARE(images.size(), 2);
        for (const QJsonValue &image : images)
            QCOMPARE(image["sha256"].toString(),
                TestSupport::sha256(TestSupport::readFile(TestSupport::appFile(image["file"].toString()))));
    }

    // Another fw1.bin copied over the payload folder's in the middle of the
    // firmware: the unit ends holding the file as it was when the dialog
    // opened, and the history names that file's digest.
    void firmwareCopiedOverDuringTheJob()
    {
        QVERIFY(PayloadWriter::writeDemoPayload(QCoreApplication::applicationDirPath(), 11));
        const QString fw = TestSupport::appFile(QStringLiteral("fw1.bin"));
        const QByteArray first = PayloadWriter::firmware(PayloadWriter::FirmwareSize, 11);
        const OwnHistory history;
        {
            // The unit compares its flash with the fw1.bin it read at its start.
            JobRig rig(UpdateMode::FirmwareAndImages, { JobRig::quickUnit(12) }, nullptr, QString(), JobRig::Dialog);
            QVERIFY(rig.ready());
            QTRY_VERIFY_WITH_TIMEOUT(rig.port(0)->address >= 0x40000, JobRig::kTimeoutMs);
            // Copied over in place, as a file manager does: the same file, new bytes.
            QVERIFY(TestSupport::writeFile(fw, PayloadWriter::firmware(PayloadWriter::FirmwareSize, 99)));
            QTRY_VERIFY_WITH_TIMEOUT(rig.ended(), JobRig::kTimeoutMs);
            QVERIFY2(rig.unitUpdated(0), rig.describe().constData());
            QCOMPARE(rig.log().count(QStringLiteral("Bootload Complete")), 1);
        }
        const QJsonObject r = QJsonDocument::fromJson(history.lines().first()).object();
        QCOMPARE(r["firmwareSha256"].toString(), TestSupport::sha256(first));
    }

    // A FIFO where an image belongs: the dialog opens and its log names the
    // FIFO at once (nothing waits for a writer), the record of the update
    // included; the image is not sent.
    void imageFifoNamedAtOnce()
    {
        QVERIFY(PayloadWriter::writeDemoPayload(QCoreApplication::applicationDirPath(), 13));
        const QString image = TestSupport::appFile(QLatin1String(PayloadWriter::DemoSmallImage));
        QVERIFY(QFile::remove(image));
        QCOMPARE(::mkfifo(QFile::encodeName(image).constData(), 0644), 0);
        DialogBootload dlg(UpdateMode::FirmwareAndImages, nullptr);
        dlg.jobs().stopTimer();
        const QString log = logOf(dlg);
        QVERIFY2(log.contains(QLatin1String(PayloadWriter::DemoSmallImage) + " is a FIFO, not a regular file"),
            qPrintable(log));
        QCOMPARE(dlg.images().size(), 2);
        QVERIFY(!dlg.images().at(1).problem.isEmpty());
        QVERIFY(QFile::remove(image));
    }
};

QTEST_MAIN(TestDialog)
#include "tst_dialog.moc"
