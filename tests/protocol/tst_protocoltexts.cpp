// The recognition of reply lines: reply word, number fields and flag fields.
// (The command texts are checked byte for byte on the wire in tst_protocolwire.)
#include "update/Protocol.h"

#include <QByteArray>
#include <QtTest>

Q_DECLARE_METATYPE(Protocol::ReplyWord)

class TestProtocolTexts : public QObject
{
    Q_OBJECT

private slots:
    void recognisesReply_data();
    void recognisesReply();
    void replyWordIsCapped();
    void numberField_data();
    void numberField();
    void flagField_data();
    void flagField();
};

void TestProtocolTexts::recognisesReply_data()
{
    using W = Protocol::ReplyWord;
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<W>("reply");
    QTest::addColumn<QByteArray>("word");

    QTest::newRow("Bootloader") << QByteArray("$Bootloader\r\n") << W::Bootloader
                                << QByteArray("$Bootloader");
    QTest::newRow("GACK") << QByteArray("$GACK\n") << W::GAck << QByteArray("$GACK");
    QTest::newRow("GACK wrong checksum")
        << QByteArray("$GACK*0000\n") << W::GAck << QByteArray("$GACK");
    QTest::newRow("MVERR") << QByteArray("$MVERR,D.02n*1234\n") << W::MverR << QByteArray("$MVERR");
    QTest::newRow("EACK") << QByteArray("$EACK*ABCD\n") << W::EAck << QByteArray("$EACK");
    QTest::newRow("DACK") << QByteArray("$DACK\n") << W::DAck << QByteArray("$DACK");
    QTest::newRow("PACK") << QByteArray("$PACK\n") << W::PAck << QByteArray("$PACK");
    QTest::newRow("AACK") << QByteArray("$AACK,1\n") << W::AAck << QByteArray("$AACK");
    QTest::newRow("IACK") << QByteArray("$IACK,0\n") << W::IAck << QByteArray("$IACK");
    QTest::newRow("FACK") << QByteArray("$FACK,1A,0*8E4\n") << W::FAck << QByteArray("$FACK");
    QTest::newRow("lower case ignored")
        << QByteArray("$gack\n") << W::Unknown << QByteArray("$gack");
    QTest::newRow("longer word ignored")
        << QByteArray("$EACKS\n") << W::Unknown << QByteArray("$EACKS");
    QTest::newRow("prefix ignored") << QByteArray("$EAC\n") << W::Unknown << QByteArray("$EAC");
    QTest::newRow("no $") << QByteArray("EACK\n") << W::Unknown << QByteArray("EACK");
    QTest::newRow("lead-in") << QByteArray(" $EACK\n") << W::Unknown << QByteArray(" $EACK");
    QTest::newRow("empty") << QByteArray("") << W::Unknown << QByteArray("");
    QTest::newRow("bare line feed") << QByteArray("\n") << W::Unknown << QByteArray("");
}

void TestProtocolTexts::recognisesReply()
{
    QFETCH(QByteArray, line);
    QFETCH(Protocol::ReplyWord, reply);
    QFETCH(QByteArray, word);

    char out[Protocol::kReplyWordLength + 1];
    QCOMPARE(Protocol::recogniseReply(line.constData(), out), reply);
    QCOMPARE(QByteArray(out), word);
}

void TestProtocolTexts::replyWordIsCapped()
{
    const QByteArray line = "$" + QByteArray(99, 'A') + ",1\n";
    char out[Protocol::kReplyWordLength + 1];
    QCOMPARE(Protocol::recogniseReply(line.constData(), out), Protocol::ReplyWord::Unknown);
    QCOMPARE(QByteArray(out), line.left(64));

    // A known word followed by more than 64 characters is still not that word.
    const QByteArray padded = "$EACK" + QByteArray(70, 'x') + "\n";
    QCOMPARE(Protocol::recogniseReply(padded.constData(), out), Protocol::ReplyWord::Unknown);
    QCOMPARE(qstrlen(out), 64u);
}

void TestProtocolTexts::numberField_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<uint>("n");
    QTest::addColumn<uint>("value");
    QTest::newRow("AACK 01 reads 1") << QByteArray("$AACK,01\n") << 1u << 1u;
    QTest::newRow("AACK 0") << QByteArray("$AACK,0*1234\r\n") << 1u << 0u;
    QTest::newRow("missing field") << QByteArray("$AACK\n") << 1u << 0u;
    QTest::newRow("empty field") << QByteArray("$AACK,*1234\n") << 1u << 0u;
    QTest::newRow("FACK chunk") << QByteArray("$FACK,1A,0*8E4\n") << 1u << 0x1Au;
    QTest::newRow("FACK chunk lower case") << QByteArray("$FACK,1a,0\n") << 1u << 0x1Au;
    QTest::newRow("FACK chunk above FF") << QByteArray("$FACK,100,1\n") << 1u << 0x100u;
    QTest::newRow("carriage return ends") << QByteArray("$AACK,1\r\n") << 1u << 1u;
}

void TestProtocolTexts::numberField()
{
    QFETCH(QByteArray, line);
    QFETCH(uint, n);
    QFETCH(uint, value);
    QCOMPARE(Protocol::numberField(line.constData(), n), value);
}

void TestProtocolTexts::flagField_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<uint>("n");
    QTest::addColumn<int>("flag");
    QTest::newRow("IACK 0") << QByteArray("$IACK,0\n") << 1u << 0;
    QTest::newRow("IACK 1") << QByteArray("$IACK,1*1234\n") << 1u << 1;
    QTest::newRow("IACK 1 CR LF") << QByteArray("$IACK,1\r\n") << 1u << 1;
    QTest::newRow("IACK 01 is neither") << QByteArray("$IACK,01\n") << 1u << -1;
    QTest::newRow("IACK 10 is neither") << QByteArray("$IACK,10\n") << 1u << -1;
    QTest::newRow("IACK 2") << QByteArray("$IACK,2\n") << 1u << -1;
    QTest::newRow("IACK space") << QByteArray("$IACK, 1\n") << 1u << -1;
    QTest::newRow("missing") << QByteArray("$IACK\n") << 1u << -1;
    QTest::newRow("empty") << QByteArray("$IACK,\n") << 1u << -1;
    QTest::newRow("FACK flag 0") << QByteArray("$FACK,1A,0*8E4\n") << 2u << 0;
    QTest::newRow("FACK flag 1") << QByteArray("$FACK,1A,1\n") << 2u << 1;
    QTest::newRow("FACK no flag") << QByteArray("$FACK,1A\n") << 2u << -1;
}

void TestProtocolTexts::flagField()
{
    QFETCH(QByteArray, line);
    QFETCH(uint, n);
    QFETCH(int, flag);
    QCOMPARE(Protocol::flagField(line.constData(), n), flag);
}

QTEST_APPLESS_MAIN(TestProtocolTexts)
#include "tst_protocoltexts.moc"
