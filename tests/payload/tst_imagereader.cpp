// The display image reader: the token rules of the array and the descriptor,
// comments, colour-depth sections, every converter generation's shape, stride
// padding, format refusals, and loading files with their job-log problems.
#include "PayloadWriter.h"
#include "payload/ImageReader.h"
#include "support/TestSupport.h"
#include "update/Diagnostics.h"

#include <QtTest>

namespace {

ImageRecord parsed(const QByteArray &text, QString *refusal = nullptr)
{
    ImageRecord record;
    const QString why = ImageReader::parseImageSource(text, record);
    if (refusal)
        *refusal = why;
    return record;
}

} // namespace

class TestImageReader : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase();

    void arrayBytes_data();
    void arrayBytes();
    void descriptor_data();
    void descriptor();
    void fieldWithoutEqualsClearsWidth();
    void diagnosticLines();

    void converterShapes_data();
    void converterShapes();
    void strideOnlyTouchesAppendedBytes();
    void truncatedTextGivesAPrefix_data();
    void truncatedTextGivesAPrefix();
    void refusals_data();
    void refusals();

    void realSizeFilesInUse_data();
    void realSizeFilesInUse();
    void missingOrUnreadableFile();
    void fileProblems_data();
    void fileProblems();
};

void TestImageReader::cleanupTestCase()
{
    TestSupport::removeAppFiles({ "images" });
}

void TestImageReader::arrayBytes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("bytes");

    // The token rules.
    QTest::newRow("trailing comma adds nothing")
        << QByteArray("a[] = {0x12, 0x3,} d = {.header.w = 8, .header.h = 2}")
        << QByteArray::fromHex("1203");
    QTest::newRow("long value keeps its last two digits")
        << QByteArray("{0x1234}") << QByteArray::fromHex("34");
    QTest::newRow("upper-case X is dropped") << QByteArray("{0X12}") << QByteArray();
    QTest::newRow("decimal value is dropped")
        << QByteArray("{12, 0x12}") << QByteArray::fromHex("12");
    QTest::newRow("0x without digits is zero")
        << QByteArray("{0x, 0x1}") << QByteArray::fromHex("0001");
    QTest::newRow("non-hex letter counts zero")
        << QByteArray("{0xG1}") << QByteArray::fromHex("01");
    QTest::newRow("name inside the array loses the next value")
        << QByteArray("{0x01, name 0x02, 0x03}") << QByteArray::fromHex("0103");
    QTest::newRow("CR LF line ends")
        << QByteArray("{0x01,\r\n0x02,\r\n}") << QByteArray::fromHex("0102");
    QTest::newRow("bytes from 0x80 are skipped") << QByteArray("{0x\xb5\xff"
                                                               "1}")
                                                 << QByteArray::fromHex("01");
    QTest::newRow("no brace gives nothing") << QByteArray("0x12, 0x34") << QByteArray();
    QTest::newRow("unclosed array loses its last value")
        << QByteArray("{0x12, 0x34") << QByteArray::fromHex("12");
    QTest::newRow("hash not at a line start is skipped")
        << QByteArray("{0x01, # 0x02}") << QByteArray::fromHex("0102");
    QTest::newRow("opening brace is skipped, the next closing one ends")
        << QByteArray("{0x01, {0x02}, 0x03}") << QByteArray::fromHex("0102");

    // Comments are absent, wherever they stand.
    QTest::newRow("block comment before a value")
        << QByteArray("{/*c*/0x12, 0x34}") << QByteArray::fromHex("1234");
    QTest::newRow("line comment at a row end")
        << QByteArray("{0x12, // row 1\n0x34}") << QByteArray::fromHex("1234");
    QTest::newRow("comment inside a value")
        << QByteArray("{0x1/*x*/2}") << QByteArray::fromHex("12");
    QTest::newRow("brace in a comment before the array")
        << QByteArray("/* { */ a[] = {0x05}") << QByteArray::fromHex("05");
    QTest::newRow("closing brace in a comment inside the array")
        << QByteArray("{0x01, /* } */ 0x02}") << QByteArray::fromHex("0102");
    QTest::newRow("comma in a comment")
        << QByteArray("{0x01 /* , 0x07 */, 0x02}") << QByteArray::fromHex("0102");
    QTest::newRow("comment that never ends")
        << QByteArray("{0x01, /* 0x02}") << QByteArray::fromHex("01");
    QTest::newRow("lone slashes are skipped")
        << QByteArray("{0x01 / , 0x02}") << QByteArray::fromHex("0102");

    // Only the sections a 16-bit, unswapped build would compile.
    QTest::newRow("if/else") << QByteArray("{\n#if 0\n0x01,\n#else\n0x02,\n#endif\n}")
                             << QByteArray::fromHex("02");
    QTest::newRow("elif chain takes the first true branch") << QByteArray(
        "{\n#if LV_COLOR_DEPTH == 8\n0x01,\n#elif LV_COLOR_DEPTH == 16\n0x02,\n"
        "#elif 1\n0x03,\n#else\n0x04,\n#endif\n}") << QByteArray::fromHex("02");
    QTest::newRow("nested section inside a dropped one")
        << QByteArray("{\n#if 0\n#if 1\n0x01,\n#endif\n0x02,\n#else\n0x03,\n#endif\n}")
        << QByteArray::fromHex("03");
    QTest::newRow("ifdef and ifndef")
        << QByteArray("{\n#ifdef LV_COLOR_DEPTH\n0x01,\n#endif\n#ifndef LV_COLOR_DEPTH\n0x02,\n"
                      "#endif\n#ifdef OTHER\n0x03,\n#endif\n#ifndef OTHER\n0x04,\n#endif\n}")
        << QByteArray::fromHex("0104");
    QTest::newRow("closing brace in a dropped section")
        << QByteArray("{\n#if 0\n}\n#endif\n0x05}") << QByteArray::fromHex("05");
    QTest::newRow("directive continued and commented")
        << QByteArray("{\n  #  if LV_COLOR_DEPTH == 16 && \\\n LV_COLOR_16_SWAP == 0 /* 565 */\n"
                      "0x07,\n#endif /* LV_COLOR_DEPTH == 16 */\n0x08}")
        << QByteArray::fromHex("0708");
    QTest::newRow("other directive lines are dropped")
        << QByteArray("{\n#define X 1\n0x01}") << QByteArray::fromHex("01");
    QTest::newRow("stray endif and else are ignored")
        << QByteArray("{\n#endif\n0x01,\n#else\n0x02}") << QByteArray::fromHex("0102");
    QTest::newRow("preprocessor lines before the array")
        << QByteArray("#if 0\n#endif\n#ifdef X\n#define Y\n#endif\na[] = {0x01}")
        << QByteArray::fromHex("01");
}

void TestImageReader::arrayBytes()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(parsed(text).pixels.toHex(), bytes.toHex());
}

void TestImageReader::descriptor_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");

    QTest::newRow("h then w") << QByteArray("{0x01} d = {.header.h = 2, .header.w = 8}") << 8 << 2;
    QTest::newRow("later key wins")
        << QByteArray("{0x01} d = {.header.w = 8, .header.h = 2, .header.w = 9,}") << 9 << 2;
    QTest::newRow("no descriptor") << QByteArray("{0x12}") << 0 << 0;
    QTest::newRow("no such keys") << QByteArray("{0x12} d = {.data = x}") << 0 << 0;
    QTest::newRow("value with a unit")
        << QByteArray("{0x1} d = {.header.w = 8px, .header.h = 2}") << 0 << 2;
    QTest::newRow("key letter case matters")
        << QByteArray("{0x1} d = {.header.W = 8, .header.h = 2}") << 0 << 2;
    QTest::newRow("unclosed descriptor drops the last field")
        << QByteArray("{0x01} d = {.header.w = 8, .header.h = 2") << 8 << 0;
    QTest::newRow("text between the blocks is ignored")
        << QByteArray("{0x01};\n\nconst lv_img_dsc_t d = {.header.w=3,.header.h=4};\nx = {5}") << 3
        << 4;
    QTest::newRow("comment holding a closing brace")
        << QByteArray("{0x01} d = {.header.w = 3, // }\n .header.h /* } */ = 4}") << 3 << 4;
    QTest::newRow("nested header")
        << QByteArray("{0x01} d = {.header = {.cf = X, .w = 5, .h = 6}, .data = x}") << 5 << 6;
    QTest::newRow("flat keys after a nested block")
        << QByteArray("{0x01} d = {.other = {.w = 5, .h = 6}, .header.w = 1, .header.h = 2}") << 1
        << 2;
}

void TestImageReader::descriptor()
{
    QFETCH(QByteArray, text);
    QFETCH(int, width);
    QFETCH(int, height);
    const ImageRecord record = parsed(text);
    QCOMPARE(record.width, width);
    QCOMPARE(record.height, height);
}

void TestImageReader::fieldWithoutEqualsClearsWidth()
{
    ImageRecord record;
    record.width = 7;
    record.height = 7;
    QVERIFY(
        ImageReader::parseImageSource("{0x01} d = {.header.w, .header.h = 2}", record).isEmpty());
    QCOMPARE(record.width, 0);
    QCOMPARE(record.height, 2);
}

void TestImageReader::diagnosticLines()
{
    // The lines go to the job category; make sure it is on whatever the environment says.
    const_cast<QLoggingCategory &>(lcJob()).setEnabled(QtDebugMsg, true);
    const QByteArray text("a = {0x12, 0x3,} d = {.header.w = 8, .header.h = 2}");
    QVERIFY(TestSupport::writeAppFile("images/diag.c", text));
    QTest::ignoreMessage(QtDebugMsg, "true");
    QTest::ignoreMessage(QtDebugMsg, QByteArray::number(text.size()).constData());
    QTest::ignoreMessage(QtDebugMsg, "2 - 15");
    QTest::ignoreMessage(QtDebugMsg, "Image Loaded: 2 Width: 8 Height: 2");
    ImageReader::loadImage(TestSupport::appFile("images/diag.c"), 1, 1);

    QTest::ignoreMessage(QtDebugMsg, "false");
    QTest::ignoreMessage(QtDebugMsg, "0");
    QTest::ignoreMessage(QtDebugMsg, "0 - 1");
    QTest::ignoreMessage(QtDebugMsg, "Image Loaded: 0 Width: 0 Height: 0");
    ImageReader::loadImage(TestSupport::appFile("images/absent.c"), 1, 1);
}

void TestImageReader::converterShapes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QByteArray>("pixels");

    // LVGL 8: four colour-depth sections; LVGL 9.0 a flat header, 9.3 a nested
    // one; rows padded to the stride (0: none).
    const struct {
        const char *name;
        int version, width, height, stride;
    } shapes[] = { { "8, 33 x 21", 8, 33, 21, 0 }, { "8, 1 x 1", 8, 1, 1, 0 },
        { "8, 340 x 230", 8, 340, 230, 0 }, { "9.0, 33 x 21, stride 72", 90, 33, 21, 72 },
        { "9.3, 40 x 30", 93, 40, 30, 0 }, { "9.3, 33 x 21, stride 68", 93, 33, 21, 68 },
        { "9.3, 340 x 230, stride 680", 93, 340, 230, 680 }, { "9.3, 1 x 1, stride 4", 93, 1, 1, 4 } };
    for (const auto &shape : shapes) {
        const QByteArray pixels = PayloadWriter::pixels(shape.width, shape.height, quint32(shape.width));
        const QByteArray text = shape.version == 8
            ? PayloadWriter::lvgl8Source("img", shape.width, shape.height, pixels)
            : PayloadWriter::lvgl9Source("img", shape.width, shape.height, pixels, shape.version == 93, shape.stride);
        QTest::newRow(shape.name) << text << shape.width << shape.height << pixels;
    }
}

void TestImageReader::converterShapes()
{
    QFETCH(QByteArray, text);
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QByteArray, pixels);
    QString refusal;
    const ImageRecord record = parsed(text, &refusal);
    QVERIFY2(refusal.isEmpty(), qPrintable(refusal));
    QCOMPARE(record.width, width);
    QCOMPARE(record.height, height);
    QCOMPARE(record.pixels.size(), width * height * 2);
    QVERIFY(record.pixels == pixels);
}

void TestImageReader::strideOnlyTouchesAppendedBytes()
{
    const QByteArray pixels = PayloadWriter::pixels(3, 2, 5);
    ImageRecord record;
    record.pixels = "AB";
    ImageReader::parseImageSource(
        PayloadWriter::lvgl9Source("img", 3, 2, pixels, false, 8), record);
    QCOMPARE(record.pixels.toHex(), (QByteArray("AB") + pixels).toHex());
}

void TestImageReader::truncatedTextGivesAPrefix_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("pixels");
    const QByteArray pixels = PayloadWriter::pixels(5, 3, 21);
    QTest::newRow("file in use") << PayloadWriter::imageSource("img", 5, 3, pixels) << pixels;
    QTest::newRow("LVGL 8") << PayloadWriter::lvgl8Source("img", 5, 3, pixels) << pixels;
    QTest::newRow("LVGL 9.3") << PayloadWriter::lvgl9Source("img", 5, 3, pixels, true) << pixels;
}

void TestImageReader::truncatedTextGivesAPrefix()
{
    // A file cut short anywhere never yields bytes the image does not hold.
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, pixels);
    for (int length = 0; length <= text.size(); ++length) {
        const ImageRecord record = parsed(text.left(length));
        QVERIFY2(pixels.startsWith(record.pixels), qPrintable(QString::number(length)));
    }
    QVERIFY(parsed(text).pixels == pixels);
}

void TestImageReader::refusals_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("format");

    const QByteArray pixels = PayloadWriter::pixels(4, 3, 9);
    for (const char *cf : { "LV_COLOR_FORMAT_RGB565_SWAPPED", "LV_COLOR_FORMAT_RGB888",
             "LV_COLOR_FORMAT_ARGB8888", "LV_COLOR_FORMAT_NATIVE_WITH_ALPHA" }) {
        QTest::newRow(cf) << PayloadWriter::lvgl9Source("img", 4, 3, pixels, true, 0, cf)
                          << QString::fromLatin1(cf);
    }
    QTest::newRow("LV_COLOR_FORMAT_I8 flat") << PayloadWriter::lvgl9Source("img", 4, 3, pixels,
        false, 0, "LV_COLOR_FORMAT_I8") << QStringLiteral("LV_COLOR_FORMAT_I8");
    for (const char *cf : { "LV_IMG_CF_TRUE_COLOR_ALPHA", "LV_IMG_CF_INDEXED_1BIT",
             "LV_IMG_CF_TRUE_COLOR_CHROMA_KEYED" }) {
        QTest::newRow(cf) << PayloadWriter::lvgl8Source("img", 4, 3, pixels, cf)
                          << QString::fromLatin1(cf);
    }
    QTest::newRow("RGB565 accepted") << PayloadWriter::lvgl9Source("img", 4, 3, pixels, true, 0,
        "LV_COLOR_FORMAT_RGB565") << QString();
    QTest::newRow("NATIVE accepted") << PayloadWriter::lvgl9Source("img", 4, 3, pixels, false, 0,
        "LV_COLOR_FORMAT_NATIVE") << QString();
    QTest::newRow("TRUE_COLOR accepted")
        << PayloadWriter::lvgl8Source("img", 4, 3, pixels) << QString();
}

void TestImageReader::refusals()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, format);
    QVERIFY(TestSupport::writeAppFile("images/refusal.c", text));
    const QString path = TestSupport::appFile("images/refusal.c");
    const ImageRecord record = ImageReader::loadImage(path, 3, 4);
    if (format.isEmpty()) {
        QVERIFY2(record.problem.isEmpty(), qPrintable(record.problem));
        return;
    }
    QVERIFY(record.problem.contains(format));
    QVERIFY(record.problem.contains(QDir::toNativeSeparators(path)));
    QVERIFY(!record.problem.contains('\n'));
    QCOMPARE(record.width, 4);
    QCOMPARE(record.height, 3);
}

void TestImageReader::realSizeFilesInUse_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("size");
    QTest::newRow("340 x 230") << 340 << 230 << 156400;
    QTest::newRow("220 x 165") << 220 << 165 << 72600;
}

void TestImageReader::realSizeFilesInUse()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, size);
    const QByteArray pixels = PayloadWriter::pixels(width, height, quint32(width));
    const QString path = TestSupport::appFile(QStringLiteral("images/real_%1.c").arg(width));
    QVERIFY(PayloadWriter::writeImageSource(path, "real", width, height, pixels));

    const ImageRecord record = ImageReader::loadImage(path, 5, 6);
    QVERIFY2(record.problem.isEmpty(), qPrintable(record.problem));
    QCOMPARE(record.fileName, path);
    QCOMPARE(record.imageName, 5);
    QCOMPARE(record.imageVersion, 6);
    QCOMPARE(record.width, width);
    QCOMPARE(record.height, height);
    QCOMPARE(record.pixels.size(), size);
    QVERIFY(record.pixels == pixels);
}

void TestImageReader::missingOrUnreadableFile()
{
    // A folder exists but cannot be read as a file.
    QVERIFY(TestSupport::writeAppFile("images/folder.c/inside", "x"));
    for (const char *name : { "images/not-there.c", "images/folder.c" }) {
        const QString path = TestSupport::appFile(name);
        const ImageRecord record = ImageReader::loadImage(path, 7, 8);
        QVERIFY(record.pixels.isEmpty());
        QCOMPARE(record.width, 0);
        QCOMPARE(record.height, 0);
        QCOMPARE(record.imageName, 7);
        QCOMPARE(record.imageVersion, 8);
        QCOMPARE(record.fileName, path);
        QVERIFY2(record.problem.contains(QDir::toNativeSeparators(path)), qPrintable(record.problem));
    }
    QVERIFY(ImageReader::loadImage(TestSupport::appFile("images/not-there.c"), 1, 1).problem.contains("missing"));
    QVERIFY(ImageReader::loadImage(TestSupport::appFile("images/folder.c"), 1, 1).problem.contains("cannot be read"));
}

void TestImageReader::fileProblems_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("problem"); // a part of the expected line; empty: none
    QTest::addColumn<int>("bytes");

    QTest::newRow("fits") << QByteArray("{0x1, 0x2, 0x3, 0x4} d = {.header.w = 2, .header.h = 1}")
                          << QString() << 4;
    QTest::newRow("one byte short")
        << QByteArray("{0x1, 0x2, 0x3} d = {.header.w = 2, .header.h = 1}")
        << QStringLiteral("holds 3 bytes, but 2 x 1 pixels need 4") << 3;
    QTest::newRow("one byte a pixel")
        << QByteArray("{0x1, 0x2} d = {.header.w = 2, .header.h = 1}")
        << QStringLiteral("holds 2 bytes, but 2 x 1 pixels need 4") << 2;
    QTest::newRow("no size given") << QByteArray("{0x1, 0x2}") << QStringLiteral("no width") << 2;
    QTest::newRow("empty array") << QByteArray("{} d = {.header.w = 2, .header.h = 1}")
                                 << QStringLiteral("no image bytes") << 0;
    QTest::newRow("empty file") << QByteArray() << QStringLiteral("no image bytes") << 0;
}

void TestImageReader::fileProblems()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, problem);
    QFETCH(int, bytes);
    QVERIFY(TestSupport::writeAppFile("images/problem.c", text));
    const QString path = TestSupport::appFile("images/problem.c");
    const ImageRecord record = ImageReader::loadImage(path, 1, 1);
    QCOMPARE(record.pixels.size(), bytes);
    if (problem.isEmpty()) {
        QVERIFY2(record.problem.isEmpty(), qPrintable(record.problem));
    } else {
        QVERIFY2(record.problem.contains(problem), qPrintable(record.problem));
        QVERIFY(record.problem.contains(QDir::toNativeSeparators(path)));
    }
}

QTEST_GUILESS_MAIN(TestImageReader)
#include "tst_imagereader.moc"
