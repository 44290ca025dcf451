// The line checksum, the completion of a command line in its 1000-byte buffer
// (against a bit-wise CRC-16/MCRF4XX written independently here), and the
// cutting of received bytes into lines.
#include "link/Crc16.h"
#include "link/LineAssembler.h"
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
            crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0x8408) : crc >> 1;
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

// A 993-character command text whose CRC is written with the given number of digits.
QByteArray longestTextWithCrcDigits(int digits)
{
    QByteArray text(kMaxCommandText, 'a');
    text[0] = '$';
    for (int i = 0; i < 94 * 94 * 94; ++i) {
        for (int k = 0, v = i; k < 3; ++k, v /= 94)
            text[kMaxCommandText - 1 - k] = static_cast<char>('!' + v % 94);
        if (!text.contains('*')
            && QByteArray::number(referenceCrc(text.mid(1)), 16).size() == digits)
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
    void cutsLines_data();
    void cutsLines();
    void lineFeedIsTheOnlyEnd();
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
    QTest::newRow("only the first $ starts") << QByteArray("$MV$ER") << referenceLine("$MV$ER");
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
    // 993 characters become a line of 996 to 999, its NUL the buffer's last byte at most.
    QFETCH(int, digits);
    const QByteArray text = longestTextWithCrcDigits(digits);
    QCOMPARE(text.size(), 993);
    QByteArray buf = bufferWith(text);
    const int length = CompleteLine(buf.data());
    QCOMPARE(length, 993 + 1 + digits + 1);
    QCOMPARE(QByteArray(buf.constData()), referenceLine(text));
    QCOMPARE(buf.size(), kLineBufferSize);
    QCOMPARE(buf.mid(length + 1), QByteArray(kLineBufferSize - length - 1, '#'));
}

void TestLineFrame::refusesText_data()
{
    QTest::addColumn<QByteArray>("buffer");
    QTest::newRow("994 characters") << bufferWith('$' + QByteArray(993, 'a'));
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

void TestLineFrame::cutsLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<int>("pending");
    using L = QList<QByteArray>;
    QTest::newRow("carriage return kept") << QByteArray("$GACK\r\n") << L { "$GACK\r\n" } << 0;
    QTest::newRow("two lines") << QByteArray("$EACK\n$DACK\n") << L { "$EACK\n", "$DACK\n" } << 0;
    QTest::newRow("empty line") << QByteArray("\n") << L { "\n" } << 0;
    QTest::newRow("rest stays") << QByteArray("$PACK\n$FA") << L { "$PACK\n" } << 3;
    QTest::newRow("NUL byte stored") << QByteArray("$A\0B\n", 5) << L { "$A" } << 0;
    // 999 bytes fill positions 0..998; the 1000th wraps the count to 0, so
    // only what follows the wrap is left of the line.
    QTest::newRow("wrap keeps the tail") << QByteArray(999, 'a') + "b$EACK\n"
                                         << L { "$EACK\n" } << 0;
    QTest::newRow("longest line kept whole") << QByteArray(998, 'a') + '\n'
                                             << L { QByteArray(998, 'a') + '\n' } << 0;
    QTest::newRow("line feed as the 1000th byte") << QByteArray(999, 'a') + '\n' << L { "" } << 0;
    QTest::newRow("two wraps") << QByteArray(2000, 'a') + "$DACK\n" << L { "$DACK\n" } << 0;
}

void TestLineFrame::cutsLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(int, pending);
    // Each line is handed on and the count reset, as the dialog does.
    char line[kLineBufferSize];
    std::int16_t length = 0;
    QList<QByteArray> got;
    for (const char byte : bytes) {
        if (AppendRxByte(line, length, byte)) {
            got.append(QByteArray(line));
            length = 0;
        }
    }
    QCOMPARE(got, lines);
    QCOMPARE(int(length), pending);
}

void TestLineFrame::lineFeedIsTheOnlyEnd()
{
    char line[kLineBufferSize];
    std::int16_t length = 0;
    for (int c = 0; c < 256; ++c) {
        if (c != '\n')
            QVERIFY(!AppendRxByte(line, length, static_cast<char>(c)));
    }
    QVERIFY(AppendRxByte(line, length, '\n'));
    QCOMPARE(int(length), 256);
    QCOMPARE(line[256], '\0');
}

QTEST_APPLESS_MAIN(TestLineFrame)
#include "tst_lineframe.moc"
