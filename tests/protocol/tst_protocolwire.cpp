// The protocol over a real serial line: a pseudo-terminal pair whose slave the
// dialog opens through ZQ_UPDATER_PORTS while the test holds the master. The
// job timer is stopped, so only the lines the test sends go out.
#include "PtyPair.h"
#include "support/TestSupport.h"
#include "ui_DialogBootload.h"
#include "update/DialogBootload.h"
#include "update/PortTest.h"
#include "update/Protocol.h"
#include "update/UpdateMode.h"

#include <QLabel>
#include <QRandomGenerator>
#include <QtTest>
#include <unistd.h>

namespace {

// The "zq.wire" diagnostic lines, captured.
QStringList wireLog;
QtMessageHandler previousHandler = nullptr;

void captureWire(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category != nullptr && qstrcmp(context.category, "zq.wire") == 0) {
        wireLog.append(message);
        return;
    }
    previousHandler(type, context, message);
}

QStringList wireLines(const char *direction)
{
    QStringList lines;
    for (const QString &line : qAsConst(wireLog))
        if (line.startsWith(QLatin1String(direction) + QLatin1Char(' ')))
            lines.append(line);
    return lines;
}

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

// text framed: "*", the body's CRC in upper-case hex, line feed.
QByteArray framed(const QByteArray &text)
{
    return text + '*' + QByteArray::number(referenceCrc(text.mid(1)), 16).toUpper() + '\n';
}

QByteArray printfBytesLine(const char *head, uint number, const QByteArray &bytes)
{
    QString text = QString::asprintf(head, number);
    for (const char b : bytes)
        text += QString::asprintf(",%02X", static_cast<unsigned char>(b));
    return text.toLatin1();
}

const unsigned char *data(const QByteArray &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.constData());
}

enum Command {
    CmdMver,
    CmdBootloadm,
    CmdExit,
    CmdEraseImages,
    CmdErase,
    CmdProgram,
    CmdHeader,
    CmdData,
    CmdChunk
};

} // namespace

class TestProtocolWire : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void commandOnTheWire_data();
    void commandOnTheWire();
    void captureIsRaw_data();
    void captureIsRaw();
    void unframableTextIsNotSent_data();
    void unframableTextIsNotSent();
    void sendIndicatorCycles();
    void receiveIndicatorCyclesOnItsOwn();
    void twoRepliesInOneRead();
    void replySplitOverTwoReads();
    void overlongLineKeepsItsTail();
    void bootloaderIsNotLogged();
    void gotMessageKeepsTheLine();

private:
    // Writes bytes from the unit's side.
    bool unitWrites(const QByteArray &bytes);
    // Reads the master until at least size bytes arrived.
    QByteArray readWire(int size);
    QString rxLine(const QString &word) const;

    PtyPair pty;
    DialogBootload *dlg = nullptr;
    PortTest *port = nullptr;
};

void TestProtocolWire::initTestCase()
{
    QVERIFY(pty.open());
    qputenv("ZQ_UPDATER_PORTS", pty.slavePath().toLocal8Bit());
    previousHandler = qInstallMessageHandler(captureWire);
}

void TestProtocolWire::init()
{
    QByteArray stale;
    TestSupport::readAvailable(pty.masterFd(), stale);
    dlg = new DialogBootload(ImagesOnly, nullptr);
    dlg->timer.stop();
    QCOMPARE(dlg->ports.size(), 1);
    port = dlg->ports.first();
    QVERIFY(port->isOpen());
    // Whatever an earlier test's unit wrote and no dialog read is gone.
    QVERIFY(port->clear(QSerialPort::Input));
    wireLog.clear();
}

void TestProtocolWire::cleanup()
{
    delete dlg;
    dlg = nullptr;
    port = nullptr;
}

void TestProtocolWire::cleanupTestCase()
{
    qInstallMessageHandler(previousHandler);
}

bool TestProtocolWire::unitWrites(const QByteArray &bytes)
{
    return ::write(pty.masterFd(), bytes.constData(), static_cast<size_t>(bytes.size()))
        == bytes.size();
}

QByteArray TestProtocolWire::readWire(int size)
{
    QByteArray wire;
    TestSupport::pumpUntil(
        pty.masterFd(), wire, [size](const QByteArray &b) { return b.size() >= size; });
    return wire;
}

QString TestProtocolWire::rxLine(const QString &word) const
{
    return QStringLiteral("RX ") + port->portName() + QLatin1Char(' ') + word;
}

void TestProtocolWire::commandOnTheWire_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<uint>("number");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("line");

    QTest::newRow("MVER") << int(CmdMver) << 0u << QByteArray() << QByteArray("$MVER*826A\n");
    QTest::newRow("BOOTLOADM") << int(CmdBootloadm) << 0u << QByteArray()
                               << QByteArray("$BOOTLOADM*9FEC\n");
    QTest::newRow("X") << int(CmdExit) << 0u << QByteArray() << QByteArray("$X*D14A\n");
    QTest::newRow("A") << int(CmdEraseImages) << 0u << QByteArray() << QByteArray("$A,1*CF00\n");
    QTest::newRow("E") << int(CmdErase) << 0x1000u << QByteArray()
                       << QByteArray("$E,1000,1*2BEA\n");
    QTest::newRow("P") << int(CmdProgram) << 0x1000u << QByteArray()
                       << QByteArray("$P,1000,1000*C64E\n");
    QTest::newRow("I 340 x 230") << int(CmdHeader) << 0u << QByteArray()
                                 << framed("$I,01,01,154,E6");

    const QByteArray zeros(64, '\0');
    QByteArray zeroLine("$D,0");
    for (int i = 0; i < 64; ++i)
        zeroLine += ",00";
    QTest::newRow("D zeros at 0") << int(CmdData) << 0u << zeros << framed(zeroLine);
    QTest::newRow("D zeros at FC0")
        << int(CmdData) << 0xFC0u << zeros << framed("$D,FC0" + zeroLine.mid(4));

    QRandomGenerator random(77);
    QByteArray bytes(256, Qt::Uninitialized);
    for (char &b : bytes)
        b = static_cast<char>(random.bounded(256));
    QTest::newRow("D data at 40") << int(CmdData) << 0x40u << bytes.left(64)
                                  << framed(printfBytesLine("$D,%X", 0x40, bytes.left(64)));
    QTest::newRow("F chunk 02") << int(CmdChunk) << 2u << bytes
                                << framed(printfBytesLine("$F,%02X", 2, bytes));
    QTest::newRow("F chunk 100, short") << int(CmdChunk) << 0x100u << bytes.left(3)
                                        << framed(printfBytesLine("$F,%02X", 0x100, bytes.left(3)));
}

void TestProtocolWire::commandOnTheWire()
{
    QFETCH(int, command);
    QFETCH(uint, number);
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, line);

    Protocol::Line buf;
    switch (command) {
    case CmdMver: Protocol::versionQuery(buf); break;
    case CmdBootloadm: Protocol::startBootloader(buf); break;
    case CmdExit: Protocol::exitBootloader(buf); break;
    case CmdEraseImages: Protocol::eraseImages(buf); break;
    case CmdErase: Protocol::sectorErase(buf, number); break;
    case CmdProgram: Protocol::sectorProgram(buf, number, Protocol::kSectorSize); break;
    case CmdHeader: Protocol::imageHeader(buf, 1, 1, 340, 230); break;
    case CmdData: Protocol::sectorData(buf, number, data(bytes), bytes.size()); break;
    case CmdChunk: Protocol::imageChunk(buf, number, data(bytes), bytes.size()); break;
    }
    const QByteArray text(buf);

    dlg->sendLine(port, buf);
    QCOMPARE(QByteArray(buf), line); // completed in the caller's buffer
    QCOMPARE(readWire(line.size()), line);
    QCOMPARE(wireLines("TX"),
        QStringList { QStringLiteral("TX ") + port->portName() + QLatin1Char(' ')
            + QString::fromLatin1(line.chopped(1)) });

    // The text form, as the sequencer uses it for "$E", "$D" and "$P".
    dlg->sendLine(port, QString::fromLatin1(text));
    QCOMPARE(readWire(line.size()), line);
}

void TestProtocolWire::captureIsRaw_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("$G") << QString::fromLatin1(Protocol::kCapture) << QByteArray("$G\n");
    QTest::newRow("line feed not doubled") << QStringLiteral("$G\n") << QByteArray("$G\n");
    QTest::newRow("empty writes nothing") << QString() << QByteArray();
}

void TestProtocolWire::captureIsRaw()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const QString before = dlg->ui->labelTX->text();

    dlg->sendRaw(port, text);
    dlg->sendRaw(port, QStringLiteral("#END"));
    const QByteArray wire = readWire(bytes.size() + 5);
    QCOMPARE(wire, bytes + "#END\n");
    QCOMPARE(dlg->ui->labelTX->text(), before);
    QVERIFY(wireLines("TX").isEmpty());
}

void TestProtocolWire::unframableTextIsNotSent_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("994 characters") << "$" + QByteArray(993, 'A');
    QTest::newRow("no $") << QByteArray("MVER");
    QTest::newRow("empty") << QByteArray();
}

void TestProtocolWire::unframableTextIsNotSent()
{
    QFETCH(QByteArray, text);
    for (int form = 0; form < 2; ++form) {
        if (form == 0) {
            Protocol::Line buf;
            qstrcpy(buf, text.constData());
            dlg->sendLine(port, buf);
            QCOMPARE(QByteArray(buf), text);
        } else {
            dlg->sendLine(port, QString::fromLatin1(text));
        }
    }
    dlg->sendLine(port, QStringLiteral("$X"));
    QCOMPARE(readWire(8), QByteArray("$X*D14A\n"));
    QCOMPARE(dlg->ui->labelTX->text(), QStringLiteral("TX: |"));
    QCOMPARE(wireLines("TX").size(), 1);
}

void TestProtocolWire::sendIndicatorCycles()
{
    const QStringList frames { "TX: |", "TX: /", "TX: -", "TX: -", "TX: |", "TX: /" };
    QByteArray expected;
    for (const QString &frame : frames) {
        Protocol::Line buf;
        Protocol::versionQuery(buf);
        dlg->sendLine(port, buf);
        QCOMPARE(dlg->ui->labelTX->text(), frame);
        expected += "$MVER*826A\n";
    }
    QCOMPARE(readWire(expected.size()), expected);
}

void TestProtocolWire::receiveIndicatorCyclesOnItsOwn()
{
    Protocol::Line buf;
    Protocol::versionQuery(buf);
    dlg->sendLine(port, buf);
    Protocol::versionQuery(buf);
    dlg->sendLine(port, buf);
    QCOMPARE(dlg->ui->labelTX->text(), QStringLiteral("TX: /"));

    const QStringList frames { "RX: |", "RX: /", "RX: -", "RX: -", "RX: |" };
    for (int i = 0; i < frames.size(); ++i) {
        QVERIFY(unitWrites("$NOTE," + QByteArray::number(i) + "\n"));
        QTRY_COMPARE_WITH_TIMEOUT(wireLines("RX").size(), i + 1, 10000);
        QCOMPARE(dlg->ui->labelRX->text(), frames[i]);
        QCOMPARE(dlg->ui->labelTX->text(), QStringLiteral("TX: /"));
    }

    Protocol::versionQuery(buf);
    dlg->sendLine(port, buf);
    QCOMPARE(dlg->ui->labelTX->text(), QStringLiteral("TX: -"));
    QCOMPARE(dlg->ui->labelRX->text(), QStringLiteral("RX: |"));
}

void TestProtocolWire::twoRepliesInOneRead()
{
    QVERIFY(unitWrites("$EACK\n$DACK\n"));
    QTRY_VERIFY_WITH_TIMEOUT(wireLines("RX").size() >= 2, 10000);
    QCOMPARE(wireLines("RX"), (QStringList { rxLine("$EACK"), rxLine("$DACK") }));
    QCOMPARE(dlg->ui->labelRX->text(), QStringLiteral("RX: /"));
    QCOMPARE(int(port->rxLength), 0);
}

void TestProtocolWire::replySplitOverTwoReads()
{
    QVERIFY(unitWrites("$PA"));
    QTRY_COMPARE_WITH_TIMEOUT(int(port->rxLength), 3, 10000);
    QVERIFY(wireLines("RX").isEmpty());

    QVERIFY(unitWrites("CK*1234\r\n$NO"));
    QTRY_COMPARE_WITH_TIMEOUT(wireLines("RX").size(), 1, 10000);
    QCOMPARE(wireLines("RX"), QStringList { rxLine("$PACK") });
    QTRY_COMPARE_WITH_TIMEOUT(int(port->rxLength), 3, 10000);

    QVERIFY(unitWrites("TE\n"));
    QTRY_COMPARE_WITH_TIMEOUT(wireLines("RX").size(), 2, 10000);
    QCOMPARE(wireLines("RX"), (QStringList { rxLine("$PACK"), rxLine("$NOTE") }));
    QCOMPARE(dlg->ui->labelRX->text(), QStringLiteral("RX: /"));
}

void TestProtocolWire::overlongLineKeepsItsTail()
{
    QVERIFY(unitWrites(QByteArray(1000, 'a') + "$NOTE,1\n"));
    QTRY_COMPARE_WITH_TIMEOUT(wireLines("RX").size(), 1, 10000);
    QCOMPARE(wireLines("RX"), QStringList { rxLine("$NOTE") });
}

void TestProtocolWire::bootloaderIsNotLogged()
{
    QVERIFY(unitWrites("$Bootloader\r\n$NOTE\n"));
    QTRY_COMPARE_WITH_TIMEOUT(wireLines("RX").size(), 1, 10000);
    QCOMPARE(wireLines("RX"), QStringList { rxLine("$NOTE") });
    QCOMPARE(dlg->ui->labelRX->text(), QStringLiteral("RX: /"));
}

void TestProtocolWire::gotMessageKeepsTheLine()
{
    dlg->GotMessage(port, QString());
    QVERIFY(wireLines("RX").isEmpty());

    const QString message = QStringLiteral("$") + QString(1499, QLatin1Char('N')) + "\n";
    dlg->GotMessage(port, message);
    QCOMPARE(QByteArray(port->rxLine), message.left(999).toLatin1());
    QCOMPARE(wireLines("RX"), QStringList { rxLine(message.left(64)) });
}

QTEST_MAIN(TestProtocolWire)
#include "tst_protocolwire.moc"
