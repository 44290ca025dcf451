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
    // Rows: the line, its reply word, and field n as a number and as a flag.
    void reply_data()
    {
        using W = Protocol::ReplyWord;
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<W>("word");
        QTest::addColumn<uint>("n");
        QTest::addColumn<uint>("number");
        QTest::addColumn<int>("flag");
        QTest::newRow("Bootloader")
            << QByteArray("$Bootloader\r\n") << W::Bootloader << 1u << 0u << -1;
        QTest::newRow("GACK, any checksum")
            << QByteArray("$GACK*0000\n") << W::GAck << 1u << 0u << -1;
        QTest::newRow("MVERR") << QByteArray("$MVERR,D.02n*1234\n") << W::MverR << 2u << 0x1234u
                               << -1;
        QTest::newRow("EACK") << QByteArray("$EACK\n") << W::EAck << 1u << 0u << -1;
        QTest::newRow("DACK") << QByteArray("$DACK\n") << W::DAck << 1u << 0u << -1;
        QTest::newRow("PACK") << QByteArray("$PACK\n") << W::PAck << 1u << 0u << -1;
        QTest::newRow("AACK 1 CR LF") << QByteArray("$AACK,1\r\n") << W::AAck << 1u << 1u << 1;
        QTest::newRow("AACK 01") << QByteArray("$AACK,01\n") << W::AAck << 1u << 1u << -1;
        QTest::newRow("IACK 0") << QByteArray("$IACK,0*1234\n") << W::IAck << 1u << 0u << 0;
        QTest::newRow("IACK 10") << QByteArray("$IACK,10\n") << W::IAck << 1u << 0x10u << -1;
        QTest::newRow("IACK empty") << QByteArray("$IACK,\n") << W::IAck << 1u << 0u << -1;
        QTest::newRow("FACK chunk")
            << QByteArray("$FACK,1a,0*8E4\n") << W::FAck << 1u << 0x1Au << -1;
        QTest::newRow("FACK flag") << QByteArray("$FACK,1A,1\n") << W::FAck << 2u << 1u << 1;
        QTest::newRow("FACK, no flag") << QByteArray("$FACK,1A\n") << W::FAck << 2u << 0u << -1;
        QTest::newRow("lower case") << QByteArray("$gack\n") << W::Unknown << 1u << 0u << -1;
        QTest::newRow("longer word") << QByteArray("$EACKS\n") << W::Unknown << 1u << 0u << -1;
        QTest::newRow("shorter word") << QByteArray("$EAC\n") << W::Unknown << 1u << 0u << -1;
        QTest::newRow("lead-in") << QByteArray(" $EACK\n") << W::Unknown << 1u << 0u << -1;
        QTest::newRow("word past 64 characters") << "$EACK" + QByteArray(70, 'x') + "\n"
                                                 << W::Unknown << 1u << 0u << -1;
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
