// The line checksum and the completion of a command line in its 1000-byte
// buffer, checked against a bit-wise CRC-16/MCRF4XX written independently here.
#include "link/Crc16.h"
#include "link/LineFrame.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QtTest>
#include <cstring>

namespace {

// Bit-wise reflected CRC-16 with polynomial 0x8408, initial 0xFFFF, no final XOR.
quint16 referenceCrc(const QByteArray &body)
{
    quint16 crc = 0xFFFF;
    for (const char c : body) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0x8408)
                            : static_cast<quint16>(crc >> 1);
    }
    return crc;
}

// The finished line for text (everything after its first "$" is the body).
QByteArray referenceLine(const QByteArray &text)
{
    const QByteArray body = text.mid(text.indexOf('$') + 1);
    return text + '*' + QByteArray::number(referenceCrc(body), 16).toUpper() + '\n';
}

// A 1000-byte buffer holding text and its NUL, the rest filled with '#'.
QByteArray bufferWith(const QByteArray &text)
{
    QByteArray buf(kLineBufferSize, '#');
    std::memcpy(buf.data(), text.constData(), static_cast<size_t>(text.size()));
    buf[text.size()] = '\0';
    return buf;
}

// A command text of length characters ("$" and a printable body) whose CRC
// is written with the given number of hex digits.
QByteArray textWithCrcDigits(int length, int digits)
{
    QByteArray text(length, 'a');
    text[0] = '$';
    for (int i = 0; i < 95 * 95 * 95; ++i) {
        text[length - 1] = static_cast<char>(' ' + 1 + i % 94);
        text[length - 2] = static_cast<char>(' ' + 1 + (i / 94) % 94);
        text[length - 3] = static_cast<char>(' ' + 1 + (i / 94 / 94) % 94);
        if (text.contains('*'))
            continue;
        const quint16 crc = referenceCrc(text.mid(1));
        if (QByteArray::number(crc, 16).size() == digits)
            return text;
    }
    return QByteArray();
}

} // namespace

class TestLineFrame : public QObject
{
    Q_OBJECT

private slots:
    void crcOfBody_data();
    void crcOfBody();
    void crcMatchesReference();
    void completesLine_data();
    void completesLine();
    void completesRandomTexts();
    void longestTextStillFits_data();
    void longestTextStillFits();
    void refusesText_data();
    void refusesText();
};

void TestLineFrame::crcOfBody_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("crc");
    QTest::newRow("check value") << QByteArray("123456789") << 0x6F91;
    QTest::newRow("empty") << QByteArray() << 0xFFFF;
    QTest::newRow("MVER") << QByteArray("MVER") << 0x826A;
    QTest::newRow("BOOTLOADM") << QByteArray("BOOTLOADM") << 0x9FEC;
    QTest::newRow("KP") << QByteArray("KP") << 0x00F3;
    QTest::newRow("CMW") << QByteArray("CMW") << 0x0005;
}

void TestLineFrame::crcOfBody()
{
    QFETCH(QByteArray, body);
    QFETCH(int, crc);
    QCOMPARE(int(Crc16(body.constData(), static_cast<std::size_t>(body.size()))), crc);
    QCOMPARE(int(referenceCrc(body)), crc);

    std::uint16_t running = kCrc16Initial;
    std::uint16_t returned = running;
    for (const char c : body)
        returned = Crc16Update(static_cast<std::uint8_t>(c), running);
    QCOMPARE(int(running), crc);
    QCOMPARE(returned, running);
}

void TestLineFrame::crcMatchesReference()
{
    QRandomGenerator random(20240611);
    for (int round = 0; round < 500; ++round) {
        QByteArray body(random.bounded(1, 1200), Qt::Uninitialized);
        for (char &c : body)
            c = static_cast<char>(random.bounded(256));
        std::uint16_t crc = kCrc16Initial;
        for (const char c : body)
            Crc16Update(static_cast<std::uint8_t>(c), crc);
        QCOMPARE(crc, referenceCrc(body));
    }
    // Every single byte from every sixteenth start value.
    for (int start = 0; start < 0x10000; start += 16) {
        for (int b = 0; b < 256; ++b) {
            std::uint16_t crc = static_cast<std::uint16_t>(start);
            Crc16Update(static_cast<std::uint8_t>(b), crc);
            quint16 ref = static_cast<quint16>(start ^ b);
            for (int bit = 0; bit < 8; ++bit)
                ref = (ref & 1) ? static_cast<quint16>((ref >> 1) ^ 0x8408)
                                : static_cast<quint16>(ref >> 1);
            if (crc != ref)
                QFAIL(qPrintable(QStringLiteral("start %1 byte %2").arg(start).arg(b)));
        }
    }
}

void TestLineFrame::completesLine_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("empty body") << QByteArray("$") << QByteArray("$*FFFF\n");
    QTest::newRow("MVER") << QByteArray("$MVER") << QByteArray("$MVER*826A\n");
    QTest::newRow("BOOTLOADM") << QByteArray("$BOOTLOADM") << QByteArray("$BOOTLOADM*9FEC\n");
    QTest::newRow("two digits") << QByteArray("$KP") << QByteArray("$KP*F3\n");
    QTest::newRow("one digit") << QByteArray("$CMW") << QByteArray("$CMW*5\n");
    QTest::newRow("lead-in not covered") << QByteArray("xy\r$KP") << QByteArray("xy\r$KP*F3\n");
    QTest::newRow("only the first $ starts")
        << QByteArray("$MV$ER")
        << QByteArray("$MV$ER*") + QByteArray::number(referenceCrc("MV$ER"), 16).toUpper() + '\n';
}

void TestLineFrame::completesLine()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, line);
    QByteArray buf = bufferWith(text);
    QCOMPARE(CompleteLine(buf.data()), line.size());
    QCOMPARE(QByteArray(buf.constData()), line);
    // Nothing beyond the new NUL is touched.
    QCOMPARE(buf.mid(line.size() + 1), QByteArray(kLineBufferSize - line.size() - 1, '#'));
}

void TestLineFrame::completesRandomTexts()
{
    QRandomGenerator random(7);
    for (int round = 0; round < 300; ++round) {
        QByteArray text(random.bounded(1, kMaxCommandText + 1), Qt::Uninitialized);
        for (char &c : text)
            c = static_cast<char>(random.bounded(' ', '~' + 1));
        text.replace('*', ',');
        text[0] = '$';
        QByteArray buf = bufferWith(text);
        const QByteArray expected = referenceLine(text);
        QCOMPARE(CompleteLine(buf.data()), expected.size());
        QCOMPARE(QByteArray(buf.constData()), expected);
    }
}

void TestLineFrame::longestTextStillFits_data()
{
    QTest::addColumn<int>("digits");
    for (int digits = 1; digits <= 4; ++digits)
        QTest::addRow("%d checksum digits", digits) << digits;
}

void TestLineFrame::longestTextStillFits()
{
    QFETCH(int, digits);
    const QByteArray text = textWithCrcDigits(kMaxCommandText, digits);
    QVERIFY(!text.isEmpty());
    QCOMPARE(text.size(), 993);

    QByteArray buf = bufferWith(text);
    const int length = CompleteLine(buf.data());
    QCOMPARE(length, 993 + 1 + digits + 1);
    QCOMPARE(QByteArray(buf.constData()), referenceLine(text));
    QCOMPARE(buf[length - 1], '\n');
    QCOMPARE(buf.size(), kLineBufferSize);
    QCOMPARE(buf.mid(length + 1), QByteArray(kLineBufferSize - length - 1, '#'));
}

void TestLineFrame::refusesText_data()
{
    QTest::addColumn<QByteArray>("buffer");

    QTest::newRow("994 characters") << bufferWith('$' + QByteArray(993, 'a'));
    QTest::newRow("999 characters") << bufferWith('$' + QByteArray(998, 'a'));
    QTest::newRow("no $") << bufferWith("MVER");
    QTest::newRow("empty text") << bufferWith("");
    // A "$" left behind the NUL by an earlier line is not part of the text.
    QByteArray staleAfterNul = bufferWith("MVER");
    std::memcpy(staleAfterNul.data() + 5, "$BOOTLOADM", 11);
    QTest::newRow("$ only after the NUL") << staleAfterNul;
    QByteArray staleAfterEmpty = bufferWith("");
    std::memcpy(staleAfterEmpty.data() + 1, "$X", 3);
    QTest::newRow("empty text, $ after the NUL") << staleAfterEmpty;
    QByteArray noNul(kLineBufferSize, 'a');
    noNul[0] = '$';
    QTest::newRow("no NUL in the buffer") << noNul;
    QByteArray lateDollar(kLineBufferSize, 'a');
    lateDollar[999] = '$';
    QTest::newRow("$ only at position 999") << lateDollar;
}

void TestLineFrame::refusesText()
{
    QFETCH(QByteArray, buffer);
    QByteArray buf = buffer;
    QCOMPARE(CompleteLine(buf.data()), 0);
    QCOMPARE(buf, buffer);
}

QTEST_APPLESS_MAIN(TestLineFrame)
#include "tst_lineframe.moc"
