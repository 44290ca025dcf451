// The update dialog as its constructor leaves it: the form, the title of each
// job, the version from settings.json and the display images it names.
#include "PayloadWriter.h"
#include "support/TestSupport.h"
#include "update/DialogBootload.h"
#include "update/UpdateMode.h"

#include "ui_DialogBootload.h"

#include <QtTest>

namespace {

// Writes an image of width x height beside the test program; returns its pixel bytes.
QByteArray writeImage(const QString &fileName, int width, int height, quint32 seed)
{
    const QByteArray pixels = PayloadWriter::pixels(width, height, seed);
    const bool written = PayloadWriter::writeImageSource(
        TestSupport::appFile(fileName), QFileInfo(fileName).completeBaseName(), width, height, pixels);
    return written ? pixels : QByteArray();
}

bool writeSettings(const QByteArray &json)
{
    return TestSupport::writeAppFile(QStringLiteral("settings.json"), json);
}

const QString kTitle = QStringLiteral("ORVEK ANNEALING ZQ Firmware Update ");

} // namespace

class TestDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void form_data();
    void form();
    void withoutSettings();
    void unusableSettings_data();
    void unusableSettings();
    void version_data();
    void version();

    void threeImagesInOrder();
    void entriesWithoutNumbersOrName();
    void missingImageFile();
};

void TestDialog::initTestCase()
{
    // Only the ports a test names itself; here, none.
    qunsetenv("ZQ_UPDATER_PORTS");
    cleanup();
}

void TestDialog::cleanup()
{
    TestSupport::removeAppFiles({ "settings.json", "logo.c", "splash.c", "icons.c" });
}

void TestDialog::form_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    QTest::newRow("progressBarLoad") << "progressBarLoad" << QRect(50, 60, 381, 23) << QString();
    QTest::newRow("textEdit") << "textEdit" << QRect(10, 240, 481, 171) << QString();
    QTest::newRow("progressBarVerify") << "progressBarVerify" << QRect(50, 130, 381, 23) << QString();
    QTest::newRow("label") << "label" << QRect(50, 40, 47, 13) << "Program";
    QTest::newRow("label_2") << "label_2" << QRect(50, 110, 47, 13) << "Images";
    QTest::newRow("label_UpdateVersion")
        << "label_UpdateVersion" << QRect(60, 170, 411, 16) << "Update Version: D.02n";
    QTest::newRow("label_UnitVersion")
        << "label_UnitVersion" << QRect(60, 190, 411, 16) << "Unit Version:";
    QTest::newRow("label_Status") << "label_Status" << QRect(46, 220, 401, 20) << "Status";
    QTest::newRow("labelTX") << "labelTX" << QRect(400, 170, 47, 13) << "TX: ";
    QTest::newRow("labelRX") << "labelRX" << QRect(400, 190, 47, 13) << "RX:";
}

void TestDialog::form()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);

    DialogBootload dlg(FirmwareAndImages, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.size(), QSize(507, 433));
    auto *widget = dlg.findChild<QWidget *>(name);
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->parentWidget(), &dlg);
    QCOMPARE(widget->geometry(), geometry);
    if (auto *label = qobject_cast<QLabel *>(widget))
        QCOMPARE(label->text(), text);
    if (name == QLatin1String("label_Status"))
        QCOMPARE(qobject_cast<QLabel *>(widget)->alignment(), Qt::Alignment(Qt::AlignCenter));
}

void TestDialog::withoutSettings()
{
    DialogBootload dlg(FirmwareAndImages, nullptr);
    QVERIFY(dlg.timer.isActive());
    QCOMPARE(dlg.timer.interval(), 500);
    QCOMPARE(dlg.windowTitle(), kTitle + "D.02n");
    QCOMPARE(dlg.ui->label_UpdateVersion->text(), QStringLiteral("Update Version: D.02n"));
    QVERIFY(dlg.images.isEmpty());
    QCOMPARE(dlg.ui->progressBarLoad->maximum(), 913414);
    QCOMPARE(dlg.ui->progressBarLoad->value(), 0);
    QCOMPARE(dlg.ui->progressBarVerify->maximum(), 0);
    QCOMPARE(dlg.ui->progressBarVerify->value(), 0);
    // The user is told why the job will send no images.
    const QString log = dlg.ui->textEdit->toPlainText();
    QVERIFY2(log.contains("settings.json") && log.contains("missing"), qPrintable(log));
}

void TestDialog::unusableSettings_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("invalid JSON") << QByteArray(R"({"Version": "E.01", "Images": [)");
    QTest::newRow("not an object") << QByteArray(R"(["E.01"])");
}

void TestDialog::unusableSettings()
{
    QFETCH(QByteArray, content);
    QVERIFY(writeSettings(content));
    DialogBootload dlg(FirmwareAndImages, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.windowTitle(), kTitle + "D.02n");
    QVERIFY(dlg.images.isEmpty());
    const QString log = dlg.ui->textEdit->toPlainText();
    QVERIFY2(log.contains("settings.json"), qPrintable(log));
}

void TestDialog::version_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("title");

    const QString images = kTitle + "- Update Images";
    const QString erase = kTitle + "- Delete Images";
    const int full = FirmwareAndImages;
    QTest::newRow("text") << QByteArray(R"({"Version": "E.01a"})") << full << "E.01a" << kTitle + "E.01a";
    QTest::newRow("blanks kept") << QByteArray(R"({"Version": " x "})") << full << " x " << kTitle + " x ";
    QTest::newRow("empty string") << QByteArray(R"({"Version": ""})") << full << "D.02n" << kTitle + "D.02n";
    QTest::newRow("number") << QByteArray(R"({"Version": 3})") << full << "D.02n" << kTitle + "D.02n";
    QTest::newRow("null") << QByteArray(R"({"Version": null})") << full << "D.02n" << kTitle + "D.02n";
    QTest::newRow("absent") << QByteArray(R"({"Images": []})") << full << "D.02n" << kTitle + "D.02n";
    QTest::newRow("images only") << QByteArray(R"({"Version": "E.01a"})") << int(ImagesOnly) << "E.01a"
                                 << images;
    QTest::newRow("delete images, default")
        << QByteArray(R"({"Version": ""})") << int(DeleteImages) << "D.02n" << erase;
}

void TestDialog::version()
{
    QFETCH(QByteArray, settings);
    QFETCH(int, mode);
    QFETCH(QString, version);
    QFETCH(QString, title);
    QVERIFY(writeSettings(settings));

    DialogBootload dlg(mode, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.mode, mode);
    QCOMPARE(dlg.windowTitle(), title);
    QCOMPARE(dlg.ui->label_UpdateVersion->text(), "Update Version: " + version);
    // A readable settings file is nothing to report.
    const QString log = dlg.ui->textEdit->toPlainText();
    QVERIFY2(!log.contains("settings.json"), qPrintable(log));
}

void TestDialog::threeImagesInOrder()
{
    const QByteArray logo = writeImage("logo.c", 3, 2, 1);
    const QByteArray splash = writeImage("splash.c", 5, 4, 2);
    const QByteArray icons = writeImage("icons.c", 1, 1, 3);
    QVERIFY(!logo.isEmpty() && !splash.isEmpty() && !icons.isEmpty());
    QVERIFY(writeSettings(R"({"Version": "E.02", "Images": [
        {"FileName": "splash.c", "ImageName": 2, "ImageVersion": 11},
        {"FileName": "logo.c", "ImageName": 1, "ImageVersion": 12},
        {"FileName": "icons.c", "ImageName": 7, "ImageVersion": 13}]})"));

    DialogBootload dlg(ImagesOnly, nullptr);
    dlg.timer.stop();
    const struct {
        int name, version, width, height;
        QByteArray pixels;
    } expected[] = { { 2, 11, 5, 4, splash }, { 1, 12, 3, 2, logo }, { 7, 13, 1, 1, icons } };
    QCOMPARE(dlg.images.size(), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(dlg.images[i].imageName, expected[i].name);
        QCOMPARE(dlg.images[i].imageVersion, expected[i].version);
        QCOMPARE(dlg.images[i].width, expected[i].width);
        QCOMPARE(dlg.images[i].height, expected[i].height);
        QCOMPARE(dlg.images[i].pixels, expected[i].pixels);
    }
    QCOMPARE(dlg.ui->progressBarVerify->minimum(), 0);
    QCOMPARE(dlg.ui->progressBarVerify->maximum(), logo.size() + splash.size() + icons.size());
    QCOMPARE(dlg.ui->progressBarVerify->value(), 0);
    // Good images are nothing to report.
    const QString log = dlg.ui->textEdit->toPlainText();
    for (const char *name : { "logo.c", "splash.c", "icons.c" })
        QVERIFY2(!log.contains(QLatin1String(name)), qPrintable(log));
}

void TestDialog::entriesWithoutNumbersOrName()
{
    // Numbers that are absent or no whole numbers read as 0; an entry that is
    // no object has no file name, so its path is the folder itself.
    const QByteArray logo = writeImage("logo.c", 2, 2, 5);
    QVERIFY(!logo.isEmpty());
    QVERIFY(writeSettings(R"({"Images": [{"FileName": "logo.c"},
        {"FileName": "logo.c", "ImageName": 1.5, "ImageVersion": "4"}, 7]})"));

    DialogBootload dlg(ImagesOnly, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.images.size(), 3);
    for (const ImageRecord &record : qAsConst(dlg.images)) {
        QCOMPARE(record.imageName, 0);
        QCOMPARE(record.imageVersion, 0);
    }
    QCOMPARE(dlg.images[0].pixels, logo);
    QCOMPARE(dlg.images[1].pixels, logo);
    QVERIFY(dlg.images[2].pixels.isEmpty());
    QCOMPARE(dlg.ui->progressBarVerify->maximum(), 2 * logo.size());
    QVERIFY(!dlg.ui->textEdit->toPlainText().isEmpty());
}

void TestDialog::missingImageFile()
{
    const QByteArray logo = writeImage("logo.c", 3, 1, 6);
    const QByteArray icons = writeImage("icons.c", 2, 1, 7);
    QVERIFY(!logo.isEmpty() && !icons.isEmpty());
    QVERIFY(writeSettings(R"({"Images": [
        {"FileName": "logo.c", "ImageName": 1, "ImageVersion": 1},
        {"FileName": "splash.c", "ImageName": 2, "ImageVersion": 5},
        {"FileName": "icons.c", "ImageName": 3, "ImageVersion": 1}]})"));

    DialogBootload dlg(ImagesOnly, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.images.size(), 3);
    QCOMPARE(dlg.images[0].pixels, logo);
    QVERIFY(dlg.images[1].pixels.isEmpty());
    QCOMPARE(dlg.images[1].imageName, 2);
    QCOMPARE(dlg.images[1].imageVersion, 5);
    QCOMPARE(dlg.images[1].width, 0);
    QCOMPARE(dlg.images[1].height, 0);
    QCOMPARE(dlg.images[2].pixels, icons);
    QCOMPARE(dlg.ui->progressBarVerify->maximum(), logo.size() + icons.size());
    // One line names the missing file; the good images are not reported.
    const QString log = dlg.ui->textEdit->toPlainText();
    QVERIFY2(log.contains("splash.c") && !log.contains("logo.c") && !log.contains("icons.c"),
        qPrintable(log));
}

QTEST_MAIN(TestDialog)
#include "tst_dialog.moc"
