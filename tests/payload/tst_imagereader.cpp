// The display image reader: the token rules of the array and the descriptor,
// comments, colour-depth sections, each converter generation's shape, stride
// padding, format refusals, and loading files with their job-log problems.
#include "PayloadWriter.h"
#include "payload/ImageReader.h"
#include "support/TestSupport.h"
#include "link/Diagnostics.h"

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

// A row of the arrayBytes and descriptor tables.
void bytesRow(const char *name, const char *text, const char *hex)
{
    QTest::newRow(name) << QByteArray(text) << QByteArray::fromHex(hex);
}

void sizeRow(const char *name, const char *text, int width, int height)
{
    QTest::newRow(name) << QByteArray(text) << width << height;
}

} // namespace

class TestImageReader : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase()
    {
        TestSupport::removeAppFiles({ "images" });
    }

    void arrayBytes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("bytes");

        // The token rules.
        bytesRow("trailing comma adds nothing", "a[] = {0x12, 0x3,} d = {.header.w = 8}", "1203");
        bytesRow("long value keeps its last two digits", "{0x1234}", "34");
        bytesRow("upper-case X is dropped", "{0X12}", "");
        bytesRow("decimal value is dropped", "{12, 0x12}", "12");
        bytesRow("0x without digits is zero", "{0x, 0x1}", "0001");
        bytesRow("non-hex letter counts zero", "{0xG1}", "01");
        bytesRow("name inside the array loses the next value", "{0x01, name 0x02, 0x03}", "0103");
        bytesRow("bytes from 0x80 are skipped",
            "{0x\xb5\xff"
            "1}",
            "01");
        bytesRow("no brace gives nothing", "0x12, 0x34", "");
        bytesRow("unclosed array loses its last value", "{0x12, 0x34", "12");
        bytesRow("hash not at a line start is skipped", "{0x01, # 0x02}", "0102");
        bytesRow(
            "opening brace is skipped, the next closing one ends", "{0x01, {0x02}, 0x03}", "0102");

        // Comments are absent, wherever they stand.
        bytesRow("block comment before a value", "{/*c*/0x12, 0x34}", "1234");
        bytesRow("line comment at a row end", "{0x12, // row 1\n0x34}", "1234");
        bytesRow("comment inside a value", "{0x1/*x*/2}", "12");
        bytesRow("brace in a comment before the array", "/* { */ a[] = {0x05}", "05");
        bytesRow("closing brace in a comment inside the array", "{0x01, /* } */ 0x02}", "0102");
        bytesRow("comma in a comment", "{0x01 /* , 0x07 */, 0x02}", "0102");
        bytesRow("comment that never ends", "{0x01, /* 0x02}", "01");

        // Only the sections a 16-bit, unswapped build would compile.
        bytesRow("if/else", "{\n#if 0\n0x01,\n#else\n0x02,\n#endif\n}", "02");
        bytesRow("elif chain takes the first true branch",
            "{\n#if LV_COLOR_DEPTH == 8\n0x01,\n#elif LV_COLOR_DEPTH == 16\n0x02,\n"
            "#elif 1\n0x03,\n#else\n0x04,\n#endif\n}",
            "02");
        bytesRow("nested section inside a dropped one",
            "{\n#if 0\n#if 1\n0x01,\n#endif\n0x02,\n#else\n0x03,\n#endif\n}", "03");
        bytesRow("ifdef and ifndef",
            "{\n#ifdef LV_COLOR_DEPTH\n0x01,\n#endif\n#ifndef LV_COLOR_DEPTH\n0x02,\n"
            "#endif\n#ifdef OTHER\n0x03,\n#endif\n#ifndef OTHER\n0x04,\n#endif\n}",
            "0104");
        bytesRow("closing brace in a dropped section", "{\n#if 0\n}\n#endif\n0x05}", "05");
        bytesRow("directive continued and commented",
            "{\n  #  if LV_COLOR_DEPTH == 16 && \\\n LV_COLOR_16_SWAP == 0 /* 565 */\n"
            "0x07,\n#endif /* LV_COLOR_DEPTH == 16 */\n0x08}",
            "0708");
        bytesRow("preprocessor lines before the array",
            "#if 0\n#endif\n#ifdef X\n#define Y\n#endif\na[] = {0x01}", "01");
    }

    void arrayBytes()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(parsed(text).pixels.toHex(), bytes.toHex());
    }

    void descriptor_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        sizeRow(
            "later key wins", "{0x01} d = {.header.w = 8, .header.h = 2, .header.w = 9,}", 9, 2);
        sizeRow("no descriptor", "{0x12}", 0, 0);
        sizeRow("value with a unit", "{0x1} d = {.header.w = 8px, .header.h = 2}", 0, 2);
        sizeRow("key letter case matters", "{0x1} d = {.header.W = 8, .header.h = 2}", 0, 2);
        sizeRow("unclosed descriptor drops the last field",
            "{0x01} d = {.header.w = 8, .header.h = 2", 8, 0);
        sizeRow("comment holding a closing brace",
            "{0x01} d = {.header.w = 3, // }\n .header.h /* } */ = 4}", 3, 4);
        sizeRow(
            "nested header", "{0x01} d = {.header = {.cf = X, .w = 5, .h = 6}, .data = x}", 5, 6);
        sizeRow("flat keys after a nested block",
            "{0x01} d = {.other = {.w = 5, .h = 6}, .header.w = 1, .header.h = 2}", 1, 2);
    }

    void descriptor()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, width);
        QFETCH(int, height);
        const ImageRecord record = parsed(text);
        QCOMPARE(record.width, width);
        QCOMPARE(record.height, height);
    }

    void fieldWithoutEqualsClearsWidth()
    {
        ImageRecord record;
        record.width = 7;
        record.height = 7;
        QVERIFY(ImageReader::parseImageSource("{0x01} d = {.header.w, .header.h = 2}", record)
                    .isEmpty());
        QCOMPARE(record.width, 0);
        QCOMPARE(record.height, 2);
    }

    void converterShapes_data()
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
            { "9.0, 33 x 21, stride 72", 90, 33, 21, 72 }, { "9.3, 40 x 30", 93, 40, 30, 0 },
            { "9.3, 33 x 21, stride 68", 93, 33, 21, 68 },
            { "9.3, 1 x 1, stride 4", 93, 1, 1, 4 } };
        for (const auto &shape : shapes) {
            const QByteArray pixels
                = PayloadWriter::pixels(shape.width, shape.height, quint32(shape.width));
            const QByteArray text = shape.version == 8
                ? PayloadWriter::lvgl8Source("img", shape.width, shape.height, pixels)
                : PayloadWriter::lvgl9Source(
                    "img", shape.width, shape.height, pixels, shape.version == 93, shape.stride);
            QTest::newRow(shape.name) << text << shape.width << shape.height << pixels;
        }
    }

    void converterShapes()
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

    void strideOnlyTouchesAppendedBytes()
    {
        const QByteArray pixels = PayloadWriter::pixels(3, 2, 5);
        ImageRecord record;
        record.pixels = "AB";
        ImageReader::parseImageSource(
            PayloadWriter::lvgl9Source("img", 3, 2, pixels, false, 8), record);
        QCOMPARE(record.pixels.toHex(), (QByteArray("AB") + pixels).toHex());
    }

    void refusals_data()
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
        QTest::newRow("NATIVE accepted") << PayloadWriter::lvgl9Source("img", 4, 3, pixels, false,
            0, "LV_COLOR_FORMAT_NATIVE") << QString();
    }

    void refusals()
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

    void realSizeFilesInUse()
    {
        // The job log line goes to the job category; on whatever the environment says.
        const_cast<QLoggingCategory &>(lcJob()).setEnabled(QtDebugMsg, true);
        for (const QSize size : { QSize(340, 230), QSize(220, 165) }) {
            const int width = size.width(), height = size.height();
            const QByteArray pixels = PayloadWriter::pixels(width, height, quint32(width));
            const QString path
                = TestSupport::appFile(QStringLiteral("images/real_%1.c").arg(width));
            QVERIFY(PayloadWriter::writeImageSource(path, "real", width, height, pixels));

            QTest::ignoreMessage(QtDebugMsg,
                qPrintable(QStringLiteral("Image Loaded: %1 Width: %2 Height: %3")
                               .arg(width * height * 2)
                               .arg(width)
                               .arg(height)));
            const ImageRecord record = ImageReader::loadImage(path, 5, 6);
            QVERIFY2(record.problem.isEmpty(), qPrintable(record.problem));
            QCOMPARE(record.fileName, path);
            QCOMPARE(record.imageName, 5);
            QCOMPARE(record.imageVersion, 6);
            QCOMPARE(record.width, width);
            QCOMPARE(record.height, height);
            QCOMPARE(record.pixels.size(), width * height * 2);
            QVERIFY(record.pixels == pixels);
        }
    }

    void missingOrUnreadableFile()
    {
        // A folder exists but cannot be read as a file.
        QVERIFY(TestSupport::writeAppFile("images/folder.c/inside", "x"));
        const QStringList cases[]
            = { { "images/not-there.c", "missing" }, { "images/folder.c", "cannot be read" } };
        for (const QStringList &c : cases) {
            const QString path = TestSupport::appFile(c.at(0));
            const ImageRecord record = ImageReader::loadImage(path, 7, 8);
            QVERIFY(record.pixels.isEmpty());
            QCOMPARE(record.width, 0);
            QCOMPARE(record.height, 0);
            QCOMPARE(record.imageName, 7);
            QCOMPARE(record.imageVersion, 8);
            QCOMPARE(record.fileName, path);
            QVERIFY2(record.problem.contains(QDir::toNativeSeparators(path)),
                qPrintable(record.problem));
            QVERIFY2(record.problem.contains(c.at(1)), qPrintable(record.problem));
        }
    }

    void fileProblems_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("problem"); // a part of the expected line
        QTest::addColumn<int>("bytes");

        QTest::newRow("one byte short")
            << QByteArray("{0x1, 0x2, 0x3} d = {.header.w = 2, .header.h = 1}")
            << QStringLiteral("holds 3 bytes, but 2 x 1 pixels need 4") << 3;
        QTest::newRow("no size given")
            << QByteArray("{0x1, 0x2}") << QStringLiteral("no width") << 2;
        QTest::newRow("empty array") << QByteArray("{} d = {.header.w = 2, .header.h = 1}")
                                     << QStringLiteral("no image bytes") << 0;
        QTest::newRow("empty file") << QByteArray() << QStringLiteral("no image bytes") << 0;
        // Found by fuzzing: two negative sizes whose product matches the bytes.
        QTest::newRow("negative size")
            << QByteArray("{0x1, 0x2, 0x3, 0x4} d = {.header.w = -2, .header.h = -1}")
            << QStringLiteral("no width") << 4;
    }

    void fileProblems()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, problem);
        QFETCH(int, bytes);
        QVERIFY(TestSupport::writeAppFile("images/problem.c", text));
        const QString path = TestSupport::appFile("images/problem.c");
        const ImageRecord record = ImageReader::loadImage(path, 1, 1);
        QCOMPARE(record.pixels.size(), bytes);
        QVERIFY2(record.problem.contains(problem), qPrintable(record.problem));
        QVERIFY(record.problem.contains(QDir::toNativeSeparators(path)));
    }
};

QTEST_GUILESS_MAIN(TestImageReader)
#include "tst_imagereader.moc"
