// Cutting received bytes into lines in a port's 1000-byte receive buffer.
#include "link/LineAssembler.h"
#include "link/LineFrame.h"

#include <QByteArray>
#include <QtTest>

namespace {

// Feeds bytes and returns the lines handed on, resetting the count after each
// as the dialog does.
QList<QByteArray> feed(char *line, std::int16_t &length, const QByteArray &bytes)
{
    QList<QByteArray> lines;
    for (const char byte : bytes) {
        if (AppendRxByte(line, length, byte)) {
            lines.append(QByteArray(line));
            length = 0;
        }
    }
    return lines;
}

} // namespace

class TestLineAssembler : public QObject
{
    Q_OBJECT

private slots:
    void cutsLines_data();
    void cutsLines();
    void lineFeedIsTheOnlyEnd();
    void splitReads();
};

void TestLineAssembler::cutsLines_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<int>("pending");

    QTest::newRow("one line") << QByteArray("$EACK\n") << QList<QByteArray> { "$EACK\n" } << 0;
    QTest::newRow("carriage return kept")
        << QByteArray("$GACK\r\n") << QList<QByteArray> { "$GACK\r\n" } << 0;
    QTest::newRow("two lines") << QByteArray("$EACK\n$DACK\n")
                               << QList<QByteArray> { "$EACK\n", "$DACK\n" } << 0;
    QTest::newRow("empty line") << QByteArray("\n") << QList<QByteArray> { "\n" } << 0;
    QTest::newRow("rest stays") << QByteArray("$PACK\n$FA") << QList<QByteArray> { "$PACK\n" } << 3;
    QTest::newRow("NUL byte stored") << QByteArray("$A\0B\n", 5) << QList<QByteArray> { "$A" } << 0;

    // 999 bytes fill positions 0..998; the 1000th wraps the count to 0, so
    // only what follows the wrap is left of the line.
    QTest::newRow("wrap keeps the tail") << QByteArray(999, 'a') + "b$EACK\n"
                                         << QList<QByteArray> { "$EACK\n" } << 0;
    QTest::newRow("longest line kept whole")
        << QByteArray(998, 'a') + '\n'
        << QList<QByteArray> { QByteArray(998, 'a') + '\n' } << 0;
    QTest::newRow("line feed as the 1000th byte") << QByteArray(999, 'a') + '\n'
                                                  << QList<QByteArray> { QByteArray() } << 0;
    QTest::newRow("two wraps") << QByteArray(2000, 'a') + "$DACK\n"
                               << QList<QByteArray> { "$DACK\n" } << 0;
}

void TestLineAssembler::cutsLines()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(int, pending);

    char line[kLineBufferSize];
    std::int16_t length = 0;
    QCOMPARE(feed(line, length, bytes), lines);
    QCOMPARE(int(length), pending);
}

void TestLineAssembler::lineFeedIsTheOnlyEnd()
{
    char line[kLineBufferSize];
    std::int16_t length = 0;
    for (int c = 0; c < 256; ++c) {
        if (c == '\n')
            continue;
        QVERIFY(!AppendRxByte(line, length, static_cast<char>(c)));
    }
    QCOMPARE(int(length), 255);
    QVERIFY(AppendRxByte(line, length, '\n'));
    QCOMPARE(int(length), 256);
    QCOMPARE(line[256], '\0');
}

void TestLineAssembler::splitReads()
{
    char line[kLineBufferSize];
    std::int16_t length = 0;
    QVERIFY(feed(line, length, "$FACK,1").isEmpty());
    QCOMPARE(int(length), 7);
    QCOMPARE(feed(line, length, "A,0*8E4\n$D"), QList<QByteArray> { "$FACK,1A,0*8E4\n" });
    QCOMPARE(feed(line, length, "ACK\n"), QList<QByteArray> { "$DACK\n" });
}

QTEST_APPLESS_MAIN(TestLineAssembler)
#include "tst_lineassembler.moc"
