// The text routines on NUL-terminated byte strings: fields of a line, and hex
// digits and numbers read and written.
#include "link/TextRoutines.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QtTest>
#include <cstring>

class TestTextRoutines : public QObject
{
    Q_OBJECT

private slots:
    void getField_data();
    void getField();
    void hexDigit();
    void hexValue_data();
    void hexValue();
    void toHex_data();
    void toHex();
    void toHexRandom();
    void hexToInt_data();
    void hexToInt();
};

void TestTextRoutines::getField_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<uint>("n");
    QTest::addColumn<uint>("maxLength");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("field");

    const QByteArray e("$E,12,ab*C0AE");
    QTest::newRow("field 0") << e << 0u << 64u << 1 << QByteArray("$E");
    QTest::newRow("field 1") << e << 1u << 64u << 1 << QByteArray("12");
    QTest::newRow("field 2") << e << 2u << 64u << 1 << QByteArray("ab");
    QTest::newRow("checksum is field 3") << e << 3u << 64u << 1 << QByteArray("C0AE");
    QTest::newRow("field 4 missing") << e << 4u << 64u << 0 << QByteArray();
    QTest::newRow("M = 1") << e << 1u << 1u << 1 << QByteArray("1");
    QTest::newRow("M = 0") << e << 1u << 0u << 1 << QByteArray("");
    QTest::newRow("M cuts field 0")
        << QByteArray("$Bootloader") << 0u << 4u << 1 << QByteArray("$Boo");

    const QByteArray fack("$FACK,1A,0*8E4\n");
    QTest::newRow("LF ends checksum") << fack << 3u << 64u << 1 << QByteArray("8E4");
    QTest::newRow("nothing after LF") << fack << 4u << 64u << 0 << QByteArray();
    QTest::newRow("CR ends field")
        << QByteArray("$GACK\r\n") << 0u << 64u << 1 << QByteArray("$GACK");
    QTest::newRow("CR and LF are no separators")
        << QByteArray("$GACK\r\n") << 1u << 64u << 0 << QByteArray();
    QTest::newRow("fields go on after CR LF")
        << QByteArray("$A,1\r\nX,Y") << 2u << 64u << 1 << QByteArray("Y");
    QTest::newRow("field cut at CR")
        << QByteArray("$A,1\r\nX,Y") << 1u << 64u << 1 << QByteArray("1");

    QTest::newRow("empty field between") << QByteArray("$A,,B") << 1u << 64u << 1 << QByteArray();
    QTest::newRow("empty last field") << QByteArray("$A,") << 1u << 64u << 1 << QByteArray();
    QTest::newRow("past the end") << QByteArray("$A,") << 2u << 64u << 0 << QByteArray();
    QTest::newRow("field 0 of empty text") << QByteArray("") << 0u << 64u << 1 << QByteArray();
    QTest::newRow("field 1 of empty text") << QByteArray("") << 1u << 64u << 0 << QByteArray();
    QTest::newRow("lead-in is part of field 0")
        << QByteArray("ab$E,1") << 0u << 64u << 1 << QByteArray("ab$E");

    // The walk stops after 65535 characters.
    const QByteArray commas(70000, ',');
    QTest::newRow("separator 65535 is reached") << commas << 65535u << 64u << 1 << QByteArray();
    QTest::newRow("separator 65536 is beyond the walk")
        << commas << 65536u << 64u << 0 << QByteArray();
    QTest::newRow("long field 0, separator in reach")
        << QByteArray(65534, 'a') + ",Z" << 1u << 64u << 1 << QByteArray("Z");
    QTest::newRow("long field 0, separator out of reach")
        << QByteArray(65535, 'a') + ",Z" << 1u << 64u << 0 << QByteArray();
}

void TestTextRoutines::getField()
{
    QFETCH(QByteArray, text);
    QFETCH(uint, n);
    QFETCH(uint, maxLength);
    QFETCH(int, result);
    QFETCH(QByteArray, field);

    // M characters and a NUL at most: the byte after them stays untouched.
    QByteArray out(maxLength + 2, '#');
    QCOMPARE(GetField(text.constData(), out.data(), n, maxLength), result);
    if (result == 1)
        QCOMPARE(QByteArray(out.constData()), field);
    QCOMPARE(out.at(maxLength + 1), '#');
}

void TestTextRoutines::hexDigit()
{
    const QByteArray digits("0123456789ABCDEF");
    for (unsigned v = 0; v < 16; ++v) {
        QCOMPARE(HexDigit(v), digits[v]);
        QCOMPARE(HexDigit(v + 0x30), digits[v]); // only the low four bits count
    }
}

void TestTextRoutines::hexValue_data()
{
    QTest::addColumn<char>("c");
    QTest::addColumn<uint>("value");
    const struct {
        char c;
        unsigned value;
    } rows[] = { { '0', 0 }, { '9', 9 }, { '/', 0 }, { ':', 0 }, { 'A', 10 }, { 'F', 15 },
        { '@', 0 }, { 'G', 0 }, { 'a', 10 }, { 'f', 15 }, { '`', 0 }, { 'g', 0 }, { '\0', 0 },
        { '\r', 0 }, { ',', 0 }, { '*', 0 }, { '\xff', 0 }, { '\xc1', 0 } };
    for (const auto &row : rows)
        QTest::addRow("0x%02x", static_cast<unsigned char>(row.c)) << row.c << row.value;
}

void TestTextRoutines::hexValue()
{
    QFETCH(char, c);
    QFETCH(uint, value);
    QCOMPARE(HexValue(c), value);
}

void TestTextRoutines::toHex_data()
{
    QTest::addColumn<uint>("value");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("zero") << 0u << QByteArray("0");
    QTest::newRow("two digits") << 0x10u << QByteArray("10");
    QTest::newRow("1A2") << 0x1A2u << QByteArray("1A2");
    QTest::newRow("four digits") << 0xFFFFu << QByteArray("FFFF");
    QTest::newRow("five digits") << 0x10000u << QByteArray("10000");
    QTest::newRow("largest") << 0xFFFFFFFFu << QByteArray("FFFFFFFF");
}

void TestTextRoutines::toHex()
{
    QFETCH(uint, value);
    QFETCH(QByteArray, text);
    char out[10];
    std::memset(out, '#', sizeof out);
    QCOMPARE(ToHex(value, out), text.size());
    QCOMPARE(QByteArray(out), text);
    QCOMPARE(out[text.size() + 1], '#');
}

void TestTextRoutines::toHexRandom()
{
    QRandomGenerator random(31);
    for (int i = 0; i < 2000; ++i) {
        const quint32 value = random.generate() >> random.bounded(32);
        char out[9];
        const QByteArray expected = QByteArray::number(value, 16).toUpper();
        QCOMPARE(ToHex(value, out), expected.size());
        QCOMPARE(QByteArray(out), expected);
        QCOMPARE(HexToInt(out), value);
    }
}

void TestTextRoutines::hexToInt_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<uint>("value");
    QTest::newRow("1G") << QByteArray("1G") << 0x10u;
    QTest::newRow("empty") << QByteArray("") << 0u;
    QTest::newRow("G") << QByteArray("G") << 0u;
    QTest::newRow("lower case") << QByteArray("aBcD") << 0xABCDu;
    QTest::newRow("eight digits") << QByteArray("ffffffff") << 0xFFFFFFFFu;
    QTest::newRow("nine digits keep the last eight") << QByteArray("123456789") << 0x23456789u;
    QTest::newRow("no digit stops the reading") << QByteArray("1 2") << 0x102u;
    QTest::newRow("CR LF count as digits") << QByteArray("12\r\n") << 0x1200u;
}

void TestTextRoutines::hexToInt()
{
    QFETCH(QByteArray, text);
    QFETCH(uint, value);
    QCOMPARE(HexToInt(text.constData()), value);
}

QTEST_APPLESS_MAIN(TestTextRoutines)
#include "tst_textroutines.moc"
