#include "SimOptions.h"

#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>

namespace {

double share(const QCommandLineParser &parser, const QString &name)
{
    bool ok = false;
    const double v = parser.value(name).toDouble(&ok);
    if (!ok || v < 0 || v > 1)
        SimOptions::fail(QStringLiteral("--%1 takes a share between 0 and 1").arg(name));
    return v;
}

qint64 whole(const QCommandLineParser &parser, const QString &name, int base = 10)
{
    bool ok = false;
    const qint64 v = parser.value(name).toLongLong(&ok, base);
    if (!ok || v < 0)
        SimOptions::fail(QStringLiteral("--%1 takes a whole number").arg(name));
    return v;
}

double milliseconds(const QCommandLineParser &parser, const QString &name)
{
    bool ok = false;
    const double v = parser.value(name).toDouble(&ok);
    if (!ok || v < 0)
        SimOptions::fail(QStringLiteral("--%1 takes a number of milliseconds").arg(name));
    return v;
}

SimDelayRule delayRule(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    bool ok1 = false, ok2 = true;
    SimDelayRule rule;
    if (parts.size() >= 2) {
        rule.word = parts.at(0).toLatin1();
        if (rule.word.startsWith('$'))
            rule.word.remove(0, 1);
        rule.ms = parts.at(1).toInt(&ok1);
        if (parts.size() == 3)
            rule.everyNth = parts.at(2).toInt(&ok2);
    }
    if (parts.size() < 2 || parts.size() > 3 || !ok1 || !ok2 || rule.word.isEmpty())
        SimOptions::fail(QStringLiteral("--delay takes WORD:MS or WORD:MS:EVERY, not %1").arg(text));
    return rule;
}

// The options of the units and their job.
void addJobOptions(QCommandLineParser &parser)
{
    const auto opt = [&parser](const QString &name, const QString &help, const QString &value = {},
                         const QString &defaultValue = {}) {
        parser.addOption(QCommandLineOption(name, help, value, defaultValue));
    };
    opt(QStringLiteral("units"), QStringLiteral("Number of units, one port each."),
        QStringLiteral("n"), QStringLiteral("1"));
    opt(QStringLiteral("device"),
        QStringLiteral("Serve a real serial device (an adapter wired null-modem to the tool's) "
                       "instead of a new pseudo-terminal; repeatable, one unit each, in place "
                       "of --units."),
        QStringLiteral("path"));
    opt(QStringLiteral("version-text"),
        QStringLiteral("Version the firmware reports in \"$MVERR\"."), QStringLiteral("text"),
        SimConfig().versionText);
    opt(QStringLiteral("new-version"),
        QStringLiteral("Version the updated firmware reports after \"$X\" when the flash and "
                       "images hold the payload (default: its settings.json \"Version\")."),
        QStringLiteral("text"));
    opt(QStringLiteral("no-start"),
        QStringLiteral("After \"$X\" the new firmware does not start: nothing answers."));
    opt(QStringLiteral("report"),
        QStringLiteral("Write the JSON report here at the end and whenever a unit gets \"$X\" "
                       "(without it: to stdout at the end)."),
        QStringLiteral("file"));
    opt(QStringLiteral("payload"),
        QStringLiteral("Folder with fw1.bin, settings.json and the images to compare with."),
        QStringLiteral("dir"));
    opt(QStringLiteral("restart-ms"), QStringLiteral("Time from \"$BOOTLOADM\" to the bootloader."),
        QStringLiteral("ms"), QString::number(SimConfig().restartMs));
    opt(QStringLiteral("erase-ms"), QStringLiteral("Time from \"$AACK,0\" to \"$AACK,1\"."),
        QStringLiteral("ms"), QString::number(SimConfig().eraseMs));
    opt(QStringLiteral("crlf"), QStringLiteral("End replies with \"\\r\\n\" instead of \"\\n\"."));
    opt(QStringLiteral("pace"),
        QStringLiteral("Pace both directions at the stage's baud rate, 10 bits a byte."));
    opt(QStringLiteral("latency-ms"),
        QStringLiteral("Added to every reply (an FTDI latency timer: up to 16)."),
        QStringLiteral("ms"), QStringLiteral("0"));
    opt(QStringLiteral("jitter-ms"),
        QStringLiteral("Up to this much more for each reply, drawn anew (replies keep their "
                       "order)."),
        QStringLiteral("ms"), QStringLiteral("0"));
}

// The faults on the line, decided by the seed: lines and replies lost,
// garbled, sent twice, followed by noise or held back.
void addLineFaultOptions(QCommandLineParser &parser)
{
    const auto opt = [&parser](const QString &name, const QString &help, const QString &value = {},
                         const QString &defaultValue = {}) {
        parser.addOption(QCommandLineOption(name, help, value, defaultValue));
    };
    opt(QStringLiteral("seed"),
        QStringLiteral("Seed of the fault decisions (unit k uses seed + k - 1)."),
        QStringLiteral("n"), QStringLiteral("1"));
    opt(QStringLiteral("fault-units"),
        QStringLiteral(
            "Comma-separated unit numbers (from 1) the fault options apply to; default all."),
        QStringLiteral("list"));
    opt(QStringLiteral("drop-lines"), QStringLiteral("Share of received lines lost."),
        QStringLiteral("share"), QStringLiteral("0"));
    opt(QStringLiteral("corrupt-lines"), QStringLiteral("Share of received lines garbled."),
        QStringLiteral("share"), QStringLiteral("0"));
    opt(QStringLiteral("drop-replies"), QStringLiteral("Share of replies lost."),
        QStringLiteral("share"), QStringLiteral("0"));
    opt(QStringLiteral("dup-replies"), QStringLiteral("Share of replies sent twice."),
        QStringLiteral("share"), QStringLiteral("0"));
    opt(QStringLiteral("noise"), QStringLiteral("Share of replies followed by a noise line."),
        QStringLiteral("share"), QStringLiteral("0"));
    opt(QStringLiteral("fault-words"),
        QStringLiteral("Comma-separated command words (e.g. D,F) whose lines and replies the "
                       "share faults hit; default all."),
        QStringLiteral("list"));
    opt(QStringLiteral("delay"),
        QStringLiteral("Hold back replies: WORD:MS (every one) or WORD:MS:EVERY (every EVERY-th), "
                       "e.g. IACK:2500 or DACK:2500:20. Repeatable."),
        QStringLiteral("rule"));
}

// The faults of the unit itself: no bootloader, unplugged, silent, restarted,
// a command unseen, a pause before a reply.
void addUnitFaultOptions(QCommandLineParser &parser)
{
    const auto opt = [&parser](const QString &name, const QString &help, const QString &value = {},
                         const QString &defaultValue = {}) {
        parser.addOption(QCommandLineOption(name, help, value, defaultValue));
    };
    opt(QStringLiteral("start-in-bootloader"),
        QStringLiteral("Start in the bootloader (never answers the version query)."));
    opt(QStringLiteral("no-bootloader"),
        QStringLiteral("Ignore \"$BOOTLOADM\": the bootloader never shows."));
    opt(QStringLiteral("unplug-after"), QStringLiteral("Close the cable after this many commands."),
        QStringLiteral("n"), QStringLiteral("0"));
    opt(QStringLiteral("silent-after"),
        QStringLiteral("Stop answering after this many commands: no replies, no \"$Bootloader\", "
                       "the port left open."),
        QStringLiteral("n"), QStringLiteral("0"));
    opt(QStringLiteral("restart-after"),
        QStringLiteral("Restart as after a power dip after this many commands: back to the "
                       "bootloader, announcing until \"$G\", the flash and images kept."),
        QStringLiteral("n"), QStringLiteral("0"));
    opt(QStringLiteral("restart-times"),
        QStringLiteral("How often --restart-after restarts the unit, each time that many "
                       "commands after the \"$G\" that captured it again."),
        QStringLiteral("k"), QString::number(SimConfig().restartTimes));
    opt(QStringLiteral("lose-first-g"), QStringLiteral("The first \"$G\" goes unseen."));
    opt(QStringLiteral("lose-first-erase"),
        QStringLiteral("The first \"$E\" of the sector at this hex address goes unseen."),
        QStringLiteral("hex"));
    opt(QStringLiteral("pause-replies"),
        QStringLiteral("Share of replies the unit pauses before (for --pause-ms); the replies "
                       "after one follow it in order, one write each."),
        QStringLiteral("share"), QStringLiteral("0"));
    opt(QStringLiteral("pause-ms"),
        QStringLiteral("How long a pause lasts: MS, or MIN-MAX drawn anew for each."),
        QStringLiteral("range"), QStringLiteral("100-300"));
    opt(QStringLiteral("start-captured"),
        QStringLiteral("Start in the bootloader, captured already (as a job that ended abruptly "
                       "leaves it): silent until \"$G\"."));
}

} // namespace

void SimOptions::fail(const QString &message)
{
    fprintf(stderr, "zq-unit-sim: %s\n", qPrintable(message));
    exit(2);
}

void SimOptions::add(QCommandLineParser &parser)
{
    addJobOptions(parser);
    addLineFaultOptions(parser);
    addUnitFaultOptions(parser);
}

SimOptions::SimOptions(const QCommandLineParser &parser)
{
    devices = parser.values(QStringLiteral("device"));
    adapterPlans = parser.values(QStringLiteral("adapter"));
    unitCount = !adapterPlans.isEmpty() ? adapterPlans.size()
        : devices.isEmpty()             ? whole(parser, QStringLiteral("units"))
                                        : devices.size();
    if (unitCount < 1)
        fail(QStringLiteral("--units takes at least 1"));
    readCommon(parser);
    readFaults(parser);
    readFaultUnits(parser);
    if (parser.isSet(QStringLiteral("payload"))) {
        QString problem;
        expected
            = SimExpectation::fromPayloadDir(parser.value(QStringLiteral("payload")), &problem);
        if (!problem.isEmpty())
            fprintf(stderr, "zq-unit-sim: %s\n", qPrintable(problem));
    }
    reportFile = parser.value(QStringLiteral("report"));
}

SimConfig SimOptions::configFor(int k) const
{
    SimConfig config = faultUnits.isEmpty() || faultUnits.contains(k) ? faulty : common;
    config.seed = static_cast<quint32>(seed + k - 1);
    return config;
}

void SimOptions::readCommon(const QCommandLineParser &parser)
{
    common.versionText = parser.value(QStringLiteral("version-text"));
    common.newVersionText = parser.value(QStringLiteral("new-version"));
    common.restartMs = static_cast<int>(whole(parser, QStringLiteral("restart-ms")));
    common.eraseMs = static_cast<int>(whole(parser, QStringLiteral("erase-ms")));
    common.crlf = parser.isSet(QStringLiteral("crlf"));
    common.pace = parser.isSet(QStringLiteral("pace"));
    common.latencyMs = milliseconds(parser, QStringLiteral("latency-ms"));
    common.jitterMs = milliseconds(parser, QStringLiteral("jitter-ms"));
    seed = whole(parser, QStringLiteral("seed"));
}

void SimOptions::readFaults(const QCommandLineParser &parser)
{
    faulty = common;
    faulty.dropLines = share(parser, QStringLiteral("drop-lines"));
    faulty.corruptLines = share(parser, QStringLiteral("corrupt-lines"));
    faulty.dropReplies = share(parser, QStringLiteral("drop-replies"));
    faulty.dupReplies = share(parser, QStringLiteral("dup-replies"));
    faulty.noise = share(parser, QStringLiteral("noise"));
    faulty.faultWords
        = parser.value(QStringLiteral("fault-words")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &rule : parser.values(QStringLiteral("delay")))
        faulty.delays.append(delayRule(rule));
    faulty.startInBootloader = parser.isSet(QStringLiteral("start-in-bootloader"));
    faulty.ignoreBootloadm = parser.isSet(QStringLiteral("no-bootloader"));
    faulty.noStart = parser.isSet(QStringLiteral("no-start"));
    faulty.unplugAfter = static_cast<int>(whole(parser, QStringLiteral("unplug-after")));
    faulty.silentAfter = static_cast<int>(whole(parser, QStringLiteral("silent-after")));
    faulty.restartAfter = static_cast<int>(whole(parser, QStringLiteral("restart-after")));
    faulty.restartTimes = static_cast<int>(whole(parser, QStringLiteral("restart-times")));
    faulty.loseFirstG = parser.isSet(QStringLiteral("lose-first-g"));
    if (parser.isSet(QStringLiteral("lose-first-erase")))
        faulty.loseFirstEraseAt = whole(parser, QStringLiteral("lose-first-erase"), 16);
    faulty.pauseReplies = share(parser, QStringLiteral("pause-replies"));
    readPause(parser);
    faulty.startCaptured = parser.isSet(QStringLiteral("start-captured"));
}

void SimOptions::readPause(const QCommandLineParser &parser)
{
    const QStringList pause = parser.value(QStringLiteral("pause-ms")).split(QLatin1Char('-'));
    bool ok = false;
    bool okMax = true;
    faulty.pauseMinMs = pause.value(0).toInt(&ok);
    faulty.pauseMaxMs = pause.size() == 2 ? pause.at(1).toInt(&okMax) : faulty.pauseMinMs;
    if (!ok || !okMax || pause.size() > 2 || faulty.pauseMinMs < 1
        || faulty.pauseMaxMs < faulty.pauseMinMs)
        fail(QStringLiteral("--pause-ms takes MS or MIN-MAX milliseconds"));
}

void SimOptions::readFaultUnits(const QCommandLineParser &parser)
{
    for (const QString &n :
        parser.value(QStringLiteral("fault-units")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int k = n.trimmed().toInt(&ok);
        if (!ok || k < 1 || k > unitCount)
            fail(QStringLiteral("--fault-units takes unit numbers from 1 to %1").arg(unitCount));
        faultUnits.append(k);
    }
}
