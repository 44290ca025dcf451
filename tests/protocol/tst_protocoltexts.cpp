// The command texts the dialog formats and the recognition of reply lines:
// reply word, number fields and flag fields.
#include "update/Protocol.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <QtTest>

Q_DECLARE_METATYPE(Protocol::ReplyWord)

namespace {

// The "%X"/"%02X" text of a data or chunk line, formatted with printf.
QByteArray printfBytesLine(const char *head, uint number, const QByteArray &bytes)
{
    QString text = QString::asprintf(head, number);
    for (const char b : bytes)
        text += QString::asprintf(",%02X", static_cast<unsigned char>(b));
    return text.toLatin1();
}

QByteArray randomBytes(QRandomGenerator &random, int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    for (char &b : bytes)
        b = static_cast<char>(random.bounded(256));
    return bytes;
}

const unsigned char *data(const QByteArray &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.constData());
}

} // namespace

class TestProtocolTexts : public QObject
{
    Q_OBJECT

private slots:
    void fixedCommands();
    void numberedCommands_data();
    void numberedCommands();
    void dataLineOfZeros();
    void dataAndChunkLinesMatchPrintf();
    void recognisesReply_data();
    void recognisesReply();
    void replyWordIsCapped();
    void numberField_data();
    void numberField();
    void flagField_data();
    void flagField();
};

void TestProtocolTexts::fixedCommands()
{
    Protocol::Line buf;
    Protocol::versionQuery(buf);
    QCOMPARE(QByteArray(buf), QByteArray("$MVER"));
    Protocol::startBootloader(buf);
    QCOMPARE(QByteArray(buf), QByteArray("$BOOTLOADM"));
    Protocol::eraseImages(buf);
    QCOMPARE(QByteArray(buf), QByteArray("$A,1"));
    Protocol::exitBootloader(buf);
    QCOMPARE(QByteArray(buf), QByteArray("$X"));
    QCOMPARE(QByteArray(Protocol::kCapture), QByteArray("$G"));
}

void TestProtocolTexts::numberedCommands_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QList<uint>>("values");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("first sector") << QByteArray("E") << QList<uint> { 0x1000 }
                                  << QByteArray("$E,1000,1");
    QTest::newRow("last sector") << QByteArray("E") << QList<uint> { 0xDF000 }
                                 << QByteArray("$E,DF000,1");
    QTest::newRow("program") << QByteArray("P") << QList<uint> { 0x1000, 0x1000 }
                             << QByteArray("$P,1000,1000");
    QTest::newRow("program last") << QByteArray("P") << QList<uint> { 0xDF000, 0x1000 }
                                  << QByteArray("$P,DF000,1000");
    QTest::newRow("header 340 x 230")
        << QByteArray("I") << QList<uint> { 1, 1, 340, 230 } << QByteArray("$I,01,01,154,E6");
    QTest::newRow("header zeros") << QByteArray("I") << QList<uint> { 0, 0, 0, 0 }
                                  << QByteArray("$I,00,00,00,00");
    QTest::newRow("header two digits")
        << QByteArray("I") << QList<uint> { 0x1F, 0xFF, 0x100, 5 } << QByteArray("$I,1F,FF,100,05");
}

void TestProtocolTexts::numberedCommands()
{
    QFETCH(QByteArray, command);
    QFETCH(QList<uint>, values);
    QFETCH(QByteArray, text);

    Protocol::Line buf;
    if (command == "E")
        Protocol::sectorErase(buf, values[0]);
    else if (command == "P")
        Protocol::sectorProgram(buf, values[0], values[1]);
    else
        Protocol::imageHeader(buf, int(values[0]), int(values[1]), int(values[2]), int(values[3]));
    QCOMPARE(QByteArray(buf), text);
}

void TestProtocolTexts::dataLineOfZeros()
{
    const QByteArray zeros(Protocol::kDataLineBytes, '\0');
    Protocol::Line buf;
    Protocol::sectorData(buf, 0, data(zeros), zeros.size());
    QByteArray expected("$D,0");
    for (int i = 0; i < 64; ++i)
        expected += ",00";
    QCOMPARE(QByteArray(buf), expected);
    QCOMPARE(qstrlen(buf), 196u);

    Protocol::sectorData(buf, 0xFC0, data(zeros), zeros.size());
    QVERIFY(QByteArray(buf).startsWith("$D,FC0,00,"));
    QCOMPARE(qstrlen(buf), 198u);
}

void TestProtocolTexts::dataAndChunkLinesMatchPrintf()
{
    QRandomGenerator random(404);
    Protocol::Line buf;
    for (uint offset = 0; offset < 0x1000; offset += 0x40) {
        const QByteArray bytes = randomBytes(random, Protocol::kDataLineBytes);
        Protocol::sectorData(buf, offset, data(bytes), bytes.size());
        QCOMPARE(QByteArray(buf), printfBytesLine("$D,%X", offset, bytes));
    }
    for (uint chunk : { 0u, 2u, 0xFFu, 0x100u, 0x1234u }) {
        for (int count : { 1, 2, 255, 256 }) {
            const QByteArray bytes = randomBytes(random, count);
            Protocol::imageChunk(buf, chunk, data(bytes), count);
            QCOMPARE(QByteArray(buf), printfBytesLine("$F,%02X", chunk, bytes));
        }
    }
    const QByteArray bytes = randomBytes(random, 256);
    Protocol::imageChunk(buf, 2, data(bytes), 256);
    QVERIFY(QByteArray(buf).startsWith("$F,02,"));
    QVERIFY(qstrlen(buf) < 780u);
    Protocol::imageChunk(buf, 0x100, data(bytes), 256);
    QVERIFY(QByteArray(buf).startsWith("$F,100,"));
}

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
    if (reply != Protocol::ReplyWord::Unknown)
        QCOMPARE(QByteArray(Protocol::replyName(reply)), word);
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
    QTest::newRow("AACK 1") << QByteArray("$AACK,1\n") << 1u << 1u;
    QTest::newRow("AACK 01 reads 1") << QByteArray("$AACK,01\n") << 1u << 1u;
    QTest::newRow("AACK 0") << QByteArray("$AACK,0*1234\r\n") << 1u << 0u;
    QTest::newRow("missing field") << QByteArray("$AACK\n") << 1u << 0u;
    QTest::newRow("empty field") << QByteArray("$AACK,*1234\n") << 1u << 0u;
    QTest::newRow("FACK chunk") << QByteArray("$FACK,1A,0*8E4\n") << 1u << 0x1Au;
    QTest::newRow("FACK chunk lower case") << QByteArray("$FACK,1a,0\n") << 1u << 0x1Au;
    QTest::newRow("FACK chunk above FF") << QByteArray("$FACK,100,1\n") << 1u << 0x100u;
    QTest::newRow("no digit counts 0") << QByteArray("$FACK,1G,1\n") << 1u << 0x10u;
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
    QTest::newRow("IACK 100 is neither") << QByteArray("$IACK,100\n") << 1u << -1;
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
