// The text routines on NUL-terminated bytes: fields of a line, and hex
// numbers read and written.
#include "link/TextRoutines.h"

#include <QtTest>

class TestTextRoutines : public QObject
{
    Q_OBJECT

private slots:
    // Rows: text, field n, at most M characters, and the field (none: no field n).
    void getField_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<uint>("n");
        QTest::addColumn<uint>("maxLength");
        QTest::addColumn<QByteArray>("field");
        const QByteArray none = "(none)";
        const QByteArray e("$E,12,ab*C0AE\r\n");
        QTest::newRow("field 0") << e << 0u << 64u << QByteArray("$E");
        QTest::newRow("field 1") << e << 1u << 64u << QByteArray("12");
        QTest::newRow("field 2 ends at *") << e << 2u << 64u << QByteArray("ab");
        QTest::newRow("checksum ends at CR") << e << 3u << 64u << QByteArray("C0AE");
        QTest::newRow("no field 4") << e << 4u << 64u << none;
        QTest::newRow("M cuts the field") << e << 1u << 1u << QByteArray("1");
        QTest::newRow("M = 0") << e << 1u << 0u << QByteArray("");
        QTest::newRow("empty field") << QByteArray("$A,,B") << 1u << 64u << QByteArray("");
        QTest::newRow("past a last empty field") << QByteArray("$A,") << 2u << 64u << none;
        QTest::newRow("lead-in is part of field 0")
            << QByteArray("ab$E,1") << 0u << 64u << QByteArray("ab$E");
        QTest::newRow("fields go on after CR LF")
            << QByteArray("$A,1\r\nX,Y") << 2u << 64u << QByteArray("Y");
        // The walk stops after 65535 characters.
        const QByteArray commas(70000, ',');
        QTest::newRow("separator 65535 is reached") << commas << 65535u << 64u << QByteArray("");
        QTest::newRow("separator 65536 is beyond the walk") << commas << 65536u << 64u << none;
    }

    void getField()
    {
        QFETCH(QByteArray, text);
        QFETCH(uint, n);
        QFETCH(uint, maxLength);
        QFETCH(QByteArray, field);
        // M characters and a NUL at most: the byte after them stays untouched.
        QByteArray out(int(maxLength) + 2, '#');
        const int found = GetField(text.constData(), out.data(), n, maxLength);
        QCOMPARE(found ? QByteArray(out.constData()) : QByteArray("(none)"), field);
        QCOMPARE(out.at(int(maxLength) + 1), '#');
    }

    // Rows: text, the value HexToInt reads, and whether ToHex writes that text.
    void hex_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<uint>("value");
        QTest::addColumn<bool>("written");
        QTest::newRow("0") << QByteArray("0") << 0u << true;
        QTest::newRow("1A2") << QByteArray("1A2") << 0x1A2u << true;
        QTest::newRow("10000") << QByteArray("10000") << 0x10000u << true;
        QTest::newRow("FFFFFFFF") << QByteArray("FFFFFFFF") << 0xFFFFFFFFu << true;
        QTest::newRow("digit edges, lower case") << QByteArray("09AFaf") << 0x09AFAFu << false;
        QTest::newRow("no digit counts 0") << QByteArray("1/:@G`g2") << 0x10000002u << false;
        QTest::newRow("empty") << QByteArray("") << 0u << false;
        QTest::newRow("nine digits keep the last eight")
            << QByteArray("123456789") << 0x23456789u << false;
        QTest::newRow("CR LF count as digits") << QByteArray("12\r\n") << 0x1200u << false;
    }

    void hex()
    {
        QFETCH(QByteArray, text);
        QFETCH(uint, value);
        QFETCH(bool, written);
        QCOMPARE(HexToInt(text.constData()), value);
        if (written) {
            char out[10] = "#########";
            QCOMPARE(ToHex(value, out), text.size());
            QCOMPARE(QByteArray(out), text);
        }
    }
};

QTEST_APPLESS_MAIN(TestTextRoutines)
#include "tst_textroutines.moc"
