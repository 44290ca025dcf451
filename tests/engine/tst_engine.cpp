// The job engine step by step on a fake host whose clock the test drives: no
// port, no window. Most cases are rows of a small script, read left to right:
//   sN     N steps (one 500 ms tick each; s = s1)
//   wN     N ms pass, then the engine's wake-up runs
//   ~N     the engine last asked its host for a wake-up N ms ahead
//   >TEXT  the unit replies TEXT; <TEXT: the unit sends TEXT without a line feed
//   ^TEXT  TEXT (and a line feed) reaches the port; it is read at the next wake-up,
//          step or reply, whichever comes first
//   LN     the port has shown an answer of N ms
//   =A|B   exactly these lines were sent since the last check (= alone: none);
//          a line ending in "..." only has to start with what stands before it;
//          Dxxxx stands for the data line of fw1.bin's address xxxx (hex)
//   +TEXT  the job log holds TEXT; -TEXT it does not; %N:TEXT N of its lines hold TEXT;
//          &TEXT one of its lines is TEXT exactly (the unit's own log lines)
//   @N     the job state is N
//   xN     stopping the job now would leave on the unit: 0 nothing, 1 a restart
//          into its bootloader, 2 the unit in its bootloader (LeftOnUnit)
//   ?TEXT  the unit's status reads TEXT ("finishing", "updated, not confirmed")
//   #lost  the adapter is unplugged; #stop: the front end stops the job
//   *S     the port is S: "closed", or open at that speed ("921600")
//   _      forget the lines sent so far
//   aN     the unit captured, fw1.bin's first sector erased and its data lines
//          answered up to line N, each 2 ms after it went out (Rig::answerLines);
//          aN,TEXT: TEXT answers the erase
#include "support/FakeHost.h"
#include "engine/JobSummary.h"
#include "engine/Timeouts.h"

#include <QTest>
#include <algorithm>

namespace {

QByteArray firmwareBytes(int size)
{
    QByteArray fw(size, '\0');
    for (int i = 0; i < size; ++i)
        fw[i] = static_cast<char>((i * 7 + (i >> 8)) & 0xFF);
    return fw;
}

QByteArray dataLine(const QByteArray &fw, int address)
{
    QByteArray text = "$D," + QByteArray::number(address % 4096, 16).toUpper();
    for (int i = 0; i < 64; ++i) {
        const int a = address + i;
        const auto b = static_cast<unsigned char>(a < fw.size() ? fw[a] : 0);
        text += ',' + QByteArray::number(b, 16).toUpper().rightJustified(2, '0');
    }
    return text;
}

ImageRecord image(int number, int width, int height, char seed)
{
    ImageRecord r;
    r.imageName = number;
    r.imageVersion = 1;
    r.width = width;
    r.height = height;
    r.pixels.resize(width * height * 2);
    for (int i = 0; i < r.pixels.size(); ++i)
        r.pixels[i] = static_cast<char>(seed + i);
    return r;
}

// A reply timer fed, for each pair in turn, count replies of ms each.
ReplyTimer fedTimer(std::initializer_list<std::pair<int, qint64>> replies)
{
    ReplyTimer timer;
    for (const auto &[count, ms] : replies)
        for (int i = 0; i < count; ++i)
            timer.sample(ms * 1000000);
    return timer;
}

// Script pieces that many rows share.
const char *const kCapture = "s12;>$Bootloader;>$GACK;s;_;s";

// One engine on a fake host with fw1.bin of fwSize bytes (none when 0).
struct Rig {
    Rig(UpdateMode mode, int fwSize, const QList<ImageRecord> &images = {})
        : host(mode)
        , fw(firmwareBytes(fwSize))
    {
        host.engine.inputs.firmware = fw;
        host.engine.inputs.images = images;
    }

    bool matches(const QByteArray &want, const QByteArray &got) const
    {
        if (want.startsWith('D') && want.size() > 1)
            return got == dataLine(fw, want.mid(1).toInt(nullptr, 16));
        if (want.endsWith("..."))
            return got.startsWith(want.chopped(3));
        return got == want;
    }

    // Runs the script; returns an empty string, or what went wrong.
    QString run(const QString &script)
    {
        for (const QString &item : script.split(';')) {
            const QByteArray a = item.mid(1).toUtf8();
            switch (item.at(0).toLatin1()) {
            case 's': host.step(a.isEmpty() ? 1 : a.toInt()); break;
            case 'w':
                host.clockMs += a.toInt();
                host.engine.wake(&host.port);
                break;
            case '>': host.reply(a); break;
            case '<': host.engine.receive(&host.port, a); break;
            case '^': host.waiting += a + '\n'; break;
            case 'L': host.port.timing.longestAnswerNs = a.toLongLong() * 1000000; break;
            case '=': {
                const QByteArrayList got = host.sent();
                const QByteArrayList want = a.isEmpty() ? QByteArrayList() : a.split('|');
                bool same = got.size() == want.size();
                for (int i = 0; same && i < got.size(); ++i)
                    same = matches(want[i], got[i]);
                if (!same)
                    return item + " got: " + QString::fromLatin1(got.join(" | ").left(300));
                break;
            }
            case '+':
            case '-':
                if (host.logged(QString::fromUtf8(a)) != (item.at(0) == '+'))
                    return item + " log: " + host.log.join(" / ");
                break;
            case '&':
                if (!host.log.contains(QString::fromUtf8(a)))
                    return item + " log: " + host.log.join(" / ");
                break;
            case '%': {
                const int colon = a.indexOf(':');
                const QString text = QString::fromUtf8(a.mid(colon + 1));
                const auto holds = [&text](const QString &line) { return line.contains(text); };
                if (std::count_if(host.log.cbegin(), host.log.cend(), holds)
                    != a.left(colon).toInt())
                    return item + " log: " + host.log.join(" / ");
                break;
            }
            case '_': host.sent(); break;
            case 'a': {
                const QByteArrayList parts = a.split(',');
                const QString failure = parts.size() > 1
                    ? answerLines(parts[0].toInt(), QString::fromLatin1(parts[1]))
                    : answerLines(a.toInt());
                if (!failure.isEmpty())
                    return failure;
                break;
            }
            case '~':
                if (host.wakeMs != a.toInt())
                    return item + " wake-up asked: " + QString::number(host.wakeMs);
                break;
            case '#':
                if (a == "lost")
                    host.engine.connectionLost(&host.port);
                else
                    host.engine.stop(&host.port, "interrupted");
                break;
            case '?':
                if (host.port.status.text() != QString::fromUtf8(a))
                    return item + " status: " + host.port.status.text();
                break;
            case '*':
                if (host.portState() != QString::fromUtf8(a))
                    return item + " port: " + host.portState();
                break;
            case '@':
                if (static_cast<int>(host.port.jobState) != a.toInt())
                    return item
                        + " state: " + QString::number(static_cast<int>(host.port.jobState));
                break;
            case 'x':
                if (static_cast<int>(host.port.leftOnUnit()) != a.toInt())
                    return item + " left: " + QString::number(static_cast<int>(host.port.leftOnUnit()));
                break;
            default: return "bad script item " + item;
            }
        }
        return QString();
    }

    // Captures the unit, erases fw1.bin's first sector with eack as its
    // answer, and answers the data lines up to the given one, each 2 ms after
    // it went out (line 64 ends the sector and erases the next); returns what
    // went wrong, or nothing.
    QString answerLines(int last, const QString &eack = "$EACK")
    {
        QString failure = run(QString(kCapture) + ";s5;>" + eack + ";=$E,1000,1|D1000");
        for (int line = 1; failure.isEmpty() && line <= last; ++line) {
            host.clockMs += 2;
            const QString next = line == 64 ? "$P,1000,1000;>$PACK;=$E,2000,1;>$EACK;=D2000"
                                             : QString("D%1").arg(0x1000 + line * 64, 0, 16);
            failure = run(">$DACK;=" + next);
        }
        return failure;
    }

    FakeHost host;
    QByteArray fw;
};

} // namespace

class TestEngine : public QObject
{
    Q_OBJECT

private slots:
    void script_data()
    {
        QTest::addColumn<int>("number"); // the UpdateMode's
        QTest::addColumn<int>("fwSize");
        QTest::addColumn<int>("images");
        QTest::addColumn<QString>("script");
        const QString c = kCapture;
        const QString mver = QString("|$MVER").repeated(8).mid(1);

        QTest::newRow("version query, capture, lost $G") << 1 << 0 << 0
            << "s;=;*19200;s8;=" + mver + ";s;=$BOOTLOADM;*19200;s;=$BOOTLOADM;@2;*closed;s;@3;*921600;"
               ">$MVERR,V4.2;=$BOOTLOADM;>$Bootloader;=$G;>$Bootloader;=$G;-restarted;>$GACK;=;s;@4";
        QTest::newRow("what a stop leaves: nothing, a restart once $BOOTLOADM went, the bootloader")
            << 1 << 0 << 0 << "s2;x0;>$MVERR,D.02m;=$MVER|$BOOTLOADM;@1;x1;s10;>$Bootloader;>$GACK;x2";
        QTest::newRow("no bootloader: said once after 20 s, still waiting") << 1 << 0 << 0
            << "s12;@3;=" + mver + "|$BOOTLOADM|$BOOTLOADM;s39;-No bootloader seen;s;"
               "%1:No bootloader seen on ;s40;%1:No bootloader seen on ;@3";
        // A bootloader left captured by a job that ended abruptly announces
        // nothing: "$G" goes out unasked, and its "$GACK" captures the unit.
        QTest::newRow("a unit left captured gets $G every four steps") << 0 << 0x3000 << 0
            << "s12;_;s3;=;s;=$G;s3;=;s;=$G;s4;=$G;>$GACK;=;+answered \"$G\" without announcing itself;"
               "s;@4;_;s;@5;s4;=;s;=$E,1000,1";
        // Its "$GACK" read after the job was stopped: the job stays ended.
        QTest::newRow("a $GACK after the job was stopped captures nothing") << 0 << 0x3000 << 0
            << "s12;_;s4;=$G;#stop;>$GACK;=;-without announcing;s10;=;-Bootload Complete;@8;"
               "?not updated: interrupted";
        // A bootloader that keeps announcing itself and answers none of its
        // "$G" (it resets before it answers, or does not hear the tool).
        QTest::newRow("announced, never answered: ended after 10 s") << 2 << 0 << 0
            << "s12;_;>$Bootloader;=$G;s19;_;>$Bootloader;=$G;-answered no;s;_;>$Bootloader;=;"
               "+has answered no \"$G\" for 10 s: it restarts before it answers;"
               "+Check the unit's power and the cable;@8;s10;=;-Bootload Complete";
        QTest::newRow("... also after a restart mid-job") << 2 << 0 << 0
            << c + ";s2;=$A,1;>$AACK,0;>$Bootloader;=$G;+restarted during;s20;_;>$Bootloader;"
                   "=;+has answered no;@8";
        QTest::newRow("a partial line is dropped at the speed change") << 1 << 0 << 0
            << "s5;<$MVERR,par;s7;_;>$Bootloader;=$G";
        QTest::newRow("images only without images: $X on the eighth step") << 1 << 0 << 0
            << c + ";=;s7;=;s;=$X;s3;-Bootload Complete;s;%1:Bootload Complete;s5;%1:Bootload Complete;"
                   "+: job took 12.5 s, replies took 0.00 ms on average, no line was sent again";
        QTest::newRow("a few lines sent again: no hint") << 1 << 0 << 1
            << c + ";s8;=$I,01,01,10,14;s16;_;>$IACK,1;=$X;s4;+Bootload Complete;"
                   "+4 copies of lines were sent again when no answer came in time, which cost about 8.0 s;"
                   "-were lost on the link";
        QTest::newRow("many lines sent again: check the cable") << 1 << 0 << 1
            << c + ";s8;=$I,01,01,10,14;s20;_;>$IACK,1;=$X;s4;+Bootload Complete;"
                   "+5 copies of lines were sent again;+: 5 of the 17 lines sent were lost on the link;"
                   "+Check the cable";
        QTest::newRow("erase counts its steps and times out") << 2 << 0 << 0
            << c + ";s;=;s;=$A,1;%1:Send Erase All messages Command takes around 20 seconds;"
                   "s2;-Command Timedout;s;%1:Command Timedout;s;=$A,1;>$AACK,0;s120;"
                   "%1:Command Timedout;s;%2:Command Timedout;s;=$A,1;>$AACK,1;+Images Erased;"
                   "=$X;s3;-Bootload;s;%1:Bootload Complete";
        QTest::newRow("firmware waits and resends by step count") << 0 << 0x3000 << 0
            << c + ";s4;=;s;=$E,1000,1;s3;=;s;=D1000;s4;=D1000";
        QTest::newRow("a late $DACK does not skip a line") << 0 << 0x3000 << 0
            << c + ";s5;>$EACK;=$E,1000,1|D1000;s4;=D1000;>$DACK;=D1040;>$DACK;=D1040;>$DACK;"
                   "=D1080";
        QTest::newRow("a $DACK before the first $D changes nothing") << 0 << 0x3000 << 0
            << c + ";s5;=$E,1000,1;>$DACK;=;s4;=D1000";
        QTest::newRow("a $DACK repeated in the same read advances once") << 0 << 0x3000 << 0
            << c + ";s5;>$EACK;=$E,1000,1|D1000;>$DACK\n$DACK;=D1040;>$DACK;=D1080";
        QTest::newRow("a late $EACK sends no line again") << 0 << 0x3000 << 0
            << c + ";s9;=$E,1000,1|D1000;>$EACK;=";
        QTest::newRow("stray replies in the firmware change nothing") << 0 << 0x3000 << 0
            << c + ";s5;>$EACK;=$E,1000,1|D1000;>$IACK,1;>$AACK,1;>$FACK,0,1;=;@5";
        QTest::newRow("a stray $EACK before the sector's $E erases nothing") << 0 << 0x3000 << 0
            << c + ";s2;>$EACK;=;s3;=$E,1000,1;s4;=D1000";
        QTest::newRow("missing fw1.bin writes no sector") << 0 << 0 << 1
            << c + ";=$X;+fw1.bin cannot be used;s20;=;-Bootload Complete;"
                   "+The firmware was not updated";
        QTest::newRow("settings unreadable: never complete") << 1 << 0 << 0
            << "!settings;" + c + ";s8;=$X;s4;-Bootload Complete;+NOT complete";
        QTest::newRow("image chunks follow their acknowledgements") << 1 << 0 << 1
            << c + ";s7;=;s;=$I,01,01,10,14;s4;=$I,01,01,10,14;>$IACK,01;=$I,01,01,10,14;"
                   ">$IACK,0;=$F,00,03,04,...;>$IACK,0;>$IACK,1;=;>$FACK,00,0;=$F,01,...;"
                   ">$FACK,00,0;=;>$FACK,01,0;=$F,02,...;>$FACK,02,0;=$X;s3;&Bootload Complete";
        QTest::newRow("a header answered twice skips no image") << 1 << 0 << 2
            << c + ";s12;=$I,01,01,10,14|$I,01,01,10,14;>$IACK,1;=;>$IACK,1;=$I,02,01,10,14;"
                   ">$IACK,0;=$F,00,...";
        QTest::newRow("a $DACK in the images changes nothing") << 1 << 0 << 1
            << c + ";s12;_;>$IACK,0;=$F,00,...;>$DACK;s3;=;s;=$F,00,...";
        QTest::newRow("an image of whole chunks ends with its last $FACK") << 1 << 0 << 4
            << c + ";s8;=$I,01,01,10,08;>$IACK,0;=$F,00,...;>$FACK,00,0;=$X";
        QTest::newRow("$FACK flag 1 for another chunk: next header at once") << 1 << 0 << 2
            << c + ";s8;=$I,01,...;>$IACK,0;=$F,00,...;>$FACK,05,1;=$I,02,...";
        // A unit whose replies carry a right checksum: one whose checksum is
        // wrong was garbled on its way ("$IACK,0" with one bit changed) and is
        // dropped like a lost one; on a unit that never showed a right one it
        // is taken, as ever.
        QTest::newRow("a garbled $IACK after a right checksum is dropped") << 1 << 0 << 1
            << c + ";s8;=$I,01,01,10,14;>$AACK,5*34FB;>$IACK,1*420E;=;>$IACK,0*420E;=$F,00,...";
        QTest::newRow("... taken from a unit that never showed a right checksum") << 1 << 0 << 1
            << c + ";s8;=$I,01,01,10,14;>$AACK,5;>$IACK,1*420E;=$X";
        QTest::newRow("... and $X at once after the last image") << 1 << 0 << 1
            << c + ";s8;=$I,01,...;>$IACK,0;=$F,00,...;>$FACK,05,1;=$X";
        QTest::newRow("an image that holds no bytes is not sent") << 1 << 0 << 3
            << c + ";s8;=$X;s3;-Bootload Complete;+it holds no bytes";
        QTest::newRow("silence during the firmware ends the job") << 0 << 0x3000 << 0
            << c + ";s5;>$EACK;=$E,1000,1|D1000;s59;-has not answered;s;"
                   "+has not answered for 30 s during firmware, sector 1 of 223;"
                   "+check the unit's power;s10;-Bootload Complete;@8;*closed";
        QTest::newRow("the erase's long wait is not silence") << 2 << 0 << 0
            << c + ";s2;=$A,1;>$AACK,0;s121;=;s;=$A,1;s59;-has not answered;"
                   "s;+has not answered for 30 s during erasing images";
        QTest::newRow("a restarted unit is captured and starts again") << 0 << 0x3000 << 0
            << c + ";s5;>$EACK;=$E,1000,1|D1000;>$DACK;=D1040;>$Bootloader;=$G;"
                   "+the unit restarted during firmware, sector 1 of 223;+starting its update "
                   "again;>$GACK;s2;s5;=$E,1000,1;>$EACK;=D1000";
        QTest::newRow("a lost $AACK,0: the erase's 20 s are not silence") << 2 << 0 << 0
            << c + ";s2;=$A,1;s79;-has not answered;_;>$AACK,1;+Images Erased;=$X";
        QTest::newRow("... the erase's step wait bounds that time, then silence counts")
            << 2 << 0 << 0
            << c + ";s2;=$A,1;s179;-has not answered;s;"
                   "+has not answered for 30 s during erasing images";
        QTest::newRow("the fourth restart ends the job") << 2 << 0 << 0
            << c + ";s2;=$A,1;>$Bootloader;>$GACK;s;>$Bootloader;>$GACK;s;>$Bootloader;"
                   ">$GACK;s;-once more;>$Bootloader;"
                   "+once more, after 3 restarts;s10;-Bootload Complete;@8";
    }

    void script()
    {
        QFETCH(int, number);
        const auto mode = static_cast<UpdateMode>(number);
        QFETCH(int, fwSize);
        QFETCH(int, images);
        QFETCH(QString, script);
        QList<ImageRecord> list;
        // 3: one image that holds no bytes; 4: one of exactly one chunk.
        if (images == 3)
            list << ImageRecord();
        else if (images == 4)
            list << image(1, 16, 8, 3);
        for (int i = 0; i < images && images < 3; ++i)
            list << image(i + 1, 16, 20, char(3 + i));
        Rig rig(mode, fwSize, list);
        if (script.startsWith("!settings;")) {
            rig.host.engine.inputs.settingsProblem = { Problem::Settings, "settings.json is missing" };
            script = script.mid(10);
        }
        const QString failure = rig.run(script);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    // After "$X" and "Bootload Complete" the unit's version is asked again at
    // the firmware's speed: the unit ends updated once that is over, confirmed
    // when it answers (with the version the update names, when it names one
    // and the firmware was written), else "updated, not confirmed".
    void confirmation_data()
    {
        QTest::addColumn<int>("number"); // the UpdateMode's
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("script");
        const QString mver20 = QString("|$MVER").repeated(20).mid(1);
        const QString done = "s3;-Bootload Complete;*921600;s;+Bootload Complete;@9;?finishing;=;*19200;";
        QTest::newRow("runs the version the update names: confirmed") << 0 << true << "D.03a"
            << done + "s;=$MVER;?finishing;s;=$MVER;>$MVERR,D.03a;=;"
                      "+runs version D.03a now (before the update: D.02m), as the update names;"
                      "@8;?updated;*closed;s5;=";
        QTest::newRow("answers another version: updated, not confirmed") << 0 << true << "D.03a"
            << done + "s;=$MVER;>$MVERR,D.02m;+runs version D.02m now (before the update: "
                      "D.02m), not D.03a as the update names: updated, not confirmed;"
                      "?updated, not confirmed";
        QTest::newRow("the update names none: any answer confirms") << 0 << true << ""
            << done + "s;=$MVER;>$MVERR,D.02m;+runs version D.02m now (before the update: "
                      "D.02m).;?updated";
        QTest::newRow("no answer in 10 s: updated, not confirmed") << 0 << true << "D.03a"
            << done + "s20;=" + mver20 + ";?finishing;-did not answer;s;=;"
                      "+did not answer the version query in 10 s after \"$X\": updated, not "
                      "confirmed;+Version before the update: D.02m;?updated, not confirmed;@8;*closed";
        QTest::newRow("unplugged meanwhile: updated, not confirmed") << 0 << true << "D.03a"
            << done + "s;=$MVER;#lost;+the connection was lost before the unit's version could "
                      "be confirmed: updated, not confirmed;-Connection to;"
                      "?updated, not confirmed;*closed;s3;=";
        QTest::newRow("stopped meanwhile: updated, not confirmed") << 0 << true << "D.03a"
            << done + "s;=$MVER;#stop;+the job was stopped (interrupted) before the unit's "
                      "version could be confirmed;?updated, not confirmed;*closed;s3;=";
        QTest::newRow("the bootloader's replies meanwhile change nothing") << 0 << true << "D.03a"
            << done + "s;_;>$Bootloader;>$GACK;>$DACK;=;-restarted;?finishing;>$MVERR,D.03a;"
                      "?updated";
        // The reply's bytes are read as Latin-1: UTF-8 "\xC3\xA9" is two characters.
        QTest::newRow("a version's bytes from 0x80 are characters of their own") << 0 << true
            << "D.03\xC3\x83\xC2\xA9"
            << done + "s;=$MVER;>$MVERR,D.03\xC3\xA9;+runs version D.03\xC3\x83\xC2\xA9 now "
                      "(before the update: D.02m), as the update names;?updated";
        QTest::newRow("images only: the firmware was not written, the old version confirms")
            << 1 << true << "D.03a"
            << done + "s;=$MVER;>$MVERR,D.02m;+runs version D.02m now;-as the update names;"
                      "?updated";
        QTest::newRow("not asked: the job ends as the port closes") << 0 << false << "D.03a"
            << "s3;?finishing;*921600;s;+Bootload Complete;?updated;@8;*closed;s5;=;-runs version";
    }

    void confirmation()
    {
        QFETCH(int, number);
        const auto mode = static_cast<UpdateMode>(number);
        QFETCH(bool, confirm);
        QFETCH(QString, expected);
        QFETCH(QString, script);
        Rig rig(mode, mode == UpdateMode::FirmwareAndImages ? 0x2000 : 0);
        rig.host.engine.inputs.confirmVersion = confirm;
        rig.host.engine.inputs.expectedVersion = expected;
        const QString capture = "s2;>$MVERR,D.02m;s10;>$Bootloader;>$GACK;s;_;s";
        if (mode == UpdateMode::FirmwareAndImages) {
            // Straight to the last line of the firmware: "$X" follows its "$PACK".
            QCOMPARE(rig.run(capture + ";s5;>$EACK;_"), QString());
            rig.host.port.address = 0xDFFC0;
            QCOMPARE(rig.run(">$DACK;=$P,DF000,1000;>$PACK;@6;s7;=$X"), QString());
        } else {
            QCOMPARE(rig.run(capture + ";s8;=$X"), QString());
        }
        const QString failure = rig.run(script);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
    }

    void firmwareFollowsItsAcknowledgements()
    {
        Rig rig(UpdateMode::FirmwareAndImages, 0x2800); // the second sector ends past the file
        // The sector's data lines all carry file bytes or 00 past the end.
        QCOMPARE(rig.answerLines(64), QString());
        QCOMPARE(rig.host.firmwareProgress, 0x1000);

        // The last line of the last sector: progress 913407, then 913414 and the images.
        rig.host.port.address = 0xDFFC0;
        QCOMPARE(rig.run(">$DACK;=$P,DF000,1000"), QString());
        QCOMPARE(rig.host.firmwareProgress, 913407);
        QCOMPARE(rig.run(">$PACK;@6;s6;=;s;=$X"), QString());
        QCOMPARE(rig.host.firmwareProgress, 913414);
    }

    void aSectorWithoutEraseAcknowledgementIsErasedAgain()
    {
        Rig rig(UpdateMode::FirmwareAndImages, 0x3000);
        QCOMPARE(rig.run(QString(kCapture) + ";s9;=$E,1000,1|D1000"), QString());
        for (int line = 0; line < 64; ++line)
            rig.host.reply("$DACK");
        const QByteArrayList lines = rig.host.sent();
        QCOMPARE(lines.size(), 64);
        QCOMPARE(lines.last(), QByteArray("$E,1000,1"));
        QCOMPARE(rig.host.port.address, 0x1000);
    }

    // "$D" and "$F" are resent after a time-out learned from the port's
    // replies (2 ms here, so 20 ms, the floor). After a line went out more than
    // once, the next one waits until every copy's answer came or can no longer
    // come: 50 ms after the copy, or twice the longest answer the port showed;
    // unless a second copy of each line left in the sector costs less: then
    // it goes on, and an owed answer makes the waiting line go out again.
    // Each row begins with the lines answered before it (aN).
    void learnedResendTimeOut_data()
    {
        QTest::addColumn<QString>("script");
        const QString a8 = "a8;", a60 = "a60;";
        QTest::newRow("lost command: resent at the learned time-out") << a8 + "w19;=;w1;=D1200";
        QTest::newRow("lost answer, then both answers") << a8 + "w20;=D1200;>$DACK;=;>$DACK;=D1240";
        QTest::newRow("a phantom owed copy costs no step wait, and only once")
            << a8 + "w20;=D1200;>$DACK;=;~70;w69;=;w1;=D1240;>$DACK;=D1280";
        QTest::newRow("copies at 0, 20, 40 and 80 ms answered from 95 ms: one line each, "
                      "then a lost line is resent")
            << a8 + "w20;=D1200;w20;=D1200;w40;=D1200;w15;>$DACK;=;>$DACK;=;>$DACK;=;>$DACK;=D1240;"
               "w19;=;w1;=D1240;>$DACK;=D1280";
        QTest::newRow("an owed answer held back 49 ms on a port that never paused")
            << a8 + "w20;=D1200;w2;>$DACK;=;w47;=;>$DACK;=D1240";
        QTest::newRow("an owed answer held back just short of twice the longest seen (39 ms)")
            << a8 + "w20;=D1200;w19;>$DACK;=;w1;>$DACK;=D1240;w20;=D1240;w1;>$DACK;=;w76;=;"
               ">$DACK;=D1280";
        QTest::newRow("an answer begun in the read that sent the next line is not its answer")
            << a8 + "<$DACK\n$DA;=D1240;>CK;=;w19;=;w1;=D1240";
        QTest::newRow("a stray $IACK does not end the wait for an owed $DACK")
            << a8 + "w20;=D1200;>$DACK;=;>$IACK,0;>$IACK,1;=;>$DACK;=D1240";
        QTest::newRow("a late answer before the resend: the time-out is 1.5 times it")
            << a8 + "w15;>$DACK;=D1240;w22;=;w1;=D1240";
        // ... and the answers to the later copies, queued behind it, come
        // within one time-out after it: with three copies or more out before
        // the answer came, the next line waits that long for them, and goes
        // out once, not again for each of them.
        QTest::newRow("an answer held up: each copy after the second waits twice as long")
            << a8 + "w20;=D1200;w20;=D1200;w39;=;w1;=D1200;w79;=;w1;=D1200;>$DACK;=;w2;>$DACK;=;"
               ">$DACK;=;>$DACK;=;>$DACK;=D1240";
        QTest::newRow("a late wake-up gives the answer one more floor")
            << a8 + "w40;=;w19;=;w1;=D1200";
        QTest::newRow("a hold's late wake-up: the owed answer, read late, is not the next line's")
            << a8 + "w20;=D1200;>$DACK;=;w98;=;>$DACK;=;w20;=D1240;>$DACK;=D1280";
        QTest::newRow("a step after the hold's end, before its late wake-up, holds too")
            << a8 + "w20;=D1200;>$DACK;=;s1;=;w98;=;>$DACK;=;w20;=D1240";
        QTest::newRow("the step wait stays the upper bound") << a8 + "s4;=D1200";
        // An owed answer that reached the port before the hold's end is read
        // before the wake-up sends the held line, whatever order the event
        // loop runs the timer and the read in.
        QTest::newRow("a wake-up reads what waits at the port before it sends")
            << a8 + "w20;=D1200;>$DACK;=;^$DACK;w70;=D1240;>$DACK;=D1280";
        // After answers of 3.8 s an answer may be held 4 s, and its way back
        // comes on top: the copy it answers is still owed 4.02 s after it went out.
        QTest::newRow("an answer held past the 4 s cap's way back is still owed")
            << a8 + "L3800;w20;=D1200;>$DACK;=D1240;w4001;=;w20;=D1240;>$DACK;=D1240";
        // Near a sector's end a second copy of each line left costs less than the
        // wait for one owed answer, so the lines go on; with two copies owed they
        // wait: each line would then need three copies, and every answer taken by
        // an owed copy counts from that copy's line, lengthening the answer times
        // that set every later wait. Sixty lines answered have settled the
        // floor at 12 ms.
        QTest::newRow("one copy owed, three lines left: the next line goes out at once")
            << a60 + "w12;=D1F00;>$DACK;=D1F40;>$DACK;=D1F40;>$DACK;=D1F80";
        QTest::newRow("two copies owed: the next line waits for their answers")
            << a60 + "w12;=D1F00;w12;=D1F00;>$DACK;=;>$DACK;=;>$DACK;=D1F40";
        // Three copies of a line, but an owed answer came after its first: two
        // went out since an answer came, so no answers queued behind it are
        // waited for. With its two later copies owed, the next line is held
        // until they can no longer be answered (70 ms after the last: 50, and
        // 20 for the way back), not sent on at once.
        QTest::newRow("two copies owed after an owed answer: the next line waits the horizon")
            << a60 + "w12;=D1F00;>$DACK;=D1F40;>$DACK;=D1F40;w12;=D1F40;>$DACK;=;~70;w69;=;w1;"
                     "=D1F80;>$DACK;=D1FC0";
        // The last line's second answer comes 40 ms late, while "$P" waits: the
        // port has shown an answer of 52 ms, and the next hold lasts the
        // horizon for it (twice 52, and 52 for the way back).
        QTest::newRow("a late answer after the sector's last line counts")
            << a60 + ">$DACK;=D1F40;>$DACK;=D1F80;>$DACK;=D1FC0;w12;=D1FC0;>$DACK;=$P,1000,1000;"
               "w40;>$DACK;=;>$PACK;=$E,2000,1;>$EACK;=D2000;w12;=D2000;w12;=D2000;>$DACK;=;~156";
        // More "$DACK"s than copies in a sector: one was repeated on its way
        // and may stand for a lost line. The sector is written again. A
        // repeat that comes with the answer it repeats changes nothing.
        QTest::newRow("a sector with a repeated answer is written again")
            << a60 + ">$DACK;=D1F40;>$DACK;>$DACK;=D1F80|D1FC0;>$DACK;=$P,1000,1000;>$DACK;=;"
                     ">$PACK;=$E,1000,1;>$EACK;=D1000";
        QTest::newRow("... but not for a repeat read with its answer")
            << a60
                + ">$DACK;=D1F40;>$DACK\n$DACK;=D1F80;>$DACK;=D1FC0;>$DACK\n$DACK;=$P,1000,1000";
        // An owed answer, early in a sector, on a port that has shown a long
        // answer (300 ms: the hold would last 900 ms): the sector's "$E" goes out
        // again, and its "$EACK", which the link delivers after every answer owed,
        // settles them; the sector's lines are written again from its first.
        const QString settle = "a68,$EACK*B7B2;L300;w20;=D2100;>$DACK;";
        QTest::newRow("its $EACK: the first line goes out again")
            << settle + "=$E,2000,1;>$EACK;=D2000;>$DACK;=D2040";
        QTest::newRow("the owed answer first: the first line at once, its own answer next")
            << settle + "=$E,2000,1;>$DACK;=D2000;>$EACK;=;>$DACK;=D2040";
        // Sent after the "$E", the first line's copy is not settled by its
        // "$EACK", however late that comes.
        QTest::newRow("neither comes: the first line after the hold")
            << settle + "=$E,2000,1;~900;w899;=;w1;=D2000;>$EACK;=;>$DACK;=D2040";
        // Once a sector: for a second owed answer in it the lines go on.
        QTest::newRow("once a sector")
            << settle + "=$E,2000,1;>$EACK;=D2000;w20;=D2000;>$DACK;=D2040";
        // Until its first answer the step count times a line; that answer sets
        // the time-out to three times its own time.
        QTest::newRow("the step count until the first answer")
            << "a0;w1000;=;>$DACK;=D1040;w2999;=;w1;=D1040";
    }

    void learnedResendTimeOut()
    {
        QFETCH(QString, script);
        Rig rig(UpdateMode::FirmwareAndImages, 0x3000);
        QCOMPARE(rig.run(script), QString());
    }

    // A unit that read nothing for a while, three copies of a line waiting in
    // its receive buffer: the first answer came 45 ms late (copies are then
    // owed 135 ms), the other two after the hold for them had ended and the
    // next line had gone out, past the promise. The first is taken for that
    // line, which may have been lost; the second no copy still owed can
    // account for: the sector is written again after its "$PACK". Within the
    // horizon both are placed on their own copies, and the sector stands.
    void answersAfterCopiesGivenUp_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("afterPack");
        const QString held = "w20;=D1200;w20;=D1200;w5;>$DACK;=;";
        QTest::newRow("past the horizon: the sector is written again")
            << held + "w130;=D1240;>$DACK\n$DACK;=D1280" << "$E,1000,1";
        QTest::newRow("within it: the sector stands")
            << held + "w109;=;>$DACK\n$DACK;=D1240;w2;>$DACK;=D1280" << "$E,2000,1";
    }

    void answersAfterCopiesGivenUp()
    {
        QFETCH(QString, script);
        QFETCH(QString, afterPack);
        Rig rig(UpdateMode::FirmwareAndImages, 0x3000);
        QCOMPARE(rig.answerLines(8), QString());
        QCOMPARE(rig.run(script), QString());
        for (int address = 0x12C0; address < 0x2000; address += 64)
            QCOMPARE(rig.run(QString("w2;>$DACK;=D%1").arg(address, 0, 16)), QString());
        QCOMPARE(rig.run("w2;>$DACK;=$P,1000,1000;>$PACK;=" + afterPack), QString());
    }

    // The ledger alone: an answer is counted for the oldest copy that may
    // still be answered, never for a copy sent after it was on its way.
    void answerLedgerPlacesEachAnswer()
    {
        constexpr qint64 ms = 1000000;
        AnswerLedger ledger;
        ledger.sent(1, 0, 0, 1);
        ledger.sent(1, 20 * ms, 0, 1);
        QCOMPARE(ledger.answer(1, 21 * ms, 2, 50 * ms).kind, AnswerLedger::Current);
        QCOMPARE(ledger.owedUntilNs(21 * ms, 50 * ms), 70 * ms);
        ledger.sent(2, 22 * ms, 22 * ms, 2);
        QCOMPARE(ledger.answer(2, 22 * ms, 2, 50 * ms).kind, AnswerLedger::Owed);
        // Read with the answer that sent line 2: it can't be line 2's.
        QCOMPARE(ledger.answer(2, 22 * ms, 2, 50 * ms).kind, AnswerLedger::Early);
        QCOMPARE(ledger.answer(2, 24 * ms, 3, 50 * ms).kind, AnswerLedger::Current);
        QCOMPARE(ledger.owedUntilNs(24 * ms, 50 * ms), qint64(-1));

        // A copy past the horizon is passed over, but a horizon that grew
        // brings it back; an answer taken past a copy ends it.
        ledger.sent(3, 30 * ms, 30 * ms, 4);
        ledger.sent(4, 100 * ms, 100 * ms, 5);
        QCOMPARE(ledger.answer(4, 101 * ms, 6, 140 * ms).kind, AnswerLedger::Owed);
        ledger.sent(5, 110 * ms, 110 * ms, 6);
        ledger.sent(6, 200 * ms, 200 * ms, 7);
        const AnswerLedger::Answer a = ledger.answer(6, 201 * ms, 8, 50 * ms);
        QCOMPARE(a.kind, AnswerLedger::Current);
        QCOMPARE(a.lineFirstNs, 200 * ms);
        QCOMPARE(ledger.size(), 0);

        // An answer whose first byte came in the read that sent a copy, or an
        // earlier one, was on its way before it, wherever it is completed.
        ledger.sent(7, 300 * ms, 300 * ms, 9);
        QCOMPARE(ledger.answer(7, 303 * ms, 10, 50 * ms).kind, AnswerLedger::Current);
        ledger.sent(8, 304 * ms, 304 * ms, 12);
        QCOMPARE(ledger.answer(8, 305 * ms, 11, 50 * ms).kind, AnswerLedger::Early);
        QCOMPARE(ledger.answer(8, 305 * ms, 12, 50 * ms).kind, AnswerLedger::Early);
        QCOMPARE(ledger.answer(8, 307 * ms, 13, 50 * ms).kind, AnswerLedger::Current);
    }

    void slowRepliesRaiseTheTimeOut()
    {
        ReplyTimer timer = fedTimer({ { 8, 2 } });
        QCOMPARE(timer.timeoutNs(), 20 * 1000000LL);
        timer.sample(300 * 1000000LL);
        QVERIFY(timer.timeoutNs() > 150 * 1000000LL);

        // Replies spread over 1 to 20 ms: one at 20 ms among many near the
        // middle is not forgotten after a few more middling ones.
        QVERIFY(fedTimer({ { 16, 11 }, { 1, 20 }, { 4, 11 } }).timeoutNs() > 27 * 1000000LL);

        // A port whose replies all came fast for long enough (an adapter set
        // to 1 ms) waits less for a lost line; one that has shown only a few
        // does not yet. An adapter left at 16 ms keeps its time-out above
        // the slowest reply it shows.
        ReplyTimer steady = fedTimer({ { Timeouts::kFloorLearnSamples - 1, 3 } });
        QCOMPARE(steady.timeoutNs(), 20 * 1000000LL);
        steady.sample(3 * 1000000LL);
        QCOMPARE(steady.timeoutNs(), 12 * 1000000LL);
        ReplyTimer latencyTimer;
        for (int i = 0; i < 64; ++i)
            latencyTimer.sample((2 + (i * 7) % 17) * 1000000LL);
        QVERIFY(latencyTimer.timeoutNs() > 27 * 1000000LL);
    }

    void unitStatusFollowsTheJob()
    {
        Rig rig(UpdateMode::ImagesOnly, 0, { image(1, 16, 20, 3) });
        QCOMPARE(rig.run(QString(kCapture) + ";s8;>$IACK,0;>$FACK,00,0"), QString());
        QCOMPARE(rig.host.port.status.text(), QString("image 1 of 1"));
        QCOMPARE(rig.host.port.status.percent, 40);
        QCOMPARE(rig.run(">$FACK,01,0;>$FACK,02,0;s4"), QString());
        QVERIFY(rig.host.stages.contains("waiting for the bootloader"));
        QCOMPARE(rig.host.port.status.text(), QString("updated"));
        QCOMPARE(rig.host.port.status.percent, 100);
    }

    // In a long job a busy computer's copy or two is no bad cable: the hint
    // needs one line in a thousand sent again, not only five.
    void lossyLinkHintNeedsAShareOfTheLines()
    {
        QVERIFY(JobSummary::lossyLinkHint("p", 15, 0, 15617).isEmpty());
        QVERIFY(JobSummary::lossyLinkHint("p", 16, 0, 15617).contains("the link loses lines"));
        // Lines sent again whose answers came late were not lost: the hint
        // says so, and names the lost ones only when enough were lost.
        const QString late = JobSummary::lossyLinkHint("p", 269, 260, 15896);
        QVERIFY2(late.contains("the PC or the unit answered slowly"), qPrintable(late));
        QVERIFY(!late.contains("loses lines"));
        QVERIFY(JobSummary::lossyLinkHint("p", 269, 200, 15896).contains("69 of the 15896 lines sent were lost"));
    }
};

QTEST_GUILESS_MAIN(TestEngine)
#include "tst_engine.moc"
