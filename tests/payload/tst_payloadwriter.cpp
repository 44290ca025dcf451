// The payload generator: deterministic firmware and pixels, image sources in the
// shape of the files in use, and the demo payload folder with its program.
#include "PayloadWriter.h"
#include "payload/ImageReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestPayloadWriter : public QObject
{
    Q_OBJECT

private slots:
    void firmwareIsSeeded();
    void pixelsAreSeeded();
    void imageSourceShape();
    void demoPayload();
    void makePayloadProgram();
};

void TestPayloadWriter::firmwareIsSeeded()
{
    const QByteArray a = PayloadWriter::firmware(PayloadWriter::FirmwareSize, 1);
    QCOMPARE(a.size(), 913408);
    QVERIFY(a == PayloadWriter::firmware(PayloadWriter::FirmwareSize, 1));
    QVERIFY(a != PayloadWriter::firmware(PayloadWriter::FirmwareSize, 2));
    QVERIFY(PayloadWriter::firmware(4096, 1) == a.left(4096));
    // Every byte value occurs: the content is no constant fill.
    QSet<char> seen;
    for (char c : a)
        seen.insert(c);
    QCOMPARE(seen.size(), 256);
}

void TestPayloadWriter::pixelsAreSeeded()
{
    const QByteArray a = PayloadWriter::pixels(33, 21, 4);
    QCOMPARE(a.size(), 33 * 21 * 2);
    QVERIFY(a == PayloadWriter::pixels(33, 21, 4));
    QVERIFY(a != PayloadWriter::pixels(33, 21, 5));
}

void TestPayloadWriter::imageSourceShape()
{
    const int width = 340, height = 230;
    const QByteArray pixels = PayloadWriter::pixels(width, height, 3);
    const QList<QByteArray> lines
        = PayloadWriter::imageSource("logo", width, height, pixels).split('\n');
    const int declaration = lines.indexOf(
        "const LV_ATTRIBUTE_MEM_ALIGN LV_ATTRIBUTE_LARGE_CONST LV_ATTRIBUTE_IMG_LOGO uint8_t "
        "logo_map[] = {");
    QVERIFY(declaration >= 0);
    QVERIFY(lines.size() > declaration + height);

    // One row per line, each value written "0x%02x, ".
    const QRegularExpression row(QStringLiteral("^(0x[0-9a-f]{2}, ){%1}$").arg(width * 2));
    QByteArray listed;
    for (int y = 0; y < height; ++y) {
        const QByteArray &line = lines.at(declaration + 1 + y);
        QVERIFY2(row.match(QString::fromLatin1(line)).hasMatch(),
            qPrintable("row " + QString::number(y)));
        for (int i = 0; i < width * 2; ++i)
            listed.append(QByteArray::fromHex(line.mid(i * 6 + 2, 2)));
    }
    QVERIFY(listed == pixels);

    const QList<QByteArray> descriptor = lines.mid(declaration + 1 + height);
    const QList<QByteArray> expected = {
        "};",
        "",
        "const lv_img_dsc_t logo = {",
        "  .header.cf = LV_IMG_CF_TRUE_COLOR,",
        "  .header.always_zero = 0,",
        "  .header.reserved = 0,",
        "  .header.w = 340,",
        "  .header.h = 230,",
        "  .data_size = 78200 * LV_COLOR_SIZE / 8,",
        "  .data = logo_map,",
        "};",
        "",
    };
    QCOMPARE(descriptor, expected);
}

void TestPayloadWriter::demoPayload()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = dir.path() + "/demo";
    QVERIFY(PayloadWriter::writeDemoPayload(folder, 11));

    QVERIFY(
        readFile(folder + "/fw1.bin") == PayloadWriter::firmware(PayloadWriter::FirmwareSize, 11));

    const QJsonObject settings
        = QJsonDocument::fromJson(readFile(folder + "/settings.json")).object();
    QCOMPARE(settings.value("Version").toString(), QString(PayloadWriter::DemoVersion));
    const QJsonArray images = settings.value("Images").toArray();
    QCOMPARE(images.size(), 2);

    struct Expected {
        const char *file;
        int width, height, imageName;
        quint32 seed;
    };
    const Expected expected[] = { { PayloadWriter::DemoLargeImage, 340, 230, 1, 12 },
        { PayloadWriter::DemoSmallImage, 220, 165, 2, 13 } };
    for (int i = 0; i < 2; ++i) {
        const QJsonObject entry = images.at(i).toObject();
        QCOMPARE(entry.value("FileName").toString(), QString(expected[i].file));
        QCOMPARE(entry.value("ImageName").toInt(-1), expected[i].imageName);
        QCOMPARE(entry.value("ImageVersion").toInt(-1), 1);
        const ImageRecord record = ImageReader::loadImage(folder + '/' + expected[i].file, 0, 0);
        QVERIFY2(record.problem.isEmpty(), qPrintable(record.problem));
        QCOMPARE(record.width, expected[i].width);
        QCOMPARE(record.height, expected[i].height);
        QVERIFY(record.pixels
            == PayloadWriter::pixels(expected[i].width, expected[i].height, expected[i].seed));
    }

    // The same seed writes the same files.
    QVERIFY(PayloadWriter::writeDemoPayload(dir.path() + "/again", 11));
    for (const char *name : { "fw1.bin", "settings.json", PayloadWriter::DemoLargeImage,
             PayloadWriter::DemoSmallImage })
        QVERIFY(readFile(folder + '/' + name) == readFile(dir.path() + "/again/" + name));
}

void TestPayloadWriter::makePayloadProgram()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess program;
    program.start(ZQ_MAKE_PAYLOAD, { dir.path() + "/out", "--seed", "7" });
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QVERIFY(readFile(dir.path() + "/out/fw1.bin")
        == PayloadWriter::firmware(PayloadWriter::FirmwareSize, 7));
    QVERIFY(QFile::exists(dir.path() + "/out/settings.json"));

    program.start(ZQ_MAKE_PAYLOAD, { dir.path() + "/bad", "--seed", "seven" });
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 2);
    QVERIFY(!QFile::exists(dir.path() + "/bad"));
}

QTEST_GUILESS_MAIN(TestPayloadWriter)
#include "tst_payloadwriter.moc"
