// The display image reader: the array's token rules, comments, the sections a
// 16-bit, unswapped build compiles (their #if expressions among them), the
// descriptor, each converter generation's shape with its stride padding, and
// files with their job-log problems. The demo payload zq-make-payload writes
// reads back as generated.
#include "PayloadWriter.h"
#include "payload/ImageReader.h"
#include "payload/Settings.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

void row(const char *name, const char *text, const char *hex, int width = 0, int height = 0)
{
    QTest::newRow(name) << QByteArray(text) << QByteArray::fromHex(hex) << width << height << QString();
}

// A value that is no byte: the bytes as read, and the refusal naming its line and value.
void damaged(const char *name, const char *text, const char *hex, const char *refusal)
{
    QTest::newRow(name) << QByteArray(text) << QByteArray::fromHex(hex) << 0 << 0
                        << QString::fromLatin1(refusal);
}

// A section around 0x01 whose #if is expression: kept or dropped.
void condition(const char *expression, bool kept)
{
    QTest::newRow(expression) << "{\n#if " + QByteArray(expression) + "\n0x01,\n#endif\n0x02}"
                              << QByteArray::fromHex(kept ? "0102" : "02") << 0 << 0 << QString();
}

} // namespace

class TestImageReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(TestSupport::writeAppFile("images/folder.c/inside", "x"));
    }

    void cleanupTestCase()
    {
        TestSupport::removeAppFiles({ "images" });
    }

    // Rows: source text, the bytes read, width and height, and the refusal
    // (a part of it; empty: none).
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("pixels");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<QString>("refusal");

        // A byte is "0x" and one or two hexadecimal digits.
        row("trailing comma adds nothing", "a[] = {0x12, 0x3,}", "1203");
        row("hash not at a line start is skipped", "{0x01, # 0x02}", "0102");
        // Anything else is damage, refused with its line: sent, it would
        // change or shift the pixels.
        damaged("three or four digits", "{0x12,\n0x1234}", "1234", "line 2: the value \"0x1234\" is no byte");
        damaged("a letter that is no digit", "{\n\n0xZZ, 0x01}", "0001", "line 3: the value \"0xZZ\"");
        damaged("0x alone", "{0x, 0x01}", "0001", "line 1: the value \"0x\"");
        damaged("upper-case X", "{0X12, 0x12}", "12", "\"0X12\" is no byte");
        damaged("a decimal", "{0x01,\r\n12, 0x12}", "0112", "line 2: the value \"12\"");
        damaged("a name joins the next value", "{0x01, name 0x02, 0x03}", "0103", "\"name0x02\"");
        damaged("unclosed array's last value", "{0x12, 0x34", "12", "\"0x34\"");
        // Comments are absent, wherever they stand.
        row("block comment before a value", "{/*c*/0x12, 0x34}", "1234");
        row("line comment at a row end", "{0x12, // row 1\n0x34}", "1234");
        row("comment inside a value", "{0x1/*x*/2}", "12");
        row("brace in a comment before the array", "/* { */ a[] = {0x05}", "05");
        row("closing brace and comma in a comment", "{0x01, /* } , 0x07 */ 0x02}", "0102");
        row("comment that never ends", "{0x01, /* 0x02}", "01");
        // Sections.
        row("elif chain takes the first true branch",
            "{\n#if LV_COLOR_DEPTH == 8\n0x01,\n#elif LV_COLOR_DEPTH == 16\n0x02,\n"
            "#elif 1\n0x03,\n#else\n0x04,\n#endif\n}",
            "02");
        row("nested section inside a dropped one",
            "{\n#if 0\n#if 1\n0x01,\n#endif\n0x02,\n#else\n0x03,\n#endif\n}", "03");
        row("ifdef and ifndef",
            "{\n#ifdef LV_COLOR_DEPTH\n0x01,\n#endif\n#ifndef LV_COLOR_DEPTH\n0x02,\n"
            "#endif\n#ifdef OTHER\n0x03,\n#endif\n#ifndef OTHER\n0x04,\n#endif\n}",
            "0104");
        row("closing brace in a dropped section", "{\n#if 0\n}\n#endif\n0x05}", "05");
        row("directive continued and commented",
            "{\n  #  if LV_COLOR_DEPTH == 16 && \\\n LV_COLOR_16_SWAP == 0 /* 565 */\n"
            "0x07,\n#endif /* LV_COLOR_DEPTH == 16 */\n0x08}",
            "0708");
        // #if expressions, as LV_COLOR_DEPTH 16 and LV_COLOR_16_SWAP 0 make them.
        condition("LV_COLOR_DEPTH == 1 || LV_COLOR_DEPTH == 8", false);
        condition("LV_COLOR_DEPTH == 16 && LV_COLOR_16_SWAP != 0", false);
        condition("LV_COLOR_DEPTH == 32", false);
        condition("!defined(FOO) && defined LV_COLOR_16_SWAP", true);
        condition("UNKNOWN_NAME", false);
        condition("(LV_COLOR_DEPTH == 8 || LV_COLOR_DEPTH == 16) && !(LV_COLOR_16_SWAP)", true);
        condition("1 || 0 && 0", true);
        condition("0 == 0 == 1", true);
        condition("0x10 == LV_COLOR_DEPTH && 020 == 16UL", true);
        condition("LV_COLOR_DEPTH / 8 * 3 - 1 == 5 && LV_COLOR_DEPTH > 8", true);
        condition("LV_COLOR_16_SWAP ? 0 : 2", true);
        condition("1 /* && 0 */ && 2 // || 0", true);
        condition("__has_include(\"lvgl.h\")", false);
        condition("1 / 0 || 1", false);
        condition("(1", false);
        condition("LV_COLOR_DEPTH = 16", false);
        // Overflow wraps around (the fuzzer found it undefined).
        condition("9223372036854775807 * 3 == 9223372036854775805", true);
        condition("-9223372036854775807 - 2 == 9223372036854775807", true);
        condition("(-9223372036854775807 - 1) / -1 < 0 && (-9223372036854775807 - 1) % -1 == 0",
            true);
        // The descriptor.
        row("later key wins", "{0x01} d = {.header.w = 8, .header.h = 2, .header.w = 9,}", "01", 9,
            2);
        row("a unit or another letter case is no size",
            "{0x1} d = {.header.w = 8px, .header.H = 2}", "01");
        row("comment holding a closing brace",
            "{0x01} d = {.header.w = 3, // }\n .header.h /* } */ = 4}", "01", 3, 4);
        row("nested header", "{0x01} d = {.header = {.cf = X, .w = 5, .h = 6}, .data = x}", "01", 5,
            6);
        row("flat keys after a nested block",
            "{0x01} d = {.other = {.w = 5, .h = 6}, .header.w = 1, .header.h = 2}", "01", 1, 2);

        // The files in use, LVGL 8 (four colour-depth sections), LVGL 9.0 (flat
        // header) and 9.3 (nested); rows padded to a stride (0: none).
        const struct {
            const char *name;
            int version, width, height, stride;
        } shapes[] = { { "in use, 33 x 21", 0, 33, 21, 0 }, { "8, 33 x 21", 8, 33, 21, 0 },
            { "9.0, 33 x 21, stride 72", 90, 33, 21, 72 }, { "9.3, 40 x 30", 93, 40, 30, 0 },
            { "9.3, 33 x 21, stride 68", 93, 33, 21, 68 } };
        for (const auto &s : shapes) {
            const QByteArray px = PayloadWriter::pixels(s.width, s.height, quint32(s.width));
            const QByteArray text = s.version == 0
                ? PayloadWriter::imageSource("img", s.width, s.height, px)
                : s.version == 8 ? PayloadWriter::lvgl8Source("img", s.width, s.height, px)
                                 : PayloadWriter::lvgl9Source(
                                     "img", s.width, s.height, px, s.version == 93, s.stride);
            QTest::newRow(s.name) << text << px << s.width << s.height << QString();
        }
    }

    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, pixels);
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(QString, refusal);
        ImageRecord record;
        record.fileName = QStringLiteral("img.c");
        const QString said = ImageReader::parseImageSource(text, record);
        if (refusal.isEmpty())
            QVERIFY2(said.isEmpty(), qPrintable(said));
        else
            QVERIFY2(said.startsWith("Image file img.c, ") && said.contains(refusal), qPrintable(said));
        QCOMPARE(record.pixels.toHex(), pixels.toHex());
        QCOMPARE(record.width, width);
        QCOMPARE(record.height, height);
    }

    // Rows: a file under images/ (no text: none written), and a part of the
    // job log line about it (empty: none).
    void load_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("problem");
        const auto row = [](const char *name, const char *file, const QByteArray &text,
                             const char *problem = "") {
            QTest::newRow(name) << QString(file) << text << QString(problem);
        };
        const QByteArray px = PayloadWriter::pixels(4, 3, 9);
        row("in use, 340 x 230", "real.c",
            PayloadWriter::imageSource("real", 340, 230, PayloadWriter::pixels(340, 230, 1)));
        row("NATIVE", "native.c",
            PayloadWriter::lvgl9Source("img", 4, 3, px, false, 0, "LV_COLOR_FORMAT_NATIVE"));
        row("LVGL 9 RGB888", "rgb888.c",
            PayloadWriter::lvgl9Source("img", 4, 3, px, true, 0, "LV_COLOR_FORMAT_RGB888"),
            "colour format LV_COLOR_FORMAT_RGB888");
        row("LVGL 8 alpha", "alpha.c",
            PayloadWriter::lvgl8Source("img", 4, 3, px, "LV_IMG_CF_TRUE_COLOR_ALPHA"),
            "colour format LV_IMG_CF_TRUE_COLOR_ALPHA");
        row("one byte short", "short.c", "{0x1, 0x2, 0x3} d = {.header.w = 2, .header.h = 1}",
            "holds 3 bytes, but 2 x 1 pixels need 4");
        row("no size", "nosize.c", "{0x1, 0x2}", "no width");
        // Found by fuzzing: two negative sizes whose product matches the bytes.
        row("negative sizes", "negative.c",
            "{0x1, 0x2, 0x3, 0x4} d = {.header.w = -2, .header.h = -1}", "no width");
        row("empty", "empty.c", "", "no image bytes");
        row("missing", "not-there.c", QByteArray(), "is missing");
        row("a folder", "folder.c", QByteArray(), "cannot be read");
    }

    void load()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, text);
        QFETCH(QString, problem);
        const QString path = TestSupport::appFile("images/" + file);
        if (!text.isNull())
            QVERIFY(TestSupport::writeAppFile("images/" + file, text));
        const ImageRecord record = ImageReader::loadImage(path, 5, 6);
        QCOMPARE(record.fileName, path);
        QCOMPARE(record.imageName, 5);
        QCOMPARE(record.imageVersion, 6);
        if (problem.isEmpty()) {
            QVERIFY2(record.problem.isEmpty(), qPrintable(record.problem));
            QVERIFY(record.width > 0);
            QCOMPARE(record.pixels.size(), record.width * record.height * 2);
            return;
        }
        QVERIFY2(record.problem.contains(problem), qPrintable(record.problem));
        QVERIFY(record.problem.contains(QDir::toNativeSeparators(path)));
        QVERIFY(!record.problem.contains('\n'));
    }

    void demoPayload()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QCOMPARE(QProcess::execute(ZQ_MAKE_PAYLOAD, { dir.filePath("bad"), "--seed", "seven" }), 2);
        QVERIFY(!QFile::exists(dir.filePath("bad")));
        QCOMPARE(QProcess::execute(ZQ_MAKE_PAYLOAD, { dir.filePath("out"), "--seed", "11" }), 0);
        QCOMPARE(QFileInfo(dir.filePath("out/fw1.bin")).size(), qint64(913408));

        const Settings settings = Settings::read(dir.filePath("out/settings.json"));
        QCOMPARE(settings.images.size(), 2);
        const QSize sizes[] = { { 340, 230 }, { 220, 165 } };
        for (int i = 0; i < 2; ++i) {
            QCOMPARE(settings.images[i].imageName, i + 1);
            const ImageRecord record
                = ImageReader::loadImage(dir.filePath("out/" + settings.images[i].fileName), 0, 0);
            QVERIFY2(record.problem.isEmpty(), qPrintable(record.problem));
            QCOMPARE(QSize(record.width, record.height), sizes[i]);
            QVERIFY(record.pixels
                == PayloadWriter::pixels(sizes[i].width(), sizes[i].height(), quint32(12 + i)));
        }
    }
};

QTEST_GUILESS_MAIN(TestImageReader)
#include "tst_imagereader.moc"
