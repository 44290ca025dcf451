// Broken and hostile input against zq-update, as a tester who means harm
// tries it: FIFOs, devices and links where files belong, numbers the protocol
// can't carry, report and log paths aimed at the run's own inputs, a full
// disk, a reader that goes away, names with escape sequences, units that never
// show their bootloader, thousands of ports that can't be opened. Each row
// checks the outcome: the exit status, the message, nothing sent to the unit
// when the run is refused, no file clobbered, and an end within a generous
// bound (no hang).
#include "support/SmallDisk.h"
#include "support/TestSupport.h"
#include "support/UnitSimProcess.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr int kBoundMs = 120000; // no row may take longer: a hang fails it

using TestSupport::readFile;
using TestSupport::readJson;
using TestSupport::writeFile;

void startCli(QProcess &cli, const QStringList &args)
{
    cli.setProcessEnvironment(TestSupport::toolEnvironment());
    cli.start(QStringLiteral(ZQ_UPDATE), args);
}

// Waits for a started program to end: its exit status, -1 if it crashed or
// did not end within the bound.
int finished(QProcess &cli)
{
    return cli.waitForFinished(kBoundMs) && cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
}

int runCli(QProcess &cli, const QStringList &args)
{
    startCli(cli, args);
    return finished(cli);
}

// Writes a payload into dir and starts one simulated unit serving it.
bool payloadAndUnit(const QTemporaryDir &dir, UnitSimProcess &sim, const QStringList &more = {})
{
    return makePayload(dir.path()) && sim.start(dir.path(), 1, more);
}

constexpr uid_t kOtherUser = 65534; // nobody: the other user of the root rows

// Puts the payload folder dir into a row's state: one step a text,
// "fifo NAME", "null NAME" (a device node as /dev/null), "link NAME TARGET", "folder NAME", "bytes NAME COUNT",
// "remove NAME",
// "entry KEY JSON" (sets a key of the first image entry), "copies N" (the
// first image entry N times, numbered 0 to 255 over and over), "write NAME TEXT", "hardlink NAME TARGET",
// "userlink NAME TARGET" (a link another user owns), "chmod NAME OCTAL",
// "chown NAME" (to another user), "package NAME" (an unsigned package made
// from a payload folder of its own, src), "rawname NAME" (a file named NAME
// and a byte that is no UTF-8), "root KEY JSON" (sets a key of settings.json),
// "damage NAME VALUE" (VALUE for the first value of the image's second row).
// %P stands for dir.
bool prepare(const QString &dir, const QStringList &steps)
{
    const QStringList editsInPlace { "damage", "entry", "copies", "write", "chmod", "chown", "root" };
    for (QString step : steps) {
        step.replace(QStringLiteral("%P"), dir);
        const QStringList w = step.split(QLatin1Char(' '));
        const QString &k = w[0];
        const QString path = dir + QLatin1Char('/') + w.value(1), rest = step.section(' ', 2);
        const QByteArray name = QFile::encodeName(path);
        if (!editsInPlace.contains(k))
            QFile::remove(path);
        bool done = true;
        if (k == "damage") {
            QByteArray text = readFile(path);
            const int row = text.indexOf("0x", text.indexOf('\n', text.indexOf("0x")));
            done = row >= 0 && writeFile(path, text.replace(row, 4, rest.toLatin1()));
        } else if (k == "fifo") {
            done = ::mkfifo(name.constData(), 0644) == 0;
        } else if (k == "null") {
            done = ::mknod(name.constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
        } else if (k == "link") {
            done = QFile::link(rest, path);
        } else if (k == "hardlink") {
            done = ::link(QFile::encodeName(dir + QLatin1Char('/') + rest).constData(), name.constData()) == 0;
        } else if (k == "userlink") {
            done = QFile::link(rest, path) && ::lchown(name.constData(), kOtherUser, kOtherUser) == 0;
        } else if (k == "rawname") {
            done = ::close(::open((name + "\xff.c").constData(), O_CREAT | O_WRONLY, 0644)) == 0;
        } else if (k == "chmod") {
            done = ::chmod(name.constData(), rest.toUInt(nullptr, 8)) == 0;
        } else if (k == "chown") {
            done = ::chown(name.constData(), kOtherUser, kOtherUser) == 0;
        } else if (k == "package") {
            done = makePayload(dir + "/src") && QProcess::execute(ZQ_MAKE_PACKAGE, { dir + "/src", path }) == 0;
        } else if (k == "folder") {
            done = QDir().mkpath(path);
        } else if (k == "bytes") {
            done = writeFile(path, QByteArray(rest.toInt(), 'x'));
        } else if (k == "write") {
            done = writeFile(path, rest.toUtf8());
        } else if (k == "entry" || k == "copies" || k == "root") {
            const QString settingsPath = dir + QStringLiteral("/settings.json");
            QJsonObject settings = readJson(settingsPath);
            QJsonArray images = settings["Images"].toArray();
            QJsonObject first = images.at(0).toObject();
            const QJsonValue value = QJsonDocument::fromJson("[" + rest.toUtf8() + "]").array().at(0);
            if (k != "copies")
                (k == "root" ? settings : first).insert(w[1], value);
            images[0] = first;
            if (k == "copies") {
                images = QJsonArray();
                for (int i = 0; i < w[1].toInt(); ++i) {
                    first.insert(QStringLiteral("ImageName"), i % 256); // one image a number
                    images.append(first);
                }
            }
            settings["Images"] = images;
            done = writeFile(settingsPath, QJsonDocument(settings).toJson(QJsonDocument::Compact));
        }
        if (!done)
            return false;
    }
    return true;
}

// The regular files under dir with their bytes, and its folders: what no
// refused run may change (nor add a folder to).
QMap<QString, QByteArray> regularFiles(const QString &dir)
{
    QMap<QString, QByteArray> files;
    QDirIterator it(dir, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
        QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (info.isSymLink() || info.fileName() == QLatin1String("sim-report.json"))
            continue;
        const QString rel = QDir(dir).relativeFilePath(info.filePath());
        files.insert(rel, info.isDir() ? QByteArray("(folder)") : readFile(info.filePath()));
    }
    return files;
}

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
        const auto row = [](const QString &tag, const QStringList &steps, const QStringList &args, const QString &says) {
            QTest::newRow(qPrintable(tag)) << steps << args << says;
        };
        const QStringList images { "--mode", "images" };

        // No port, an unknown mode, no fw1.bin; --check takes no port, and
        // erasing needs no fw1.bin.
        row("option: no --port", {}, { "--mode", "erase-images" }, "--port");
        row("option: --mode all", {}, { "--mode", "all" }, "erase-images");
        row("read: no fw1.bin", { "remove fw1.bin" }, {}, "fw1.bin is missing");
        row("read: no fw1.bin, checked", { "remove fw1.bin" }, { "--check" }, "fw1.bin is missing");
        row("read: checked", {}, { "--check" }, "");
        row("read: no fw1.bin, erase mode checked",
            { "remove fw1.bin" }, { "--mode", "erase-images", "--check" }, "");

        // Files that are no files, or too large to read.
        row("read: settings.json a FIFO",
            { "fifo settings.json" }, {}, "settings.json is a FIFO, not a regular file");
        row("read: settings.json a FIFO, erase mode checked",
            { "fifo settings.json" }, { "--mode", "erase-images", "--check" }, "");
        row("read: fw1.bin a FIFO", { "fifo fw1.bin" }, {}, "fw1.bin is a FIFO, not a regular file");
        row("read: fw1.bin a link to /dev/zero",
            { "link fw1.bin /dev/zero" }, {}, "is a character device, not a regular file");
        row("read: fw1.bin a folder", { "folder fw1.bin" }, {}, "fw1.bin is a folder, not a regular file");
        row("read: settings.json of 2 MB", { "bytes settings.json 2000000" }, {}, "is larger than 1048576 bytes");
        row("read: one image 100,000 times", { "copies 100000" }, {}, "larger than 1048576 bytes");
        row("read: one image 300 times", { "copies 300" }, {}, "names 300 images, more than the 256");
        row("read: every image a FIFO, images mode",
            { "fifo splash_340x230.c", "fifo icon_220x165.c" }, images,
            "icon_220x165.c is a FIFO, not a regular file). Put");
        row("read: an image a FIFO, checked",
            { "fifo splash_340x230.c" }, { "--check" }, "splash_340x230.c is a FIFO, not a regular file");
        row("read: an image a FIFO",
            { "fifo icon_220x165.c" }, {}, "settings.json names an image that cannot be sent: Image file");
        row("read: an image missing, checked",
            { "remove icon_220x165.c" }, { "--check" }, "icon_220x165.c is missing");
        row("read: --key a FIFO", { "fifo k.pub" }, { "--key", "%P/k.pub" }, "k.pub is a FIFO, not a regular file");
        row("read: --key a FIFO, checked",
            { "fifo k.pub" }, { "--key", "%P/k.pub", "--check" }, "k.pub is a FIFO, not a regular file");
        row("read: station file a FIFO",
            { "fifo station.json" }, { "--station", "%P/station.json" }, "station.json is a FIFO");
        row("read: station slot named only spaces", { R"(write station.json {"slots":[{"name":"   ","serial":"A1"}]})" },
            { "--station", "%P/station.json" }, "only spaces");

        // Numbers and names the protocol can't carry.
        row("settings: ImageName -1",
            { "entry ImageName -1" }, {}, "image 1 (\"splash_340x230.c\"): ImageName -1 is not");
        row("settings: ImageName 300",
            { "entry ImageName 300" }, images, "ImageName 300 is not a whole number from 0 to 255");
        row("settings: ImageName a text", { "entry ImageName \"7\"" }, { "--check" }, "ImageName \"7\" (a text)");
        row("settings: ImageVersion 1.5", { "entry ImageVersion 1.5" }, {}, "ImageVersion 1.5 is not");
        row("settings: FileName climbs out",
            { "entry FileName \"../x/fw1.bin\"" }, { "--check" }, "climbs out of the payload folder");
        row("settings: FileName absolute", { "entry FileName \"/etc/passwd\"" }, {}, "\"/etc/passwd\" is absolute");
        row("settings: FileName with a NUL",
            { "entry FileName \"splash\\u0000.c\"" }, {}, "FileName holds a NUL character");
        row("settings: FileName blank", { "entry FileName \"   \"" }, {}, "FileName is blank");
        row("settings: image a link out of the folder",
            { "link out.c /etc/hostname", "entry FileName \"out.c\"" }, {},
            "FileName leads outside the payload folder");

        row("settings: Version a number",
            { "root Version 3" }, { "--check" }, "settings.json: Version 3 is not a text; write it in quotes");
        row("settings: two images with one ImageName",
            { "entry ImageName 2" }, images, "image 2 (\"icon_220x165.c\"): ImageName 2 is also image 1's");
        row("settings: FileName the folder itself",
            { "entry FileName \".\"" }, {}, "FileName \".\" names a folder, not an image file");
        row("settings: FileName a folder's name",
            { "entry FileName \"sub/\"" }, images, "FileName \"sub/\" names a folder");

        // Damaged image values: refused with the file and the line, --check too.
        row("read: image value 0xZZ",
            { "damage splash_340x230.c 0xZZ" }, { "--check" },
            "splash_340x230.c, line 13: the value \"0xZZ\" is no byte");
        row("read: image value 0x1234, images mode",
            { "damage icon_220x165.c 0x1234" }, images, "icon_220x165.c, line 13: the value \"0x1234\" is no byte");

        // --payload that names no folder.
        row("payload: a file", {}, { "--payload", "%P/fw1.bin" }, "fw1.bin is a file, not a folder");
        row("payload: missing, erase mode checked",
            {}, { "--check", "--mode", "erase-images", "--payload", "%P/none" }, "/none does not exist");

        // Report and log paths aimed where they must not write.
        row("write: --report fw1.bin", {}, { "--report", "%P/fw1.bin" }, "fw1.bin, which this run reads");
        row("write: --log settings.json", {}, { "--log", "%P/settings.json" }, "which this run reads");
        row("write: --report an image", {}, { "--report", "%P/./icon_220x165.c" }, "which this run reads");
        row("write: --report the station file", { R"(write station.json {"slots":[{"name":"A","serial":"A1"}]})" },
            { "--station", "%P/station.json", "--report", "%P/station.json" }, "which this run reads");
        row("write: --log and --report one file",
            { "write log.jsonl {}" }, { "--log", "%P/log.jsonl", "--report", "%P/log.jsonl" },
            "--report and --log both name");
        row("write: --report a FIFO", { "fifo out" }, { "--report", "%P/out" }, "out is a FIFO; name a regular file");
        row("write: --log a FIFO without reader",
            { "fifo out" }, { "--log", "%P/out" }, "out is a FIFO; name a regular file");
        row("write: --report a folder", { "folder out" }, { "--report", "%P/out" }, "is a folder");
        // A device node of its own (as /dev/null): a fault that wrote to it
        // must not replace the system's.
        row("write: --report a device", { "null out" }, { "--report", "%P/out" }, "out is a device");
        row("write: --report a link, run as root",
            { "write guard.txt keep", "link out guard.txt" }, { "--report", "%P/out" }, "is a symbolic link");
        row("write: --log a link, run as root",
            { "write guard.txt keep", "link out guard.txt" }, { "--log", "%P/out" }, "is a symbolic link");

        // What is written: every input of the run, by device and inode; and
        // where, checked before any port is opened: no folder made, no link
        // or folder another user controls on the way (as root).
        for (const QString output : { "--report", "--log" }) {
            const QString w = "write: " + output + " ";
            row(w + "the trusted key", { "write k.pub untrusted comment: a key" },
                { "--key", "%P/k.pub", output, "%P/k.pub" }, "k.pub, which this run reads");
            row(w + "the package", { "package u.zqpkg" }, { "--package", "%P/u.zqpkg", output, "%P/u.zqpkg" },
                "u.zqpkg, which this run reads");
            row(w + "in a missing folder", {}, { output, "%P/none/deeper/out" }, "none does not exist (no folder is made)");
            row(w + "through a folder link another user planted, run as root",
                { "folder safe", "write safe/out keep", "userlink up %P/safe" }, { output, "%P/up/out" },
                "is a symbolic link owned by another user");
        }
        row("write: --report a hard link to settings.json",
            { "hardlink other.json settings.json" }, { "--report", "%P/other.json" }, "which this run reads");
        row("write: --report in a folder all may write, run as root",
            { "folder open", "chmod open 777" }, { "--report", "%P/open/r.json" },
            "may be changed by other users (mode 0777, no sticky bit)");
        row("write: --log in a folder another user owns, run as root",
            { "folder theirs", "chown theirs" }, { "--log", "%P/theirs/l.jsonl" },
            "belongs to another user (uid 65534)");

        // Option values: none empty, none given twice differently, none
        // where the command reads it not.
        for (const QString option : { "--report", "--log", "--station", "--key", "--payload", "--package",
                 "--timeout", "--mode", "--port" })
            row("option: " + option + " empty", {}, { option, "" }, option + " was given an empty value");
        const QList<QStringList> options {
            { "--mode", "images", "--mode", "erase-images", "--mode was given more than once (images, erase-images)" },
            { "--payload", "%P", "--payload", "%P/src", "--payload was given more than once" },
            { "--timeout", "5", "--timeout", "9", "--timeout was given more than once (5, 9)" },
            { "--check", "--report", "%P/r.json", "--report does not apply to --check" },
            { "--check", "--log", "%P/l.jsonl", "--log does not apply to --check" },
            { "--check", "--watch", "--watch does not apply to --check" },
            { "verify", "%P/fw1.bin", "--port does not apply to verify" },
            { "verify", "%P/fw1.bin", "--watch", "--watch does not apply to verify" },
            { "list", "--report", "%P/r.json", "--report does not apply to list" },
            { "--json", "--json does not apply to an update run" },
        };
        for (QStringList args : options) {
            const QString says = args.takeLast();
            row("option: " + args.join(' '), {}, args, says);
        }
        row("option: --timeout 0", {}, { "--timeout", "0" }, "--timeout takes a whole number of seconds");
        row("option: --timeout a word", {}, { "--timeout", "soon" }, "not \"soon\"");
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
        UnitSimProcess sim;
        QVERIFY(sim.start(simDir.path(), 1));
        args.replaceInStrings(QStringLiteral("%P"), dir.path());
        if (!args.contains("--station") && !args.contains("--check")
            && QTest::currentDataTag() != QLatin1String("option: no --port"))
            args << "--port" << sim.paths[0];
        if (!args.contains("--package") && !args.contains("--payload"))
            args << "--payload" << dir.path();
        QProcess cli;
        const int code = runCli(cli, args);
        const QByteArray err = cli.readAllStandardError();
        const QJsonArray units = sim.stop();
        if (says.isEmpty()) {
            QCOMPARE(code, 0); // a check that passes: erasing needs no settings.json nor fw1.bin
        } else {
            QVERIFY2(err.contains(says.toUtf8()), err.constData());
            QCOMPARE(code, 2);
            QVERIFY(!cli.readAllStandardOutput().contains("can be used"));
        }
        QCOMPARE(units.size(), 1);
        QCOMPARE(units[0]["lines"]["fromTool"].toInt(), 0);
        QCOMPARE(regularFiles(dir.path()), before);
    }

    // A reader that goes away, or a closed terminal (SIGHUP, twice), ends no
    // job: the unit is updated, the report and the log are written, and
    // standard error says once what was lost.
    void closedOutput_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QByteArray>("says");
        // The reader of the pipe ("| true") is gone before most lines are written.
        QTest::newRow("standard output closed") << R"("$0" --events "$@" | true; exit ${PIPESTATUS[0]})"
                                                << QByteArray("standard output can no longer be written");
        QTest::newRow("standard output and standard error closed")
            << R"("$0" --events "$@" 2>&1 | true; exit ${PIPESTATUS[0]})" << QByteArray();
        QTest::newRow("terminal closed") << R"(exec "$0" "$@")" << QByteArray("the terminal was closed (SIGHUP)");
    }

    void closedOutput()
    {
        QFETCH(QString, script);
        QFETCH(QByteArray, says);
        QTemporaryDir dir;
        UnitSimProcess sim;
        QVERIFY(payloadAndUnit(dir, sim));
        QProcess cli;
        cli.setProcessEnvironment(TestSupport::toolEnvironment());
        cli.start(QStringLiteral("bash"),
            { "-c", script, QStringLiteral(ZQ_UPDATE), "--port", sim.paths[0], "--payload", dir.path(),
                "--report", dir.filePath("r.json"), "--log", dir.filePath("l.jsonl") });
        QByteArray err;
        if (says.contains("SIGHUP")) {
            QTRY_VERIFY_WITH_TIMEOUT((err += cli.readAllStandardError(), err.contains("firmware, sector")), kBoundMs);
            for (int i = 0; i < 2; ++i)
                QCOMPARE(::kill(static_cast<pid_t>(cli.processId()), SIGHUP), 0);
        }
        QCOMPARE(finished(cli), 0);
        err += cli.readAllStandardError();
        if (!says.isEmpty())
            QCOMPARE(err.count(says), 1);
        const QJsonObject report = readJson(dir.filePath("r.json"));
        QCOMPARE(report["units"][0]["result"].toString(), QStringLiteral("updated"));
        const QList<QByteArray> lines = readFile(dir.filePath("l.jsonl")).split('\n');
        QCOMPARE(lines.size(), 2); // one record and its line feed
        QCOMPARE(QJsonDocument::fromJson(lines[0])["result"].toString(), QStringLiteral("updated"));
        const QJsonArray units = sim.stop();
        QVERIFY(units[0]["exitReceived"].toBool());
        QVERIFY(units[0]["flash"]["equal"].toBool());
    }

    // A disk that fills up: the report is not replaced by a part of one, the
    // log gets no half record; the run says so and ends with status 1. A
    // read-only folder (a tmpfs mounted so as root, a folder of mode 0555
    // otherwise) is refused before any port is opened: exit 2, the unit hears
    // nothing, and the run is not lost with its record.
    void diskFullOrReadOnly_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("readOnly");
        QTest::newRow("report, disk full") << "--report" << false;
        QTest::newRow("log, disk full") << "--log" << false;
        QTest::newRow("report in a read-only folder") << "--report" << true;
        QTest::newRow("log in a read-only folder") << "--log" << true;
    }

    void diskFullOrReadOnly()
    {
        QFETCH(QString, option);
        QFETCH(bool, readOnly);
        SmallDisk disk;
        const QByteArray folder = QFile::encodeName(disk.dir.path());
        const QString out = disk.dir.filePath(QStringLiteral("out"));
        // The old log ends just short of a page: the record must take a new
        // one, and only a part of it fits.
        const QByteArray old = option == "--log"
            ? "{\"result\":\"updated\",\"pad\":\"" + QByteArray(4000, 'x') + "\"}\n"
            : QByteArray("{\"units\":[]}\n");
        if (readOnly && (::geteuid() == 0 ? !disk.mount(64, MS_RDONLY) : ::chmod(folder.constData(), 0555) != 0))
            QSKIP("no read-only folder can be made here");
        if (!readOnly && !disk.mount(64))
            QSKIP("no tmpfs can be mounted here (needs root): no full disk to try");
        if (!readOnly) {
            QVERIFY(writeFile(out, old));
            QVERIFY(disk.fill()); // room for neither a report nor a whole record
        }
        QTemporaryDir dir;
        UnitSimProcess sim;
        QVERIFY(payloadAndUnit(dir, sim));
        QProcess cli;
        const int code = runCli(cli, { "--mode", "erase-images", "--port", sim.paths[0], "--payload", dir.path(), option, out });
        const QByteArray err = cli.readAllStandardError();
        ::chmod(folder.constData(), 0700);
        const QJsonArray units = sim.stop();
        if (readOnly) {
            QCOMPARE(code, 2);
            QVERIFY2(err.contains(option.toUtf8() + ": ") && err.contains("cannot be written"), err.constData());
            QCOMPARE(units[0]["lines"]["fromTool"].toInt(), 0);
            return;
        }
        QCOMPARE(code, 1);
        QVERIFY2(err.contains("No space left on device"), err.constData());
        if (option == "--log") // the record lost is said below the table, not hidden
            QVERIFY(cli.readAllStandardOutput().contains("1 unit record(s) could not be written"));
        QCOMPARE(readFile(out), old);
        QCOMPARE(QDir(disk.dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2); // no temporary left
    }

    // zq-make-package refuses, exit 2, and changes no file: an output in its
    // own folder, an earlier output in the folder, a link planted at the
    // output, a name that is no UTF-8, a settings.json that can't be read.
    void makePackageRefused_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        const QStringList plain { "%P/pay", "%P/u.zqpkg" };
        const QString inside = "is inside the payload folder", earlier = "is a package or a part of one";
        QTest::newRow("output is the folder's fw1.bin") << QStringList() << QStringList { "%P/pay", "%P/pay/fw1.bin" } << inside;
        QTest::newRow("output in a folder below it") << QStringList { "folder pay/sub" } << QStringList { "%P/pay", "%P/pay/sub/u.zqpkg" } << inside;
        QTest::newRow("manifest written into it") << QStringList() << QStringList { "--write-manifest", "%P/pay/manifest.json", "%P/pay" } << inside;
        QTest::newRow("a package left in the folder") << QStringList { "write pay/old.zqpkg x" } << plain << "old.zqpkg " + earlier;
        QTest::newRow("an earlier package under another name")
            << QStringList { "package first.zqpkg", "hardlink pay/keep.bin first.zqpkg" } << plain << "keep.bin " + earlier;
        QTest::newRow("a manifest left in the folder") << QStringList { "write pay/manifest.json {}" } << plain << "manifest.json " + earlier;
        QTest::newRow("a link planted at the output, run as root")
            << QStringList { "write guard.txt keep", "userlink u.zqpkg %P/guard.txt" } << plain << "symbolic link";
        QTest::newRow("a file name that is not UTF-8") << QStringList { "rawname pay/bad" } << plain << "the file name is not UTF-8";
        QTest::newRow("a broken settings.json")
            << QStringList { "write pay/settings.json {\"Version\": " } << plain << "settings.json cannot be used";
    }

    void makePackageRefused()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        if (QString::fromLatin1(QTest::currentDataTag()).contains("run as root") && ::geteuid() != 0)
            QSKIP("the link row checks the rule for root; this run is not root");
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.filePath("pay")));
        QVERIFY(prepare(dir.path(), steps));
        const QMap<QString, QByteArray> before = regularFiles(dir.path());
        args.replaceInStrings(QStringLiteral("%P"), dir.path());
        QProcess maker;
        maker.start(QStringLiteral(ZQ_MAKE_PACKAGE), args);
        const int code = finished(maker);
        const QByteArray err = maker.readAllStandardError();
        // Qt lists no name that is not UTF-8, nor removes it with the folder.
        ::unlink((QFile::encodeName(dir.filePath(QStringLiteral("pay/bad"))) + "\xff.c").constData());
        QCOMPARE(code, 2);
        QVERIFY2(err.contains(says.toUtf8()), err.constData());
        QCOMPARE(regularFiles(dir.path()), before);
    }

    // One port under two names is one unit, updated once; a log whose last
    // record lost its line feed gets the next record on a line of its own, and
    // keeps the record before.
    void portTwiceLogWithoutLineFeed()
    {
        QTemporaryDir dir;
        UnitSimProcess sim;
        QVERIFY(payloadAndUnit(dir, sim));
        QVERIFY(sim.paths[0].startsWith("/dev/"));
        const QString log = dir.filePath("l.jsonl");
        QVERIFY(writeFile(log, "{\"result\":\"updated\"}"));
        QProcess cli;
        QCOMPARE(runCli(cli, { "--mode", "erase-images", "--port", sim.paths[0], "--port", sim.paths[0].mid(5),
                     "--payload", dir.path(), "--report", dir.filePath("r.json"), "--log", log }), 0);
        QCOMPARE(readJson(dir.filePath("r.json"))["units"].toArray().size(), 1);
        const QList<QByteArray> lines = readFile(log).split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QByteArray("{\"result\":\"updated\"}"));
        QCOMPARE(QJsonDocument::fromJson(lines[1]).object()["mode"].toString(), QStringLiteral("erase-images"));
        sim.stop();
    }

    // A unit that never shows its bootloader: --timeout ends the run, says
    // what is left on the unit (told to start its bootloader: never that no
    // unit was left in it), and the report says why it was not updated.
    void timeoutEndsTheRun()
    {
        QTemporaryDir dir;
        UnitSimProcess sim;
        QVERIFY(payloadAndUnit(dir, sim, { "--no-bootloader" }));
        QProcess cli;
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runCli(cli, { "--port", sim.paths[0], "--payload", dir.path(), "--timeout", "8", "--report",
                     dir.filePath("r.json") }), 1);
        QVERIFY(clock.elapsed() >= 8000);
        const QByteArray err = cli.readAllStandardError();
        QVERIFY2(err.contains("Time is up (--timeout 8 s): 1 job(s) not done were stopped."), err.constData());
        QVERIFY2(err.contains("Told to start the bootloader, not captured yet: " + sim.paths[0].toLocal8Bit())
                && err.contains("It may be in its bootloader now.") && err.contains("Run the same command again"),
            err.constData());
        QVERIFY2(!err.contains("No unit was left in its bootloader."), err.constData());
        const QJsonObject unit = readJson(dir.filePath("r.json")).value("units").toArray().at(0).toObject();
        QCOMPARE(unit["result"].toString(), QStringLiteral("not updated"));
        QVERIFY2(unit["reason"].toString().contains("--timeout 8 s"), qPrintable(unit["reason"].toString()));
        sim.stop();
    }

    // Names from outside reach the terminal escaped: a port named by a link
    // whose name holds a title change, a bell and a line feed.
    void namesEscaped()
    {
        QTemporaryDir dir;
        UnitSimProcess sim;
        QVERIFY(payloadAndUnit(dir, sim));
        const QString evil = dir.filePath(QStringLiteral("a\x1b]0;owned\x07\nb"));
        QVERIFY(QFile::link(sim.paths[0], evil));
        QProcess cli;
        QCOMPARE(runCli(cli, { "--mode", "erase-images", "--port", evil, "--payload", dir.path() }), 0);
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
        UnitSimProcess sim;
        QVERIFY(payloadAndUnit(dir, sim));
        const QByteArray original = readFile(dir.filePath("fw1.bin"));
        QProcess cli;
        startCli(cli, { "--port", sim.paths[0], "--payload", dir.path(), "--log", dir.filePath("l.jsonl") });
        QByteArray err;
        QTRY_VERIFY_WITH_TIMEOUT(
            (err += cli.readAllStandardError(), err.contains("waiting for the bootloader")), kBoundMs);
        QByteArray changed = original;
        for (int i = 0x1000; i < changed.size(); i += 2)
            changed[i] = static_cast<char>(~changed[i]);
        QVERIFY(writeFile(dir.filePath("fw1.new"), changed));
        QCOMPARE(::rename(QFile::encodeName(dir.filePath("fw1.new")).constData(),
                     QFile::encodeName(dir.filePath("fw1.bin")).constData()), 0);
        QCOMPARE(finished(cli), 0);
        const QJsonObject record = QJsonDocument::fromJson(readFile(dir.filePath("l.jsonl"))).object();
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
        const int code = finished(cli);
        const QByteArray err = cli.readAllStandardError();
        if (code == 77 || (code != 2 && err.contains("unshare")))
            QSKIP("no mount namespace with an overlay here");
        QCOMPARE(code, 2);
        QVERIFY2(err.contains("/etc/zq-updater/policy.json is a FIFO, not a regular file"),
            err.constData());
    }

    // Ctrl-C while a large payload is read and checked: the run ends with
    // status 130 and its report, and no unit hears a line.
    void interruptDuringThePayloadCheck()
    {
        QTemporaryDir dir;
        UnitSimProcess sim;
        QVERIFY(payloadAndUnit(dir, sim));
        QVERIFY(prepare(dir.path(), { "copies 256" })); // seconds of reading
        QProcess cli;
        startCli(cli, { "--port", sim.paths[0], "--payload", dir.path(), "--report", dir.filePath("r.json") });
        QVERIFY(cli.waitForStarted(kBoundMs));
        // Sent once the program catches SIGINT (its mask in /proc), before the reading ends.
        const QString status = QStringLiteral("/proc/%1/status").arg(cli.processId());
        const auto catchesSigint = [&status] {
            const QByteArray text = readFile(status);
            const int at = text.indexOf("SigCgt:");
            return at >= 0 && (text.mid(at + 7, 17).trimmed().toULongLong(nullptr, 16) & 0x2) != 0;
        };
        QTRY_VERIFY_WITH_TIMEOUT(catchesSigint() || cli.state() == QProcess::NotRunning, kBoundMs);
        QVERIFY2(cli.processId() > 0, cli.readAllStandardError().constData()); // kill(0) would stop the test
        QCOMPARE(::kill(static_cast<pid_t>(cli.processId()), SIGINT), 0);
        QCOMPARE(finished(cli), 130);
        const QByteArray err = cli.readAllStandardError();
        QVERIFY2(err.contains("interrupted before any port was opened"), err.constData());
        const QJsonObject report = readJson(dir.filePath("r.json"));
        QVERIFY(report["interrupted"].toBool());
        QCOMPARE(report["exitStatus"].toInt(), 130);
        const QJsonArray units = sim.stop();
        QCOMPARE(units[0]["lines"]["fromTool"].toInt(), 0);
    }

    // A device that is no serial port is called that, not "in use".
    void notASerialPort()
    {
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.path()));
        QProcess cli;
        QCOMPARE(runCli(cli, { "--mode", "erase-images", "--port", "/dev/null", "--payload", dir.path() }), 1);
        const QByteArray err = cli.readAllStandardError();
        QVERIFY2(err.contains("/dev/null is not a serial port"), err.constData());
        QVERIFY2(!err.contains("in use"), err.constData());
    }

    // What anyone may put where the port's lock file goes (/run/lock is
    // writable by all): a FIFO would hold the port's open for ever, a file
    // with no process id or naming a process that does not use the port locks
    // it for nobody. The port is not tried, the lock file is named with what
    // to do, and no unrelated process is named.
    void lockFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("a FIFO") << "fifo" << "is no regular file";
        QTest::newRow("no process id") << "junk" << "holds no process id";
        QTest::newRow("process 1, which does not use the port") << "1" << "names process 1";
    }

    void lockFile()
    {
        QFETCH(QString, kind);
        QFETCH(QString, says);
        QTemporaryDir dir;
        UnitSimProcess sim;
        QVERIFY(payloadAndUnit(dir, sim));
        const QString lock = QStringLiteral("/run/lock/LCK..") + sim.paths[0].mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
        const bool planted = kind == "fifo" ? ::mkfifo(QFile::encodeName(lock).constData(), 0644) == 0
                                            : writeFile(lock, kind == "junk" ? "not a pid\n" : "         1\n");
        if (!planted)
            QSKIP("nothing can be put in /run/lock here");
        QProcess cli;
        const int code = runCli(cli, { "--mode", "erase-images", "--port", sim.paths[0], "--payload", dir.path() });
        QFile::remove(lock);
        QCOMPARE(code, 1);
        const QByteArray err = cli.readAllStandardError();
        // Named by /var/lock or /run/lock, one a link to the other.
        const QByteArray name = "/lock/" + QFileInfo(lock).fileName().toUtf8();
        QVERIFY2(err.contains(name + " " + says.toUtf8()) && err.contains(name + ") and try again"),
            err.constData());
        QVERIFY2(!err.contains("in use by another program"), err.constData());
        const QJsonArray units = sim.stop();
        QCOMPARE(units[0]["lines"]["fromTool"].toInt(), 0);
    }

    // A serial port built into the computer and kept for root (root:root
    // 0600, as /dev/ttyS0), tried by another user while the package's device
    // rule is installed: no advice to plug an adapter in again or to join
    // the group root.
    void builtInPortKeptForRoot()
    {
        if (::geteuid() != 0)
            QSKIP("a device node of its own needs root");
        if (!QFileInfo::exists(QStringLiteral("/sys/dev/char/4:64")))
            QSKIP("the system shows no built-in serial port 4:64 (ttyS0)");
        QTemporaryDir dir;
        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                | QFile::ReadOther | QFile::ExeOther));
        const QString node = dir.filePath(QStringLiteral("ttyS0"));
        QVERIFY(::mknod(QFile::encodeName(node).constData(), S_IFCHR | 0600, makedev(4, 64)) == 0);
        QVERIFY(writeFile(dir.filePath("70-zq-updater.rules"), "# installed\n"));
        QProcess cli;
        cli.setProcessEnvironment(TestSupport::toolEnvironment({ "ZQ_UDEV_RULES=" + dir.filePath("70-zq-updater.rules") }));
        cli.start(QStringLiteral("setpriv"), { "--reuid=65534", "--regid=65534", "--clear-groups",
            QStringLiteral(ZQ_UPDATE), "--mode", "erase-images", "--port", node, "--payload", dir.path() });
        QCOMPARE(finished(cli), 1);
        const QByteArray err = cli.readAllStandardError();
        QVERIFY2(err.contains("is a serial port built into the computer, not an adapter")
                && err.contains("Choose the adapter's port"),
            err.constData());
        QVERIFY2(!err.contains("usermod") && !err.contains("Unplug"), err.constData());
    }

    // Names whose bytes are not UTF-8: a payload folder and a link to the
    // port. The folder's files are found, the port is used, and the folder
    // is shown with its odd byte as \xff.
    void namesNotUtf8()
    {
        QTemporaryDir dir;
        QVERIFY(makePayload(dir.filePath("pay")));
        const QByteArray base = QFile::encodeName(dir.path());
        QVERIFY(::rename((base + "/pay").constData(), (base + "/pay\xff").constData()) == 0);
        QVERIFY(makePayload(dir.filePath("sim"))); // the same payload, for the unit to compare with
        UnitSimProcess sim;
        QVERIFY(sim.start(dir.filePath("sim"), 1));
        QVERIFY(::symlink(QFile::encodeName(sim.paths[0]).constData(), (base + "/port\xfe").constData()) == 0);
        const auto run = [&](const QString &script) {
            QProcess cli;
            cli.setProcessEnvironment(TestSupport::toolEnvironment());
            cli.start(QStringLiteral("bash"), { "-c", script, QStringLiteral(ZQ_UPDATE), dir.path() });
            cli.waitForFinished(kBoundMs);
            return qMakePair(cli.exitCode(), cli.readAllStandardOutput() + cli.readAllStandardError());
        };
        const auto checked = run(R"(exec "$0" --check --payload "$1/pay"$'\xff')");
        QVERIFY2(checked.first == 0 && checked.second.contains("/pay\\xff can be used"), checked.second.constData());
        const auto missing = run(R"(exec "$0" --check --payload "$1/none"$'\xff')");
        QVERIFY2(missing.first == 2 && missing.second.contains("/none\\xff does not exist"), missing.second.constData());
        const auto updated = run(
            R"(exec "$0" --mode images --port "$1/port"$'\xfe' --payload "$1/pay"$'\xff' --report "$1/r.json")");
        QVERIFY2(updated.first == 0, updated.second.constData());
        QCOMPARE(readJson(dir.filePath("r.json"))["payload"].toString(), dir.filePath("pay\\xff"));
        QVERIFY2(!updated.second.contains("no such port"), updated.second.constData());
        const QJsonArray units = sim.stop();
        QVERIFY(units[0]["imagesEqual"].toBool());
    }

    // --watch with two thousand serial devices that can't be opened: SIGTERM
    // while they are being tried ends the run, and so it does once every one
    // was tried.
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
            QCOMPARE(::kill(static_cast<pid_t>(cli.processId()), SIGTERM), 0);
            QCOMPARE(finished(cli), 1);
        }
    }
};

QTEST_GUILESS_MAIN(TestHostile)
#include "tst_hostile.moc"
