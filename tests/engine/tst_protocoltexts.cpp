// Reply lines as the engine reads them: the reply word (field 0, exactly,
// letter case included), and a field as a number and as a flag. Whole
// exchanges, command texts included, are the engine test's (tests/engine).
#include "engine/Protocol.h"

#include <QtTest>

Q_DECLARE_METATYPE(Protocol::ReplyWord)

class TestProtocolTexts : public QObject
{
    Q_OBJECT

private slots:
    // Rows: the line, its reply word, and field n (1 unless given) as a number
    // (0 unless given) and as a flag (-1, none, unless given).
    void reply_data()
    {
        using W = Protocol::ReplyWord;
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<W>("word");
        QTest::addColumn<uint>("n");
        QTest::addColumn<uint>("number");
        QTest::addColumn<int>("flag");
        const auto row = [](const char *name, const QByteArray &line, W word, uint n = 1,
                             uint number = 0, int flag = -1) {
            QTest::newRow(name) << line << word << n << number << flag;
        };
        row("Bootloader", "$Bootloader\r\n", W::Bootloader);
        row("GACK, any checksum", "$GACK*0000\n", W::GAck);
        row("MVERR", "$MVERR,D.02n*1234\n", W::MverR, 2u, 0x1234u);
        row("EACK", "$EACK\n", W::EAck);
        row("DACK", "$DACK\n", W::DAck);
        row("PACK", "$PACK\n", W::PAck);
        row("AACK 1 CR LF", "$AACK,1\r\n", W::AAck, 1u, 1u, 1);
        row("AACK 01", "$AACK,01\n", W::AAck, 1u, 1u);
        row("IACK 0", "$IACK,0*1234\n", W::IAck, 1u, 0u, 0);
        row("IACK 10", "$IACK,10\n", W::IAck, 1u, 0x10u);
        row("IACK empty", "$IACK,\n", W::IAck);
        row("FACK chunk", "$FACK,1a,0*8E4\n", W::FAck, 1u, 0x1Au);
        row("FACK flag", "$FACK,1A,1\n", W::FAck, 2u, 1u, 1);
        row("FACK, no flag", "$FACK,1A\n", W::FAck, 2u);
        row("lower case", "$gack\n", W::Unknown);
        row("longer word", "$EACKS\n", W::Unknown);
        row("shorter word", "$EAC\n", W::Unknown);
        row("lead-in", " $EACK\n", W::Unknown);
        row("word past 64 characters", "$EACK" + QByteArray(70, 'x') + "\n", W::Unknown);
    }

    void reply()
    {
        QFETCH(QByteArray, line);
        QFETCH(Protocol::ReplyWord, word);
        QFETCH(uint, n);
        QFETCH(uint, number);
        QFETCH(int, flag);
        char out[Protocol::kReplyWordLength + 1];
        QCOMPARE(Protocol::recogniseReply(line.constData(), out), word);
        QCOMPARE(Protocol::numberField(line.constData(), n), number);
        QCOMPARE(Protocol::flagField(line.constData(), n), flag);
    }
};

QTEST_APPLESS_MAIN(TestProtocolTexts)
#include "tst_protocoltexts.moc"
