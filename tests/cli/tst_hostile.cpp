// Broken and hostile input against zq-update, as a tester who means harm
// tries it: FIFOs, devices and links where files belong, numbers the protocol
// can't carry, report and log paths aimed at the run's own inputs, a full
// disk, a reader that goes away, names with escape sequences, units that never
// show their bootloader, thousands of ports that can't be opened. Each row
// checks the outcome: the exit status, the message, nothing sent to the unit
// when the run is refused, no file clobbered, and an end within a generous
// bound (no hang).
#include "support/UnitSimProcess.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int kBoundMs = 120000; // no row may take longer: a hang fails it

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QJsonObject jsonFile(const QString &path)
{
    return QJsonDocument::fromJson(fileBytes(path)).object();
}

bool makePayload(const QString &dir)
{
    return QProcess::execute(QStringLiteral(ZQ_MAKE_PAYLOAD), { dir }) == 0;
}

// zq-unit-sim with short restart and erase times; its report once it is stopped.
struct Sim : UnitSimProcess {
    bool start(const QString &dir, int units, const QStringList &more = {})
    {
        return UnitSimProcess::start(QStringLiteral(ZQ_UNIT_SIM), dir, units, more);
    }
};

void startCli(QProcess &cli, const QStringList &args)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZQ_UPDATER_PORTS"), QString());
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(ZQ_UPDATE), args);
}

// Puts the payload folder dir into a row's state: one step a text,
// "fifo NAME", "null NAME" (a device node as /dev/null), "link NAME TARGET", "folder NAME", "bytes NAME COUNT",
// "remove NAME",
// "entry KEY JSON" (sets a key of the first image entry), "copies N" (the
// first image entry N times), "write NAME TEXT". %P stands for dir.
bool prepare(const QString &dir, const QStringList &steps)
{
    for (QString step : steps) {
        step.replace(QStringLiteral("%P"), dir);
        const QStringList w = step.split(QLatin1Char(' '));
        const QString path = dir + QLatin1Char('/') + w.value(1);
        const QByteArray name = QFile::encodeName(path);
        if (w[0] != QLatin1String("entry") && w[0] != QLatin1String("copies")
            && w[0] != QLatin1String("write"))
            QFile::remove(path);
        if (w[0] == QLatin1String("fifo") && ::mkfifo(name.constData(), 0644) != 0)
            return false;
        if (w[0] == QLatin1String("link") && !QFile::link(w.value(2), path))
            return false;
        if (w[0] == QLatin1String("null")
            && ::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            return false;
        if (w[0] == QLatin1String("folder") && !QDir().mkpath(path))
            return false;
        if (w[0] == QLatin1String("bytes") && !writeFile(path, QByteArray(w.value(2).toInt(), 'x')))
            return false;
        if (w[0] == QLatin1String("write") && !writeFile(path, step.section(' ', 2).toUtf8()))
            return false;
        if (w[0] == QLatin1String("entry") || w[0] == QLatin1String("copies")) {
            const QString settingsPath = dir + QStringLiteral("/settings.json");
            QJsonObject settings = jsonFile(settingsPath);
            QJsonArray images = settings["Images"].toArray();
            QJsonObject first = images.at(0).toObject();
            if (w[0] == QLatin1String("entry")) {
                const QJsonDocument value
                    = QJsonDocument::fromJson("[" + step.section(' ', 2).toUtf8() + "]");
                first.insert(w[1], value.array().at(0));
                images[0] = first;
            } else {
                images = QJsonArray();
                for (int i = 0; i < w[1].toInt(); ++i)
                    images.append(first);
            }
            settings["Images"] = images;
            if (!writeFile(settingsPath, QJsonDocument(settings).toJson(QJsonDocument::Compact)))
                return false;
        }
    }
    return true;
}

// The regular files of dir with their bytes: what no refused run may change.
QMap<QString, QByteArray> regularFiles(const QString &dir)
{
    QMap<QString, QByteArray> files;
    const QFileInfoList infos = QDir(dir).entryInfoList(QDir::Files | QDir::NoSymLinks | QDir::Hidden);
    for (const QFileInfo &info : infos)
        if (info.fileName() != QLatin1String("sim-report.json"))
            files.insert(info.fileName(), fileBytes(info.filePath()));
    return files;
}

// A tmpfs of a few kilobytes: a disk that fills up. Root only; the caller skips without it.
struct SmallDisk {
    QTemporaryDir dir;
    bool mounted = false;
    bool mount(int kilobytes)
    {
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
        mounted = dir.isValid()
            && ::mount("zq-test", QFile::encodeName(dir.path()).constData(), "tmpfs", 0,
                   options.constData())
                == 0;
        return mounted;
    }
    // Fills the disk.
    bool fill()
    {
        QFile filler(dir.filePath(QStringLiteral("filler")));
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
            return false;
        const QByteArray block(512, 'f');
        while (filler.write(block) == block.size()) { }
        filler.close();
        return filler.size() > 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }
};

} // namespace

class TestHostile : public QObject
{
    Q_OBJECT

private slots:
    // Refused before any port is opened: exit 2, the message names the cause,
    // the unit hears nothing, no file of the payload folder changes.
    void refused_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        const QStringList none;
        const QStringList images { "--mode", "images" };

        // Files that are no files, or too large to read.
        QTest::newRow("read: settings.json a FIFO")
            << QStringList { "fifo settings.json" } << none << "settings.json is a FIFO, not a regular file";
        QTest::newRow("read: settings.json a FIFO, erase mode checked")
            << QStringList { "fifo settings.json" } << QStringList { "--mode", "erase-images", "--check" }
            << "";
        QTest::newRow("read: fw1.bin a FIFO") << QStringList { "fifo fw1.bin" } << none
                                              << "fw1.bin is a FIFO, not a regular file";
        QTest::newRow("read: fw1.bin a link to /dev/zero")
            << QStringList { "link fw1.bin /dev/zero" } << none << "is a character device, not a regular file";
        QTest::newRow("read: fw1.bin a folder") << QStringList { "folder fw1.bin" } << none
                                                << "fw1.bin is a folder, not a regular file";
        QTest::newRow("read: settings.json of 2 MB")
            << QStringList { "bytes settings.json 2000000" } << none << "is larger than 1048576 bytes";
        QTest::newRow("read: one image 100,000 times") << QStringList { "copies 100000" } << none
                                                       << "larger than 1048576 bytes";
        QTest::newRow("read: one image 300 times")
            << QStringList { "copies 300" } << none << "names 300 images, more than the 256";
        QTest::newRow("read: every image a FIFO, images mode")
            << QStringList { "fifo splash_340x230.c", "fifo icon_220x165.c" } << images
            << "icon_220x165.c is a FIFO, not a regular file). Put";
        QTest::newRow("read: an image a FIFO, checked")
            << QStringList { "fifo splash_340x230.c" } << QStringList { "--check" }
            << "splash_340x230.c is a FIFO, not a regular file";
        QTest::newRow("read: an image a FIFO")
            << QStringList { "fifo icon_220x165.c" } << none
            << "settings.json names an image that cannot be sent: Image file";
        QTest::newRow("read: an image missing, checked")
            << QStringList { "remove icon_220x165.c" } << QStringList { "--check" }
            << "icon_220x165.c is missing";
        QTest::newRow("read: --key a FIFO")
            << QStringList { "fifo k.pub" } << QStringList { "--key", "%P/k.pub" }
            << "k.pub is a FIFO, not a regular file";
        QTest::newRow("read: --key a FIFO, checked")
            << QStringList { "fifo k.pub" } << QStringList { "--key", "%P/k.pub", "--check" }
            << "k.pub is a FIFO, not a regular file";
        QTest::newRow("read: station file a FIFO")
            << QStringList { "fifo station.json" } << QStringList { "--station", "%P/station.json" }
            << "station.json is a FIFO";
        QTest::newRow("read: station slot named only spaces")
            << QStringList { R"(write station.json {"slots":[{"name":"   ","serial":"A1"}]})" }
            << QStringList { "--station", "%P/station.json" } << "only spaces";

        // Numbers and names the protocol can't carry.
        QTest::newRow("settings: ImageName -1")
            << QStringList { "entry ImageName -1" } << none << "image 1 (\"splash_340x230.c\"): ImageName -1 is not";
        QTest::newRow("settings: ImageName 300")
            << QStringList { "entry ImageName 300" } << images << "ImageName 300 is not a whole number from 0 to 255";
        QTest::newRow("settings: ImageName a text")
            << QStringList { "entry ImageName \"7\"" } << QStringList { "--check" } << "ImageName \"7\" (a text)";
        QTest::newRow("settings: ImageVersion 1.5")
            << QStringList { "entry ImageVersion 1.5" } << none << "ImageVersion 1.5 is not";
        QTest::newRow("settings: FileName climbs out")
            << QStringList { "entry FileName \"../x/fw1.bin\"" } << QStringList { "--check" } << "climbs out of the payload folder";
        QTest::newRow("settings: FileName absolute")
            << QStringList { "entry FileName \"/etc/passwd\"" } << none << "\"/etc/passwd\" is absolute";
        QTest::newRow("settings: FileName with a NUL")
            << QStringList { "entry FileName \"splash\\u0000.c\"" } << none << "FileName holds a NUL character";
        QTest::newRow("settings: FileName blank")
            << QStringList { "entry FileName \"   \"" } << none << "FileName is blank";
        QTest::newRow("settings: image a link out of the folder")
            << QStringList { "link out.c /etc/hostname", "entry FileName \"out.c\"" } << none
            << "FileName leads outside the payload folder";

        // Report and log paths aimed where they must not write.
        QTest::newRow("write: --report fw1.bin")
            << none << QStringList { "--report", "%P/fw1.bin" } << "fw1.bin, which this run reads";
        QTest::newRow("write: --log settings.json")
            << none << QStringList { "--log", "%P/settings.json" } << "which this run reads";
        QTest::newRow("write: --report an image")
            << none << QStringList { "--report", "%P/./icon_220x165.c" } << "which this run reads";
        QTest::newRow("write: --report the station file")
            << QStringList { R"(write station.json {"slots":[{"name":"A","serial":"A1"}]})" }
            << QStringList { "--station", "%P/station.json", "--report", "%P/station.json" }
            << "which this run reads";
        QTest::newRow("write: --log and --report one file")
            << QStringList { "write log.jsonl {}" } << QStringList { "--log", "%P/log.jsonl", "--report", "%P/log.jsonl" }
            << "--report and --log both name";
        QTest::newRow("write: --report a FIFO")
            << QStringList { "fifo out" } << QStringList { "--report", "%P/out" } << "out is a FIFO; name a regular file";
        QTest::newRow("write: --log a FIFO without reader")
            << QStringList { "fifo out" } << QStringList { "--log", "%P/out" } << "out is a FIFO; name a regular file";
        QTest::newRow("write: --report a folder")
            << QStringList { "folder out" } << QStringList { "--report", "%P/out" } << "is a folder";
        // A device node of its own (as /dev/null): a fault that wrote to it
        // must not replace the system's.
        QTest::newRow("write: --report a device")
            << QStringList { "null out" } << QStringList { "--report", "%P/out" } << "out is a device";
        QTest::newRow("write: --report a link, run as root")
            << QStringList { "write guard.txt keep", "link out guard.txt" }
            << QStringList { "--report", "%P/out" } << "is a symbolic link";
        QTest::newRow("write: --log a link, run as root")
            << QStringList { "write guard.txt keep", "link out guard.txt" }
            << QStringList { "--log", "%P/out" } << "is a symbolic link";

        // Options.
        QTest::newRow("option: --timeout 0") << none << QStringList { "--timeout", "0" }
                                             << "--timeout takes a whole number of seconds";
        QTest::newRow("option: --timeout a word") << none << QStringList { "--timeout", "soon" }
                                                  << "not \"soon\"";
    }

    void refused()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        const bool asRoot = ::geteuid() == 0;
        if (QString::fromLatin1(QTest::currentDataTag()).contains("run as root") && !asRoot)
            QSKIP("the link rows check the rule for root; this run is not root");
        if (steps.contains("null out") && !asRoot)
            QSKIP("no device node can be made here (needs root)");
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        QVERIFY(prepare(dir.path(), steps));
        const QMap<QString, QByteArray> before = regularFiles(dir.path());
        QTemporaryDir simDir; // the unit compares with a sound payload
        QVERIFY(makePayload(simDir.path()));
        Sim sim;
        QVERIFY(sim.start(simDir.path(), 1));
        args.replaceInStrings(QStringLiteral("%P"), dir.path());
        if (!args.contains("--station"))
            args << "--port" << sim.paths[0];
        QProcess cli;
        startCli(cli, args << "--payload" << dir.path());
        QVERIFY2(cli.waitForFinished(kBoundMs), "zq-update did not end");
        const QByteArray err = cli.readAllStandardError();
        const QJsonArray units = sim.stop();
        if (says.isEmpty()) {
            QCOMPARE(cli.exitCode(), 0); // erasing needs no settings.json
        } else {
            QVERIFY2(err.contains(says.toUtf8()), err.constData());
            QCOMPARE(cli.exitCode(), 2);
        }
        QCOMPARE(units.size(), 1);
        QCOMPARE(units[0]["lines"]["fromTool"].toInt(), 0);
        QCOMPARE(regularFiles(dir.path()), before);
    }

    // A reader that goes away ends no job: the unit is updated, the report and
    // the log are written, and standard error says once what was lost.
    void closedOutput_data()
    {
        QTest::addColumn<bool>("closeErr");
        QTest::newRow("standard output closed") << false;
        QTest::newRow("standard output and standard error closed") << true;
    }

    void closedOutput()
    {
        QFETCH(bool, closeErr);
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        Sim sim;
        QVERIFY(sim.start(dir.path(), 1));
        // The reader of the pipe ("| true") is gone before most lines are written.
        QProcess cli;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZQ_UPDATER_PORTS"), QString());
        cli.setProcessEnvironment(env);
        cli.start(QStringLiteral("bash"),
            { "-c",
                closeErr ? R"("$0" "$@" 2>&1 | true; exit ${PIPESTATUS[0]})"
                         : R"("$0" "$@" | true; exit ${PIPESTATUS[0]})",
                QStringLiteral(ZQ_UPDATE), "--events", "--port", sim.paths[0], "--payload",
                dir.path(), "--report", dir.filePath("r.json"), "--log", dir.filePath("l.jsonl") });
        QVERIFY2(cli.waitForFinished(kBoundMs), "zq-update did not end");
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 0);
        if (!closeErr) {
            const QByteArray err = cli.readAllStandardError();
            QCOMPARE(err.count("standard output can no longer be written"), 1);
        }
        const QJsonObject report = jsonFile(dir.filePath("r.json"));
        QCOMPARE(report["units"][0]["result"].toString(), QStringLiteral("updated"));
        const QList<QByteArray> lines = fileBytes(dir.filePath("l.jsonl")).split('\n');
        QCOMPARE(lines.size(), 2); // one record and its line feed
        QCOMPARE(QJsonDocument::fromJson(lines[0]).object()["result"].toString(),
            QStringLiteral("updated"));
        const QJsonArray units = sim.stop();
        QVERIFY(units[0]["exitReceived"].toBool());
        QVERIFY(units[0]["flash"]["equal"].toBool());
    }

    // A disk that fills up: the report is not replaced by a part of one, the
    // log gets no half record; the run says so and ends with status 1.
    void fullDisk_data()
    {
        QTest::addColumn<QString>("option");
        QTest::newRow("report") << "--report";
        QTest::newRow("log") << "--log";
    }

    void fullDisk()
    {
        QFETCH(QString, option);
        SmallDisk disk;
        if (!disk.mount(64))
            QSKIP("no tmpfs can be mounted here (needs root): no full disk to try");
        const QString out = disk.dir.filePath(QStringLiteral("out"));
        // The old log ends just short of a page: the record must take a new
        // one, and only a part of it fits.
        const QByteArray old = option == "--log"
            ? "{\"result\":\"updated\",\"pad\":\"" + QByteArray(4000, 'x') + "\"}\n"
            : QByteArray("{\"units\":[]}\n");
        QVERIFY(writeFile(out, old));
        QVERIFY(disk.fill()); // room for neither a report nor a whole record
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        Sim sim;
        QVERIFY(sim.start(dir.path(), 1));
        QProcess cli;
        startCli(cli, { "--mode", "erase-images", "--port", sim.paths[0], "--payload", dir.path(), option, out });
        QVERIFY2(cli.waitForFinished(kBoundMs), "zq-update did not end");
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY2(err.contains("No space left on device"), err.constData());
        QCOMPARE(fileBytes(out), old);
        QCOMPARE(QDir(disk.dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no temporary left
        sim.stop();
    }

    // A log whose last record lost its line feed: the next record starts on a
    // line of its own, and the record before is kept.
    void logWithoutLineFeed()
    {
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        const QString log = dir.filePath("l.jsonl");
        QVERIFY(writeFile(log, "{\"result\":\"updated\"}"));
        Sim sim;
        QVERIFY(sim.start(dir.path(), 1));
        QProcess cli;
        startCli(cli, { "--mode", "erase-images", "--port", sim.paths[0], "--payload", dir.path(), "--log", log });
        QVERIFY(cli.waitForFinished(kBoundMs));
        QCOMPARE(cli.exitCode(), 0);
        const QList<QByteArray> lines = fileBytes(log).split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QByteArray("{\"result\":\"updated\"}"));
        QCOMPARE(QJsonDocument::fromJson(lines[1]).object()["mode"].toString(), QStringLiteral("erase-images"));
        sim.stop();
    }

    // A unit that never shows its bootloader: --timeout ends the run, says
    // what is left on the unit, and the report says why it was not updated.
    void timeoutEndsTheRun()
    {
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        Sim sim;
        QVERIFY(sim.start(dir.path(), 1, { "--no-bootloader" }));
        QProcess cli;
        QElapsedTimer clock;
        clock.start();
        startCli(cli, { "--port", sim.paths[0], "--payload", dir.path(), "--timeout", "8",
            "--report", dir.filePath("r.json") });
        QVERIFY2(cli.waitForFinished(kBoundMs), "zq-update did not end");
        QVERIFY(clock.elapsed() >= 8000);
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY2(err.contains("Time is up (--timeout 8 s): 1 job(s) not done were stopped."), err.constData());
        QVERIFY2(err.contains("Told to start the bootloader, not captured yet: " + sim.paths[0].toLocal8Bit()),
            err.constData());
        const QJsonObject unit = jsonFile(dir.filePath("r.json")).value("units").toArray().at(0).toObject();
        QCOMPARE(unit["result"].toString(), QStringLiteral("not updated"));
        QVERIFY2(unit["reason"].toString().contains("--timeout 8 s"), qPrintable(unit["reason"].toString()));
        sim.stop();
    }

    // Names from outside reach the terminal escaped: a port named by a link
    // whose name holds a title change, a bell and a line feed.
    void namesEscaped()
    {
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        Sim sim;
        QVERIFY(sim.start(dir.path(), 1));
        const QString evil = dir.filePath(QStringLiteral("a\x1b]0;owned\x07\nb"));
        QVERIFY(QFile::link(sim.paths[0], evil));
        QProcess cli;
        startCli(cli, { "--mode", "erase-images", "--port", evil, "--payload", dir.path() });
        QVERIFY(cli.waitForFinished(kBoundMs));
        QCOMPARE(cli.exitCode(), 0);
        const QByteArray all = cli.readAllStandardOutput() + cli.readAllStandardError();
        QVERIFY2(!all.contains('\x1b') && !all.contains('\x07'), all.constData());
        QVERIFY2(all.contains("a\\x1b]0;owned\\x07\\x0ab"), all.constData());
        sim.stop();
    }

    // fw1.bin replaced between the check and the firmware: the unit gets the
    // fw1.bin that was checked, and the record's digest is of those bytes.
    void firmwareReplacedDuringTheRun()
    {
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        const QByteArray original = fileBytes(dir.filePath("fw1.bin"));
        Sim sim; // compares the flash with the fw1.bin it read at its start
        QVERIFY(sim.start(dir.path(), 1));
        QProcess cli;
        startCli(cli, { "--port", sim.paths[0], "--payload", dir.path(), "--log", dir.filePath("l.jsonl") });
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += cli.readAllStandardError(), err.contains("waiting for the bootloader")), kBoundMs);
        QByteArray changed = original;
        for (int i = 0x1000; i < changed.size(); i += 2)
            changed[i] = static_cast<char>(~changed[i]);
        QVERIFY(writeFile(dir.filePath("fw1.new"), changed));
        QVERIFY(::rename(QFile::encodeName(dir.filePath("fw1.new")).constData(),
                    QFile::encodeName(dir.filePath("fw1.bin")).constData())
            == 0);
        QVERIFY2(cli.waitForFinished(kBoundMs), "zq-update did not end");
        QCOMPARE(cli.exitCode(), 0);
        const QJsonObject record = QJsonDocument::fromJson(fileBytes(dir.filePath("l.jsonl"))).object();
        QCOMPARE(record["firmwareSha256"].toString(),
            QString::fromLatin1(QCryptographicHash::hash(original, QCryptographicHash::Sha256).toHex()));
        const QJsonArray units = sim.stop();
        QVERIFY(units[0]["flash"]["equal"].toBool());
    }

    // A FIFO as the policy, in a mount namespace of its own whose /etc is an
    // overlay (the system's policy stays as it is): --check names it at once
    // and refuses the folder, as an unreadable policy requires signatures.
    void policyFifo()
    {
        if (::geteuid() != 0)
            QSKIP("the policy's place is /etc/zq-updater: an overlay needs root");
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        QTemporaryDir overlay;
        QVERIFY(QDir(overlay.path()).mkpath("upper") && QDir(overlay.path()).mkpath("work"));
        const QString script = QStringLiteral(
            "mount -t overlay overlay -o lowerdir=/etc,upperdir=%1/upper,workdir=%1/work /etc "
            "|| exit 77; mkdir -p /etc/zq-updater && rm -f /etc/zq-updater/policy.json "
            "&& mkfifo /etc/zq-updater/policy.json && exec \"$0\" --check --payload \"$1\"")
                                   .arg(overlay.path());
        QProcess cli;
        cli.start(QStringLiteral("unshare"),
            { "-m", "--propagation", "private", "sh", "-c", script, ZQ_UPDATE, dir.path() });
        QVERIFY2(cli.waitForFinished(kBoundMs), "zq-update did not end");
        const QByteArray err = cli.readAllStandardError();
        if (cli.exitCode() == 77 || (cli.exitCode() != 2 && err.contains("unshare")))
            QSKIP("no mount namespace with an overlay here");
        QCOMPARE(cli.exitCode(), 2);
        QVERIFY2(err.contains("/etc/zq-updater/policy.json is a FIFO, not a regular file"),
            err.constData());
    }

    // Ctrl-C while a large payload is read and checked: the run ends with
    // status 130 and its report, and no unit hears a line.
    void interruptDuringThePayloadCheck()
    {
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        QVERIFY(prepare(dir.path(), { "copies 256" })); // seconds of reading
        Sim sim;
        QVERIFY(sim.start(dir.path(), 1));
        QProcess cli;
        startCli(cli, { "--port", sim.paths[0], "--payload", dir.path(), "--report", dir.filePath("r.json") });
        QVERIFY(cli.waitForStarted(kBoundMs));
        // Sent once the program catches SIGINT (its mask in /proc), before the reading ends.
        const QString status = QStringLiteral("/proc/%1/status").arg(cli.processId());
        const auto catchesSigint = [&status] {
            const QByteArray text = fileBytes(status);
            const int at = text.indexOf("SigCgt:");
            return at >= 0 && (text.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) & 0x2) != 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(catchesSigint() || cli.state() == QProcess::NotRunning, kBoundMs);
        QCOMPARE(::kill(static_cast<pid_t>(cli.processId()), SIGINT), 0);
        QVERIFY2(cli.waitForFinished(kBoundMs), "zq-update did not end");
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 130);
        QVERIFY2(err.contains("interrupted before any port was opened"), err.constData());
        const QJsonObject report = jsonFile(dir.filePath("r.json"));
        QVERIFY(report["interrupted"].toBool());
        QCOMPARE(report["exitStatus"].toInt(), 130);
        const QJsonArray units = sim.stop();
        QCOMPARE(units[0]["lines"]["fromTool"].toInt(), 0);
    }

    // One port under two names is one unit, updated once; exit 0.
    void samePortTwice()
    {
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        Sim sim;
        QVERIFY(sim.start(dir.path(), 1));
        QVERIFY(sim.paths[0].startsWith("/dev/"));
        QProcess cli;
        startCli(cli, { "--mode", "erase-images", "--port", sim.paths[0], "--port", sim.paths[0].mid(5),
            "--payload", dir.path(), "--report", dir.filePath("r.json") });
        QVERIFY(cli.waitForFinished(kBoundMs));
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(jsonFile(dir.filePath("r.json"))["units"].toArray().size(), 1);
        sim.stop();
    }

    // A device that is no serial port is called that, not "in use".
    void notASerialPort()
    {
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        QProcess cli;
        startCli(cli, { "--mode", "erase-images", "--port", "/dev/null", "--payload", dir.path() });
        QVERIFY(cli.waitForFinished(kBoundMs));
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY2(err.contains("/dev/null is not a serial port"), err.constData());
        QVERIFY2(!err.contains("in use"), err.constData());
    }

    // A FIFO put where the port's lock file goes (/run/lock is writable by
    // all) would hold the port's open for ever: the port is not tried, and
    // the message says what to remove.
    void lockFileFifo()
    {
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        Sim sim;
        QVERIFY(sim.start(dir.path(), 1));
        const QString lock = QStringLiteral("/run/lock/LCK..") + sim.paths[0].mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
        if (::mkfifo(QFile::encodeName(lock).constData(), 0644) != 0)
            QSKIP("no FIFO can be put in /run/lock here");
        QProcess cli;
        startCli(cli, { "--mode", "erase-images", "--port", sim.paths[0], "--payload", dir.path() });
        const bool ended = cli.waitForFinished(kBoundMs);
        QFile::remove(lock);
        QVERIFY2(ended, "zq-update did not end");
        const QByteArray err = cli.readAllStandardError();
        QCOMPARE(cli.exitCode(), 1);
        QVERIFY2(err.contains("its lock file ") && err.contains(QFileInfo(lock).fileName().toUtf8() + " is no regular file"), err.constData());
        const QJsonArray units = sim.stop();
        QCOMPARE(units[0]["lines"]["fromTool"].toInt(), 0);
    }

    // --watch with two thousand serial devices that can't be opened: SIGTERM
    // while they are being tried ends the run at once, and without it every
    // one is tried.
    void watchManyUnopenablePorts()
    {
        constexpr int kPorts = 2000;
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        QStringList ports;
        for (int i = 0; i < kPorts; ++i) {
            // A serial port's device numbers with no port behind them: open fails (ENXIO).
            const QString path = dir.filePath(QStringLiteral("ttyS-%1").arg(i));
            if (::mknod(QFile::encodeName(path).constData(), S_IFCHR | 0600, makedev(4, 250)) != 0)
                QSKIP("no device nodes can be made here (needs root)");
            ports << path;
        }
        QVERIFY(writeFile(dir.filePath("ports"), ports.join(',').toUtf8()));
        const QStringList args { "--watch", "--events", "--mode", "erase-images", "--port",
            ports.join(','), "--payload", dir.path() };
        for (const bool early : { true, false }) {
            QProcess cli;
            startCli(cli, args);
            QByteArray out;
            const int awaited = early ? 1 : kPorts;
            QTRY_VERIFY_WITH_TIMEOUT(
                (out += cli.readAllStandardOutput(), out.count("\"event\":\"ended\"") >= awaited),
                kBoundMs);
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(::kill(static_cast<pid_t>(cli.processId()), SIGTERM), 0);
            QVERIFY(cli.waitForFinished(kBoundMs));
            // Seconds are many passes of the event loop; trying every port takes longer.
            QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
            QCOMPARE(cli.exitCode(), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
