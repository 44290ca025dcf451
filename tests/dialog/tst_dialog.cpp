// The update dialog as its constructor leaves it: the form, the title of each
// job, the version from settings.json and the display images it names.
#include "support/TestSupport.h"
#include "update/DialogBootload.h"
#include "update/UpdateMode.h"

#include "ui_DialogBootload.h"

#include <QtTest>

namespace {

// Pixel bytes of a test image: a pattern that differs from image to image.
QByteArray pixelBytes(int count, int seed)
{
    QByteArray bytes;
    for (int i = 0; i < count; ++i)
        bytes.append(static_cast<char>((seed * 37 + i * 11) & 0xFF));
    return bytes;
}

// An image source file as the image converter writes it: the array, one line
// per row, then the descriptor.
QByteArray imageSource(const QByteArray &name, int width, int height, const QByteArray &pixels)
{
    QByteArray text = "#include \"lvgl.h\"\r\n\r\n";
    text += "const LV_ATTRIBUTE_MEM_ALIGN uint8_t " + name + "_map[] = {\r\n";
    for (int i = 0; i < pixels.size(); ++i) {
        text += QByteArray("0x")
            + QByteArray::number(static_cast<quint8>(pixels[i]), 16).rightJustified(2, '0') + ", ";
        if (width > 0 && (i + 1) % (width * 2) == 0)
            text += "\r\n";
    }
    text += "};\r\n\r\nconst lv_img_dsc_t " + name + " = {\r\n";
    text += "  .header.cf = LV_IMG_CF_TRUE_COLOR,\r\n";
    text += "  .header.always_zero = 0,\r\n";
    text += "  .header.reserved = 0,\r\n";
    text += "  .header.w = " + QByteArray::number(width) + ",\r\n";
    text += "  .header.h = " + QByteArray::number(height) + ",\r\n";
    text += "  .data_size = " + QByteArray::number(width * height) + " * LV_COLOR_SIZE / 8,\r\n";
    text += "  .data = " + name + "_map,\r\n};\r\n";
    return text;
}

// Writes a valid image of width x height beside the test program; returns its bytes.
QByteArray writeImage(const QString &fileName, int width, int height, int seed)
{
    const QByteArray pixels = pixelBytes(width * height * 2, seed);
    const QByteArray name = QFileInfo(fileName).completeBaseName().toLatin1();
    if (!TestSupport::writeAppFile(fileName, imageSource(name, width, height, pixels)))
        return QByteArray();
    return pixels;
}

const QStringList kFiles = {
    QStringLiteral("settings.json"),
    QStringLiteral("logo.c"),
    QStringLiteral("splash.c"),
    QStringLiteral("icons.c"),
    QStringLiteral("images"),
};

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
    void imageInFolderBelow();
    void entryWithoutNumbers();
    void entryThatIsNoObject();
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
    TestSupport::removeAppFiles(kFiles);
}

void TestDialog::form_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");

    QTest::newRow("progressBarLoad") << "progressBarLoad" << QRect(50, 60, 381, 23) << QString();
    QTest::newRow("textEdit") << "textEdit" << QRect(10, 240, 481, 171) << QString();
    QTest::newRow("progressBarVerify")
        << "progressBarVerify" << QRect(50, 130, 381, 23) << QString();
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
    QCOMPARE(dlg.objectName(), QStringLiteral("DialogBootload"));
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
    QCOMPARE(dlg.mode, int(FirmwareAndImages));
    QCOMPARE(dlg.windowTitle(), QStringLiteral("ORVEK ANNEALING ZQ Firmware Update D.02n"));
    QCOMPARE(dlg.updateVersion, QStringLiteral("D.02n"));
    QCOMPARE(dlg.ui->label_UpdateVersion->text(), QStringLiteral("Update Version: D.02n"));
    QVERIFY(dlg.images.isEmpty());

    QCOMPARE(dlg.ui->progressBarLoad->maximum(), 913414);
    QCOMPARE(dlg.ui->progressBarLoad->value(), 0);
    QCOMPARE(dlg.ui->progressBarVerify->minimum(), 0);
    QCOMPARE(dlg.ui->progressBarVerify->maximum(), 0);
    QCOMPARE(dlg.ui->progressBarVerify->value(), 0);

    // The user is told why the job will send no images.
    const QString log = dlg.ui->textEdit->toPlainText();
    QVERIFY2(log.contains(QLatin1String("settings.json")) && log.contains(QLatin1String("missing")),
        qPrintable(log));
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
    QVERIFY(TestSupport::writeAppFile(QStringLiteral("settings.json"), content));

    DialogBootload dlg(FirmwareAndImages, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.windowTitle(), QStringLiteral("ORVEK ANNEALING ZQ Firmware Update D.02n"));
    QVERIFY(dlg.images.isEmpty());
    QCOMPARE(dlg.ui->progressBarVerify->maximum(), 0);
    const QString log = dlg.ui->textEdit->toPlainText();
    QVERIFY2(log.contains(QLatin1String("settings.json")), qPrintable(log));
}

void TestDialog::version_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("version");
    QTest::addColumn<QString>("title");

    const QString full = QStringLiteral("ORVEK ANNEALING ZQ Firmware Update ");
    const QString images = QStringLiteral("ORVEK ANNEALING ZQ Firmware Update - Update Images");
    const QString erase = QStringLiteral("ORVEK ANNEALING ZQ Firmware Update - Delete Images");

    QTest::newRow("text") << QByteArray(R"({"Version": "E.01a"})") << int(FirmwareAndImages)
                          << "E.01a" << full + "E.01a";
    QTest::newRow("blanks kept") << QByteArray(R"({"Version": " x "})") << int(FirmwareAndImages)
                                 << " x " << full + " x ";
    QTest::newRow("empty string") << QByteArray(R"({"Version": ""})") << int(FirmwareAndImages)
                                  << "D.02n" << full + "D.02n";
    QTest::newRow("number") << QByteArray(R"({"Version": 3})") << int(FirmwareAndImages) << "D.02n"
                            << full + "D.02n";
    QTest::newRow("null") << QByteArray(R"({"Version": null})") << int(FirmwareAndImages) << "D.02n"
                          << full + "D.02n";
    QTest::newRow("absent") << QByteArray(R"({"Images": []})") << int(FirmwareAndImages) << "D.02n"
                            << full + "D.02n";
    QTest::newRow("other key case") << QByteArray(R"({"version": "E.01a"})")
                                    << int(FirmwareAndImages) << "D.02n" << full + "D.02n";
    QTest::newRow("unknown mode") << QByteArray(R"({"Version": "E.01a"})") << 7 << "E.01a"
                                  << full + "E.01a";
    QTest::newRow("images only") << QByteArray(R"({"Version": "E.01a"})") << int(ImagesOnly)
                                 << "E.01a" << images;
    QTest::newRow("images only, default")
        << QByteArray("{}") << int(ImagesOnly) << "D.02n" << images;
    QTest::newRow("delete images")
        << QByteArray(R"({"Version": "E.01a"})") << int(DeleteImages) << "E.01a" << erase;
    QTest::newRow("delete images, default")
        << QByteArray(R"({"Version": ""})") << int(DeleteImages) << "D.02n" << erase;
}

void TestDialog::version()
{
    QFETCH(QByteArray, settings);
    QFETCH(int, mode);
    QFETCH(QString, version);
    QFETCH(QString, title);
    QVERIFY(TestSupport::writeAppFile(QStringLiteral("settings.json"), settings));

    DialogBootload dlg(mode, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.mode, mode);
    QCOMPARE(dlg.updateVersion, version);
    QCOMPARE(dlg.windowTitle(), title);
    QCOMPARE(dlg.ui->label_UpdateVersion->text(), QStringLiteral("Update Version: ") + version);
    // A readable settings file is nothing to report.
    const QString log = dlg.ui->textEdit->toPlainText();
    QVERIFY2(!log.contains(QLatin1String("settings.json")), qPrintable(log));
}

void TestDialog::threeImagesInOrder()
{
    const QByteArray logo = writeImage(QStringLiteral("logo.c"), 3, 2, 1);
    const QByteArray splash = writeImage(QStringLiteral("splash.c"), 5, 4, 2);
    const QByteArray icons = writeImage(QStringLiteral("icons.c"), 1, 1, 3);
    QVERIFY(!logo.isEmpty() && !splash.isEmpty() && !icons.isEmpty());
    QVERIFY(TestSupport::writeAppFile(QStringLiteral("settings.json"), R"({
        "Version": "E.02",
        "Images": [
            {"FileName": "splash.c", "ImageName": 2, "ImageVersion": 11},
            {"FileName": "logo.c", "ImageName": 1, "ImageVersion": 12},
            {"FileName": "icons.c", "ImageName": 7, "ImageVersion": 13}
        ]
    })"));

    DialogBootload dlg(ImagesOnly, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.images.size(), 3);

    QCOMPARE(dlg.images[0].imageName, 2);
    QCOMPARE(dlg.images[0].imageVersion, 11);
    QCOMPARE(dlg.images[0].width, 5);
    QCOMPARE(dlg.images[0].height, 4);
    QCOMPARE(dlg.images[0].pixels, splash);

    QCOMPARE(dlg.images[1].imageName, 1);
    QCOMPARE(dlg.images[1].imageVersion, 12);
    QCOMPARE(dlg.images[1].width, 3);
    QCOMPARE(dlg.images[1].height, 2);
    QCOMPARE(dlg.images[1].pixels, logo);

    QCOMPARE(dlg.images[2].imageName, 7);
    QCOMPARE(dlg.images[2].imageVersion, 13);
    QCOMPARE(dlg.images[2].width, 1);
    QCOMPARE(dlg.images[2].height, 1);
    QCOMPARE(dlg.images[2].pixels, icons);

    QCOMPARE(dlg.ui->progressBarVerify->minimum(), 0);
    QCOMPARE(dlg.ui->progressBarVerify->maximum(), logo.size() + splash.size() + icons.size());
    QCOMPARE(dlg.ui->progressBarVerify->value(), 0);
    // Good images are nothing to report.
    const QString log = dlg.ui->textEdit->toPlainText();
    for (const char *name : { "logo.c", "splash.c", "icons.c" })
        QVERIFY2(!log.contains(QLatin1String(name)), qPrintable(log));
}

void TestDialog::imageInFolderBelow()
{
    const QByteArray pixels = writeImage(QStringLiteral("images/logo.c"), 2, 3, 4);
    QVERIFY(!pixels.isEmpty());
    QVERIFY(TestSupport::writeAppFile(QStringLiteral("settings.json"),
        R"({"Images": [{"FileName": "images/logo.c", "ImageName": 3, "ImageVersion": 1}]})"));

    DialogBootload dlg(FirmwareAndImages, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.images.size(), 1);
    QCOMPARE(dlg.images[0].pixels, pixels);
    QCOMPARE(dlg.ui->progressBarVerify->maximum(), pixels.size());
}

void TestDialog::entryWithoutNumbers()
{
    const QByteArray logo = writeImage(QStringLiteral("logo.c"), 2, 2, 5);
    QVERIFY(!logo.isEmpty());
    QVERIFY(TestSupport::writeAppFile(QStringLiteral("settings.json"), R"({"Images": [
        {"FileName": "logo.c"},
        {"FileName": "logo.c", "ImageName": 1.5, "ImageVersion": "4"}
    ]})"));

    DialogBootload dlg(ImagesOnly, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.images.size(), 2);
    for (const ImageRecord &record : qAsConst(dlg.images)) {
        QCOMPARE(record.imageName, 0);
        QCOMPARE(record.imageVersion, 0);
        QCOMPARE(record.pixels, logo);
    }
    QCOMPARE(dlg.ui->progressBarVerify->maximum(), 2 * logo.size());
}

void TestDialog::entryThatIsNoObject()
{
    // Read as an empty object: no file name, so the path is the folder itself.
    QVERIFY(TestSupport::writeAppFile(QStringLiteral("settings.json"), R"({"Images": [7]})"));

    DialogBootload dlg(ImagesOnly, nullptr);
    dlg.timer.stop();
    QCOMPARE(dlg.images.size(), 1);
    QCOMPARE(dlg.images[0].imageName, 0);
    QCOMPARE(dlg.images[0].imageVersion, 0);
    QVERIFY(dlg.images[0].pixels.isEmpty());
    QCOMPARE(dlg.ui->progressBarVerify->maximum(), 0);
    QVERIFY(!dlg.ui->textEdit->toPlainText().isEmpty());
}

void TestDialog::missingImageFile()
{
    const QByteArray logo = writeImage(QStringLiteral("logo.c"), 3, 1, 6);
    const QByteArray icons = writeImage(QStringLiteral("icons.c"), 2, 1, 7);
    QVERIFY(!logo.isEmpty() && !icons.isEmpty());
    QVERIFY(TestSupport::writeAppFile(QStringLiteral("settings.json"), R"({"Images": [
        {"FileName": "logo.c", "ImageName": 1, "ImageVersion": 1},
        {"FileName": "splash.c", "ImageName": 2, "ImageVersion": 5},
        {"FileName": "icons.c", "ImageName": 3, "ImageVersion": 1}
    ]})"));

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
    QVERIFY2(log.contains(QLatin1String("splash.c")), qPrintable(log));
    QVERIFY2(!log.contains(QLatin1String("logo.c")), qPrintable(log));
    QVERIFY2(!log.contains(QLatin1String("icons.c")), qPrintable(log));
}

QTEST_MAIN(TestDialog)
#include "tst_dialog.moc"
