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

// text framed by the line completion the link tests pin down.
QByteArray framed(const QByteArray &text)
{
    Protocol::Line buf;
    qstrcpy(buf, text.constData());
    return QByteArray(buf, CompleteLine(buf));
}

QByteArray printfBytesLine(const char *head, uint number, const QByteArray &bytes)
{
    QString text = QString::asprintf(head, number);
    for (const char b : bytes)
        text += QString::asprintf(",%02X", static_cast<unsigned char>(b));
    return text.toLatin1();
}

} // namespace

class TestProtocolWire : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(pty.open());
        qputenv("ZQ_UPDATER_PORTS", pty.slavePath().toLocal8Bit());
        previousHandler = qInstallMessageHandler(captureWire);
    }

    void init()
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

    void cleanup()
    {
        delete dlg;
        dlg = nullptr;
        port = nullptr;
    }

    void cleanupTestCase()
    {
        qInstallMessageHandler(previousHandler);
    }

    void commandOnTheWire_data()
    {
        // The command (its letter), its numbers and bytes, and the exact line sent.
        QTest::addColumn<char>("command");
        QTest::addColumn<QList<uint>>("numbers");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("line");
        using N = QList<uint>;

        QTest::newRow("MVER") << 'M' << N {} << QByteArray() << QByteArray("$MVER*826A\n");
        QTest::newRow("BOOTLOADM")
            << 'B' << N {} << QByteArray() << QByteArray("$BOOTLOADM*9FEC\n");
        QTest::newRow("X") << 'X' << N {} << QByteArray() << QByteArray("$X*D14A\n");
        QTest::newRow("A") << 'A' << N {} << QByteArray() << QByteArray("$A,1*CF00\n");
        QTest::newRow("E") << 'E' << N { 0x1000 } << QByteArray() << QByteArray("$E,1000,1*2BEA\n");
        QTest::newRow("P") << 'P' << N { 0x1000 } << QByteArray()
                           << QByteArray("$P,1000,1000*C64E\n");
        QTest::newRow("I 340 x 230")
            << 'I' << N { 1, 1, 340, 230 } << QByteArray() << framed("$I,01,01,154,E6");
        QTest::newRow("I wide numbers")
            << 'I' << N { 0x1F, 0xFF, 0x100, 5 } << QByteArray() << framed("$I,1F,FF,100,05");

        const QByteArray zeros(64, '\0');
        const QByteArray zeroBytes = QByteArray(",00").repeated(64);
        QTest::newRow("D zeros at 0") << 'D' << N { 0 } << zeros << framed("$D,0" + zeroBytes);

        QRandomGenerator random(77);
        QByteArray bytes(256, Qt::Uninitialized);
        for (char &b : bytes)
            b = static_cast<char>(random.bounded(256));
        QTest::newRow("D data at 40") << 'D' << N { 0x40 } << bytes.left(64)
                                      << framed(printfBytesLine("$D,%X", 0x40, bytes.left(64)));
        QTest::newRow("F chunk 02")
            << 'F' << N { 2 } << bytes << framed(printfBytesLine("$F,%02X", 2, bytes));
    }

    void commandOnTheWire()
    {
        QFETCH(char, command);
        QFETCH(QList<uint>, numbers);
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, line);

        Protocol::Line buf;
        const auto *raw = reinterpret_cast<const unsigned char *>(bytes.constData());
        switch (command) {
        case 'M': Protocol::versionQuery(buf); break;
        case 'B': Protocol::startBootloader(buf); break;
        case 'X': Protocol::exitBootloader(buf); break;
        case 'A': Protocol::eraseImages(buf); break;
        case 'E': Protocol::sectorErase(buf, numbers[0]); break;
        case 'P': Protocol::sectorProgram(buf, numbers[0], Protocol::kSectorSize); break;
        case 'I':
            Protocol::imageHeader(
                buf, int(numbers[0]), int(numbers[1]), int(numbers[2]), int(numbers[3]));
            break;
        case 'D': Protocol::sectorData(buf, numbers[0], raw, bytes.size()); break;
        case 'F': Protocol::imageChunk(buf, numbers[0], raw, bytes.size()); break;
        }
        const QByteArray text(buf);
        QCOMPARE(text + "*", line.left(text.size() + 1)); // the text itself, before framing

        dlg->sendLine(port, buf);
        QCOMPARE(QByteArray(buf), line); // completed in the caller's buffer
        QCOMPARE(readWire(line.size()), line);
        QCOMPARE(wireLines("TX"), QStringList { "TX " + port->portName() + ' ' + line.chopped(1) });

        // The text form, as the sequencer uses it for "$E", "$D" and "$P".
        dlg->sendLine(port, QString::fromLatin1(text));
        QCOMPARE(readWire(line.size()), line);
    }

    // "$G" goes out as its three bytes, unframed, and moves no indicator.
    void captureIsRaw()
    {
        const QString before = dlg->ui->labelTX->text();

        dlg->sendRaw(port, QString::fromLatin1(Protocol::kCapture));
        dlg->sendRaw(port, QStringLiteral("#END"));
        QCOMPARE(readWire(8), QByteArray("$G\n#END\n"));
        QCOMPARE(dlg->ui->labelTX->text(), before);
        QVERIFY(wireLines("TX").isEmpty());
    }

    void indicatorsCycleIndependently()
    {
        const QStringList frames { "|", "/", "-", "-", "|", "/" };
        for (const QString &frame : frames) {
            dlg->sendLine(port, QStringLiteral("$MVER"));
            QTRY_COMPARE(dlg->ui->labelTX->text(), "TX: " + frame);
        }
        QCOMPARE(readWire(6 * 11), QByteArray("$MVER*826A\n").repeated(6));

        for (int i = 0; i < 5; ++i) {
            QVERIFY(unitWrites("$NOTE," + QByteArray::number(i) + "\n"));
            QTRY_COMPARE_WITH_TIMEOUT(wireLines("RX").size(), i + 1, 10000);
            QTRY_COMPARE(dlg->ui->labelRX->text(), "RX: " + frames[i]);
            QTRY_COMPARE(dlg->ui->labelTX->text(), QStringLiteral("TX: /"));
        }
        dlg->sendLine(port, QStringLiteral("$MVER"));
        QTRY_COMPARE(dlg->ui->labelTX->text(), QStringLiteral("TX: -"));
        QTRY_COMPARE(dlg->ui->labelRX->text(), QStringLiteral("RX: |"));
    }

    void twoRepliesInOneRead()
    {
        QVERIFY(unitWrites("$EACK\n$DACK\n"));
        QTRY_VERIFY_WITH_TIMEOUT(wireLines("RX").size() >= 2, 10000);
        QCOMPARE(wireLines("RX"), (QStringList { rxLine("$EACK"), rxLine("$DACK") }));
        QTRY_COMPARE(dlg->ui->labelRX->text(), QStringLiteral("RX: /"));
        QCOMPARE(int(port->rxLength), 0);
    }

    void replySplitOverTwoReads()
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
        QTRY_COMPARE(dlg->ui->labelRX->text(), QStringLiteral("RX: /"));
    }

    void bootloaderAndOverlongLines()
    {
        // "$Bootloader" is not logged; a line over 1000 bytes keeps only its tail.
        QVERIFY(unitWrites("$Bootloader\r\n" + QByteArray(1000, 'a') + "$NOTE,1\n"));
        QTRY_COMPARE_WITH_TIMEOUT(wireLines("RX").size(), 1, 10000);
        QCOMPARE(wireLines("RX"), QStringList { rxLine("$NOTE") });
        QTRY_COMPARE(dlg->ui->labelRX->text(), QStringLiteral("RX: /"));
    }

private:
    // Writes bytes from the unit's side.
    bool unitWrites(const QByteArray &bytes)
    {
        return ::write(pty.masterFd(), bytes.constData(), static_cast<size_t>(bytes.size()))
            == bytes.size();
    }

    // Reads the master until at least size bytes arrived.
    QByteArray readWire(int size)
    {
        QByteArray wire;
        TestSupport::pumpUntil(
            pty.masterFd(), wire, [size](const QByteArray &b) { return b.size() >= size; });
        return wire;
    }

    QString rxLine(const QString &word) const
    {
        return QStringLiteral("RX ") + port->portName() + QLatin1Char(' ') + word;
    }

    PtyPair pty;
    DialogBootload *dlg = nullptr;
    PortTest *port = nullptr;
};

QTEST_MAIN(TestProtocolWire)
#include "tst_protocolwire.moc"
