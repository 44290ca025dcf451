// The line frame: a command text completed in its 1000-byte buffer with the
// CRC-16/MCRF4XX of its body (known values, the standard check value among
// them), and received bytes cut into lines.
#include "link/LineAssembler.h"
#include "link/LineFrame.h"

#include <QtTest>

class TestLineFrame : public QObject
{
    Q_OBJECT

private slots:
    // Rows: the buffer's bytes (the text, and what a NUL in them leaves behind
    // it), and the finished line; empty when the text is refused.
    void completeLine_data()
    {
        QTest::addColumn<QByteArray>("buffer");
        QTest::addColumn<QByteArray>("line");
        for (const char *known : { "$MVER*826A", "$BOOTLOADM*9FEC", "$X*D14A", "$A,1*CF00",
                 "$E,1000,1*2BEA", "$P,1000,1000*C64E", "$123456789*6F91", "$*FFFF", "$KP*F3",
                 "$CMW*5", "xy\r$KP*F3", "$MV$ER*3A41" }) {
            const QByteArray line = QByteArray(known) + '\n';
            QTest::newRow(known) << line.left(line.lastIndexOf('*')) << line;
        }
        // 993 characters and a four-digit checksum: the NUL is the buffer's last byte.
        const QByteArray longest = '$' + QByteArray(992, 'a');
        QTest::newRow("993 characters fit") << longest << longest + "*F82C\n";
        QTest::newRow("994 characters") << longest + 'a' << QByteArray();
        QTest::newRow("no $") << QByteArray("MVER") << QByteArray();
        QTest::newRow("$ only after the NUL") << QByteArray("MVER\0$BOOTLOADM", 15) << QByteArray();
        QTest::newRow("empty text, $ after the NUL") << QByteArray("\0$X", 3) << QByteArray();
        QTest::newRow("no NUL in the buffer") << '$' + QByteArray(999, 'a') << QByteArray();
    }

    void completeLine()
    {
        QFETCH(QByteArray, buffer);
        QFETCH(QByteArray, line);
        const QByteArray before = (buffer + '\0').leftJustified(kLineBufferSize, '#', true);
        QByteArray buf = before;
        QCOMPARE(CompleteLine(buf.data()), line.size());
        if (line.isEmpty()) {
            QCOMPARE(buf, before);
            return;
        }
        QCOMPARE(QByteArray(buf.constData()), line);
        // Nothing beyond the new NUL is touched.
        QCOMPARE(buf.mid(line.size() + 1), before.mid(line.size() + 1));
    }

    // Rows: received bytes, the lines handed on, and the bytes left pending.
    void cutLines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<int>("pending");
        using L = QByteArrayList;
        QTest::newRow("carriage return kept") << QByteArray("$GACK\r\n") << L { "$GACK\r\n" } << 0;
        QTest::newRow("two lines and a rest")
            << QByteArray("$EACK\n$DACK\n$FA") << L { "$EACK\n", "$DACK\n" } << 3;
        QTest::newRow("NUL byte stored") << QByteArray("$A\0B\n", 5) << L { "$A" } << 0;
        QTest::newRow("longest line kept whole") << QByteArray(998, 'a') + '\n'
                                                 << L { QByteArray(998, 'a') + '\n' } << 0;
        // The 1000th byte wraps the count to 0: only what follows is left of the line.
        QTest::newRow("wrap keeps the tail") << QByteArray(999, 'a') + "b$EACK\n"
                                             << L { "$EACK\n" } << 0;
    }

    void cutLines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArrayList, lines);
        QFETCH(int, pending);
        // Each line is handed on and the count reset, as the engine does.
        char line[kLineBufferSize];
        std::int16_t length = 0;
        QByteArrayList got;
        for (const char byte : bytes) {
            if (AppendRxByte(line, length, byte)) {
                got.append(QByteArray(line));
                length = 0;
            }
        }
        QCOMPARE(got, lines);
        QCOMPARE(int(length), pending);
    }

    // A received line's checksum: the rows a garble or a unit without
    // checksums gives, and a reply as the unit sends it.
    void checkLine_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<int>("check");
        const int absent = int(LineCheck::Absent), right = int(LineCheck::Right),
                  wrong = int(LineCheck::Wrong);
        QTest::newRow("unit's reply") << QByteArray("$FACK,1A,0*8E4\n") << right;
        QTest::newRow("leading zero, lower case, CR LF") << QByteArray("$FACK,1A,0*08e4\r\n") << right;
        QTest::newRow("one bit in the flag") << QByteArray("$IACK,1*420E\n") << wrong;
        QTest::newRow("one bit in the word") << QByteArray("$EACK*AB09\n") << wrong;
        QTest::newRow("a digit not hex") << QByteArray("$DACK*AB0G\n") << wrong;
        QTest::newRow("five digits") << QByteArray("$DACK*0AB09\n") << wrong;
        QTest::newRow("no checksum") << QByteArray("$GACK\n") << absent;
        QTest::newRow("star, nothing after") << QByteArray("$GACK*\n") << absent;
        QTest::newRow("no dollar") << QByteArray("GACK*1\n") << absent;
    }

    void checkLine()
    {
        QFETCH(QByteArray, line);
        QFETCH(int, check);
        QCOMPARE(int(CheckLine(line.constData())), check);
    }
};

QTEST_APPLESS_MAIN(TestLineFrame)
#include "tst_lineframe.moc"
