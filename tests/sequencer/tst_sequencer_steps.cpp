// Step-exact behaviour of the update sequencer: the test holds the unit's end
// of a pseudo-terminal, stops the dialog's timer and runs the steps itself, so
// every wait and resend is counted in steps, and every reply is written by hand.
#include "PayloadWriter.h"
#include "PtyPair.h"
#include "link/LineFrame.h"
#include "support/TestSupport.h"
#include "ui_DialogBootload.h"
#include "update/DialogBootload.h"
#include "update/PortTest.h"

#include <QTest>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace {

QByteArray framed(const char *text)
{
    char buf[kLineBufferSize];
    std::strcpy(buf, text);
    const int n = CompleteLine(buf);
    return QByteArray(buf, n);
}

// One dialog driving one port whose other end the test holds.
class Rig
{
public:
    explicit Rig(int mode)
    {
        QVERIFY(pty.open());
        qputenv("ZQ_UPDATER_PORTS", pty.slavePath().toLocal8Bit());
        dlg = std::make_unique<DialogBootload>(mode, nullptr);
        dlg->timer.stop();
    }

    PortTest *port() const
    {
        return dlg->ports.first();
    }

    void step(int n = 1)
    {
        for (int i = 0; i < n; ++i)
            dlg->Timeout();
    }

    // Lines the tool has written since the last call, without their line feeds.
    QList<QByteArray> sent()
    {
        QCoreApplication::processEvents();
        TestSupport::readAvailable(pty.masterFd(), pending);
        QList<QByteArray> lines;
        int lf;
        while ((lf = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(lf);
            pending.remove(0, lf + 1);
            if (line != dropLine)
                lines.append(line);
        }
        return lines;
    }

    // Writes a reply as the unit would (framed unless raw) and waits until the
    // tool has handled it: a version reply written after it changes the label,
    // and lines are handled in order.
    void reply(const char *text, bool raw = false)
    {
        const QByteArray bytes = raw ? QByteArray(text) + '\n' : framed(text);
        QCOMPARE(::write(pty.masterFd(), bytes.constData(), static_cast<size_t>(bytes.size())),
            static_cast<ssize_t>(bytes.size()));
        sync();
    }

    void sync()
    {
        const QByteArray marker = "sync" + QByteArray::number(++syncCount);
        const QByteArray bytes = framed(("$MVERR," + marker).constData());
        QCOMPARE(::write(pty.masterFd(), bytes.constData(), static_cast<size_t>(bytes.size())),
            static_cast<ssize_t>(bytes.size()));
        QTRY_COMPARE_WITH_TIMEOUT(dlg->ui->label_UnitVersion->text(),
            QString::fromLatin1("Unit Version: " + marker), 10000);
        dropLine = "$BOOTLOADM*9FEC"; // each version reply is answered with one
    }

    // Steps until the port waits for its bootloader at 921600 baud, then
    // captures it and steps into OpenFiles; returns, with OpenFiles done, the
    // lines that its step sent.
    QList<QByteArray> captureAndOpenFiles()
    {
        step(12);
        if (port()->jobState != WaitForBootloader)
            return { "not waiting for the bootloader" };
        reply("$Bootloader", true);
        reply("$GACK");
        step(); // WaitForBootloader -> OpenFiles
        sent();
        step(); // OpenFiles
        return sent();
    }

    QString log() const
    {
        return dlg->ui->textEdit->toPlainText();
    }

    PtyPair pty;
    std::unique_ptr<DialogBootload> dlg;
    QByteArray pending;
    QByteArray dropLine;
    int syncCount = 0;
};

QByteArray firmwareBytes(int size)
{
    QByteArray fw(size, '\0');
    for (int i = 0; i < size; ++i)
        fw[i] = static_cast<char>((i * 7 + (i >> 8)) & 0xFF);
    return fw;
}

// The "$D" text a data line carries for the 64 bytes at address.
QByteArray dataLineBody(const QByteArray &fw, int address)
{
    QByteArray text = "$D," + QByteArray::number(address % 4096, 16).toUpper();
    for (int i = 0; i < 64; ++i) {
        const int a = address + i;
        const auto b = static_cast<unsigned char>(a < fw.size() ? fw[a] : 0);
        text += ',' + QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
    }
    return text;
}

// An image file in the shape in use whose bytes count up from seed.
QByteArray imageSource(int width, int height, char seed)
{
    QByteArray pixels(width * height * 2, '\0');
    for (int i = 0; i < pixels.size(); ++i)
        pixels[i] = static_cast<char>(seed + i);
    return PayloadWriter::imageSource(QStringLiteral("img"), width, height, pixels);
}

} // namespace

class TestSequencerSteps : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        TestSupport::removeAppFiles({ "fw1.bin", "settings.json", "a.c", "b.c" });
    }

    void versionQueryThenCapture()
    {
        Rig rig(ImagesOnly);
        rig.step(); // arms the query
        QVERIFY(rig.sent().isEmpty());
        rig.step(8);
        QCOMPARE(rig.sent(), QVector<QByteArray>(8, "$MVER*826A").toList());
        rig.step();
        QCOMPARE(rig.sent(), QList<QByteArray> { "$BOOTLOADM*9FEC" });
        QVERIFY(rig.port()->isOpen());
        rig.step();
        QCOMPARE(rig.sent(), QList<QByteArray> { "$BOOTLOADM*9FEC" });
        QVERIFY(!rig.port()->isOpen());
        QCOMPARE(rig.port()->jobState, SwitchToBootloaderSpeed);

        rig.step();
        QVERIFY(rig.port()->isOpen());
        QCOMPARE(rig.pty.baudRate(), 921600);
        QCOMPARE(rig.port()->jobState, WaitForBootloader);

        // The bootloader is answered with "$G" (raw) until it answers after the capture.
        rig.reply("$Bootloader", true);
        QCOMPARE(rig.sent(), QList<QByteArray> { "$G" });
        rig.reply("$Bootloader", true);
        QCOMPARE(rig.sent(), QList<QByteArray> { "$G" });
        rig.reply("$GACK");
        rig.reply("$Bootloader", true);
        QVERIFY(rig.sent().isEmpty());
        rig.step();
        QCOMPARE(rig.port()->jobState, OpenFiles);
    }

    void versionReplyIsShownAndAnswered()
    {
        Rig rig(ImagesOnly);
        rig.step(3);
        rig.sent();
        const QByteArray reply = framed("$MVERR,V4.2-7");
        QVERIFY(::write(rig.pty.masterFd(), reply.constData(), reply.size()) == reply.size());
        QTRY_COMPARE(rig.dlg->ui->label_UnitVersion->text(), QString("Unit Version: V4.2-7"));
        QCOMPARE(rig.sent(), QList<QByteArray> { "$BOOTLOADM*9FEC" });
    }

    void imagesOnlyWithoutImagesEndsOnTheEighthStep()
    {
        QVERIFY(TestSupport::writeAppFile("settings.json", R"({"Version": "T1", "Images": []})"));
        Rig rig(ImagesOnly);
        QVERIFY(rig.captureAndOpenFiles().isEmpty());
        rig.step(7);
        QVERIFY(rig.sent().isEmpty());
        rig.step();
        QCOMPARE(rig.sent(), QList<QByteArray> { "$X*D14A" });
        rig.step(3);
        QVERIFY(!rig.log().contains("Bootload Complete"));
        QVERIFY(rig.port()->isOpen());
        rig.step();
        QVERIFY(!rig.port()->isOpen());
        QVERIFY(rig.log().contains("Bootload Complete"));
        rig.step(5);
        QCOMPARE(rig.log().count("Bootload Complete"), 1);
    }

    void missingSettingsIsNeverReportedComplete()
    {
        Rig rig(ImagesOnly);
        QVERIFY(rig.log().contains("settings.json"));
        rig.captureAndOpenFiles();
        rig.step(8 + 4);
        QCOMPARE(rig.sent(), QList<QByteArray> { "$X*D14A" });
        QVERIFY(!rig.log().contains("Bootload Complete"));
        QVERIFY(rig.log().contains("NOT complete"));
    }

    void eraseCountsItsStepsAndTimesOut()
    {
        Rig rig(DeleteImages);
        rig.captureAndOpenFiles();
        rig.step();
        QVERIFY(rig.sent().isEmpty());
        rig.step();
        QCOMPARE(rig.sent(), QList<QByteArray> { "$A,1*CF00" });
        QCOMPARE(rig.log().count("Send Erase All messages Command takes around 20 seconds"), 1);
        rig.step(2);
        QVERIFY(!rig.log().contains("Command Timedout"));
        rig.step();
        QCOMPARE(rig.log().count("Command Timedout"), 1);
        rig.step();
        QCOMPARE(rig.sent(), QList<QByteArray> { "$A,1*CF00" });
        QCOMPARE(rig.log().count("Send Erase All messages Command takes around 20 seconds"), 2);

        // Erasing has started: the wait grows to 120 steps.
        rig.reply("$AACK,0");
        rig.step(120);
        QCOMPARE(rig.log().count("Command Timedout"), 1);
        rig.step();
        QCOMPARE(rig.log().count("Command Timedout"), 2);
        rig.step();
        QCOMPARE(rig.sent(), QList<QByteArray> { "$A,1*CF00" });

        rig.reply("$AACK,1");
        QVERIFY(rig.log().contains("Images Erased"));
        QCOMPARE(rig.sent(), QList<QByteArray> { "$X*D14A" });
        rig.step(3);
        QVERIFY(!rig.log().contains("Bootload Complete"));
        rig.step();
        QVERIFY(rig.log().contains("Bootload Complete"));
    }

    void firmwareWaitsAndResendsByStepCount()
    {
        const QByteArray fw = firmwareBytes(0x3000);
        QVERIFY(TestSupport::writeAppFile("fw1.bin", fw));
        Rig rig(FirmwareAndImages);
        rig.captureAndOpenFiles();
        rig.step(4);
        QVERIFY(rig.sent().isEmpty());
        rig.step();
        QCOMPARE(rig.sent(), QList<QByteArray> { "$E,1000,1*2BEA" });
        // Without "$EACK" the first data line follows four steps later, and is
        // sent again every four steps.
        rig.step(3);
        QVERIFY(rig.sent().isEmpty());
        rig.step();
        QList<QByteArray> lines = rig.sent();
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].startsWith(dataLineBody(fw, 0x1000) + '*'));
        rig.step(4);
        QCOMPARE(rig.sent(), lines);
    }

    void firmwareFollowsItsAcknowledgements()
    {
        const QByteArray fw = firmwareBytes(0x2800); // the second sector ends past the file
        QVERIFY(TestSupport::writeAppFile("fw1.bin", fw));
        Rig rig(FirmwareAndImages);
        rig.captureAndOpenFiles();
        rig.step(5);
        rig.sent();
        rig.reply("$EACK");
        for (int line = 0; line < 64; ++line) {
            const QList<QByteArray> lines = rig.sent();
            QCOMPARE(lines.size(), 1);
            QVERIFY2(lines[0].startsWith(dataLineBody(fw, 0x1000 + line * 64) + '*'),
                lines[0].constData());
            rig.reply("$DACK");
        }
        QCOMPARE(rig.sent(), QList<QByteArray> { "$P,1000,1000*C64E" });
        QTRY_COMPARE(rig.dlg->ui->progressBarLoad->value(), 0x1000);
        rig.reply("$DACK"); // not awaited while the sector is programmed
        QVERIFY(rig.sent().isEmpty());
        rig.reply("$PACK");
        QCOMPARE(rig.sent(), QList<QByteArray> { framed("$E,2000,1").trimmed() });
        rig.reply("$EACK");
        QList<QByteArray> lines = rig.sent();
        QVERIFY(lines[0].startsWith(dataLineBody(fw, 0x2000) + '*'));
        // Stray replies during the firmware neither end the job nor skip work.
        rig.reply("$IACK,1");
        rig.reply("$AACK,1");
        rig.reply("$FACK,0,1");
        QVERIFY(rig.sent().isEmpty());
        QCOMPARE(rig.port()->jobState, ProgramFirmware);
    }

    void aLateAcknowledgementDoesNotSkipALine()
    {
        QVERIFY(TestSupport::writeAppFile("fw1.bin", firmwareBytes(0x3000)));
        Rig rig(FirmwareAndImages);
        rig.captureAndOpenFiles();
        rig.step(5);
        rig.reply("$EACK");
        QCOMPARE(rig.sent().size(), 2); // "$E" and the first data line
        rig.step(4); // no "$DACK": the line goes out again
        QCOMPARE(rig.sent().size(), 1);
        rig.reply("$DACK"); // for one copy: the next line waits for the other's
        QVERIFY(rig.sent().isEmpty());
        rig.reply("$DACK");
        const QList<QByteArray> lines = rig.sent();
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].startsWith("$D,40,"));
        QCOMPARE(rig.port()->address, 0x1040);
    }

    void theLastSectorEndsTheFirmware()
    {
        const QByteArray fw = firmwareBytes(913408); // the last sector lies past the file's end
        QVERIFY(TestSupport::writeAppFile("fw1.bin", fw));
        Rig rig(FirmwareAndImages);
        rig.captureAndOpenFiles();
        rig.step(5);
        rig.reply("$EACK");
        rig.sent();
        // Skip to the last line of the last sector, as if 222 sectors and 63 lines were done.
        PortTest *port = rig.port();
        port->address = 0xDFFC0;
        rig.reply("$DACK");
        QCOMPARE(rig.dlg->firmwareProgress, 913407);
        QCOMPARE(rig.sent(), QList<QByteArray> { framed("$P,DF000,1000").trimmed() });
        rig.reply("$PACK");
        QCOMPARE(rig.dlg->firmwareProgress, 913414);
        QCOMPARE(port->jobState, SendImages);
        QCOMPARE(port->capturePhase, FirmwareWritten);
        rig.step(3);
        QVERIFY(rig.sent().isEmpty()); // no "$E" after the last sector
    }

    void aSectorWithoutEraseAcknowledgementIsErasedAgain()
    {
        QVERIFY(TestSupport::writeAppFile("fw1.bin", firmwareBytes(0x3000)));
        Rig rig(FirmwareAndImages);
        rig.captureAndOpenFiles();
        rig.step(5 + 4); // "$E" lost: data lines follow by time
        QCOMPARE(rig.sent().size(), 2);
        for (int line = 0; line < 64; ++line)
            rig.reply("$DACK");
        QList<QByteArray> lines = rig.sent();
        QCOMPARE(lines.size(), 64);
        QCOMPARE(lines.last(), framed("$E,1000,1").trimmed());
        QCOMPARE(rig.port()->address, 0x1000);
    }

    void missingFirmwareWritesNoSector()
    {
        Rig rig(FirmwareAndImages);
        QVERIFY(rig.log().contains("fw1.bin cannot be used"));
        QCOMPARE(rig.captureAndOpenFiles(), QList<QByteArray> { "$X*D14A" });
        rig.step(20);
        QVERIFY(rig.sent().isEmpty());
        QVERIFY(!rig.port()->isOpen());
        QVERIFY(!rig.log().contains("Bootload Complete"));
        QVERIFY(rig.log().contains("The firmware was not updated"));
    }

    void imageChunksFollowTheirAcknowledgements()
    {
        QVERIFY(TestSupport::writeAppFile("a.c", imageSource(16, 20, 3))); // 640 bytes: 3 chunks
        QVERIFY(TestSupport::writeAppFile("settings.json",
            R"({"Images": [{"FileName": "a.c", "ImageName": 1, "ImageVersion": 2}]})"));
        Rig rig(ImagesOnly);
        QVERIFY(rig.captureAndOpenFiles().isEmpty());
        rig.step(7);
        QVERIFY(rig.sent().isEmpty());
        rig.step();
        QCOMPARE(rig.sent(), QList<QByteArray> { framed("$I,01,02,10,14").trimmed() });
        rig.step(4); // no reply: the header again after four steps
        QCOMPARE(rig.sent(), QList<QByteArray> { framed("$I,01,02,10,14").trimmed() });
        rig.reply("$IACK,01"); // neither "0" nor "1": the header again at once
        QCOMPARE(rig.sent().size(), 1);
        rig.reply("$IACK,0");
        QList<QByteArray> lines = rig.sent();
        QCOMPARE(lines.size(), 1);
        QVERIFY(lines[0].startsWith("$F,00,03,04,"));
        // The answers owed to the earlier copies of the header change nothing.
        rig.reply("$IACK,0");
        rig.reply("$IACK,1");
        QVERIFY(rig.sent().isEmpty());
        rig.reply("$FACK,00,0");
        lines = rig.sent();
        QVERIFY(lines.size() == 1 && lines[0].startsWith("$F,01,"));
        rig.reply("$FACK,00,0"); // a repeated acknowledgement is no request to resend
        QVERIFY(rig.sent().isEmpty());
        rig.reply("$FACK,01,0");
        lines = rig.sent();
        QVERIFY(lines.size() == 1 && lines[0].startsWith("$F,02,"));
        QCOMPARE(lines[0].count(','), 1 + 128);
        QCOMPARE(rig.port()->imageStep, int(ImageRestart));
        QTRY_COMPARE(rig.dlg->ui->progressBarVerify->value(), 512);
        rig.reply("$FACK,02,0");
        QCOMPARE(rig.sent(), QList<QByteArray> { "$X*D14A" });
        QTRY_COMPARE(rig.dlg->ui->progressBarVerify->value(), 640);
        rig.step(3);
        QVERIFY(rig.log().contains("Bootload Complete"));
    }

    void aHeaderAnsweredTwiceSkipsNoImage()
    {
        QVERIFY(TestSupport::writeAppFile("a.c", imageSource(8, 8, 1)));
        QVERIFY(TestSupport::writeAppFile("b.c", imageSource(8, 8, 2)));
        QVERIFY(TestSupport::writeAppFile(
            "settings.json", R"({"Images": [{"FileName": "a.c", "ImageName": 1, "ImageVersion": 1},
                                            {"FileName": "b.c", "ImageName": 2, "ImageVersion": 1}]})"));
        Rig rig(ImagesOnly);
        rig.captureAndOpenFiles();
        rig.step(8 + 4); // the first header goes out twice
        QCOMPARE(rig.sent().size(), 2);
        rig.reply("$IACK,1"); // the unit holds image 1: it is skipped ...
        QVERIFY(rig.sent().isEmpty()); // ... but image 2's header waits for the owed answer
        rig.reply("$IACK,1");
        QCOMPARE(rig.sent(), QList<QByteArray> { framed("$I,02,01,08,08").trimmed() });
        rig.reply("$IACK,0");
        const QList<QByteArray> lines = rig.sent();
        QVERIFY(lines.size() == 1 && lines[0].startsWith("$F,00,02,03,"));
    }

    void anUnloadableImageIsNotSent()
    {
        QVERIFY(TestSupport::writeAppFile("settings.json",
            R"({"Images": [{"FileName": "missing.c", "ImageName": 1, "ImageVersion": 1}]})"));
        Rig rig(ImagesOnly);
        rig.captureAndOpenFiles();
        rig.step(8);
        QCOMPARE(rig.sent(), QList<QByteArray> { "$X*D14A" });
        rig.step(3);
        QVERIFY(!rig.log().contains("Bootload Complete"));
        QVERIFY(rig.log().contains("missing.c"));
    }
};

QTEST_MAIN(TestSequencerSteps)
#include "tst_sequencer_steps.moc"
