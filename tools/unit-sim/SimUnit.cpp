#include "SimUnit.h"

#include "FrameCheck.h"
#include "SimReport.h"
#include "SimWire.h"
#include "link/LineFrame.h"
#include "link/TextRoutines.h"

#include <QSocketNotifier>
#include <algorithm>
#include <unistd.h>
#include <utility>

namespace {

// A received line longer than this without a line feed is thrown away.
constexpr int kMaxLine = 4000;

} // namespace

SimUnit::SimUnit(const SimConfig &config, QObject *parent)
    : QObject(parent)
    , config(config)
    , dice(config.seed)
    , outgoing(this->config, dice, pty, clock, [this] { return toolSpeedWhenDue(); })
{
    clock.start();
    announceTimer.setInterval(config.announceMs);
    connect(&announceTimer, &QTimer::timeout, this, &SimUnit::announce);
    bootTimer.setSingleShot(true);
    connect(&bootTimer, &QTimer::timeout, this, &SimUnit::enterBootloader);
}

SimUnit::~SimUnit()
{
    delete notifier;
}

bool SimUnit::open()
{
    if (!(config.device.isEmpty() ? pty.open() : pty.openDevice(config.device)))
        return false;
    lastToolBaud = toolBaud();
    notifier = new QSocketNotifier(pty.masterFd(), QSocketNotifier::Read);
    connect(notifier, &QSocketNotifier::activated, this, &SimUnit::readFromTool);
    if (config.startCaptured) {
        currentStage = Stage::Bootloader;
        isCaptured = true;
        reach(Bootloader);
    } else if (config.startInBootloader) {
        enterBootloader();
    }
    return true;
}

QString SimUnit::stageName(Stage stage)
{
    switch (stage) {
    case Stage::Running: return QStringLiteral("running");
    case Stage::Restarting: return QStringLiteral("restarting");
    case Stage::Bootloader: return QStringLiteral("bootloader");
    case Stage::Unplugged: return QStringLiteral("unplugged");
    }
    return QString();
}

QJsonObject SimUnit::report() const
{
    return SimReport::of(*this);
}

// The speed of the tool's side. On a real serial device the unit cannot see the
// tool's speed: it runs its own side at the stage's speed, and a tool at
// another speed reads garbage, as with a real unit.
int SimUnit::toolBaud()
{
    if (!pty.isDevice())
        return pty.baudRate();
    if (stageBaud() != 0 && pty.baudRate() != stageBaud())
        pty.setBaudRate(stageBaud());
    return stageBaud() != 0 ? stageBaud() : pty.baudRate();
}

int SimUnit::stageBaud() const
{
    switch (currentStage) {
    case Stage::Running: return kApplicationBaud;
    case Stage::Bootloader: return kBootloaderBaud;
    default: return 0;
    }
}

// When the tool changes its side's speed (closing and reopening the port), what
// the unit wrote before is lost, as with a real adapter.
void SimUnit::checkToolSpeed()
{
    const int baud = toolBaud();
    if (baud != lastToolBaud) {
        lastToolBaud = baud;
        pty.discardPendingToTool();
    }
}

// The tool side's speed when a reply is due; -1 once the cable is gone.
int SimUnit::toolSpeedWhenDue()
{
    if (currentStage == Stage::Unplugged)
        return -1;
    checkToolSpeed();
    return toolBaud();
}

// --- receiving --------------------------------------------------------------

void SimUnit::readFromTool()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(pty.masterFd(), buf, sizeof buf);
        if (n <= 0)
            break;
        tally.bytesFromTool += n;
        rxBuffer.append(buf, static_cast<int>(n));
    }
    checkToolSpeed();
    int end;
    while (currentStage != Stage::Unplugged && (end = rxBuffer.indexOf('\n')) >= 0) {
        const QByteArray line = rxBuffer.left(end + 1);
        rxBuffer.remove(0, end + 1);
        handleLine(line);
    }
    lineDoneUs = -1;
    if (rxBuffer.size() > kMaxLine) {
        count("overlongLine");
        rxBuffer.clear();
    }
}

// One line from the tool: counted, then lost on the wire, not heard, not a
// frame or not understood in the stage, or taken as a command.
void SimUnit::handleLine(const QByteArray &line)
{
    countLine(line);
    QByteArray body;
    if (lostOnTheWay(line, tally.linesFromTool) || !heard() || unframed(line, body))
        return;
    QList<QByteArray> fields = body.split(',');
    const QByteArray word = fields.takeFirst();
    if (loseOnPurpose(word, fields) || !understood(word))
        return;

    tally.commands[QString::fromLatin1(word)]++;
    ++tally.commandsTaken;
    if (currentStage == Stage::Running)
        handleRunning(word);
    else
        handleBootloader(word, fields);
    afterCommand();
}

// Counts the line, and its wait since the last one in the bootloader part.
// The wire: with pacing the line has only fully arrived after its bytes' time
// at the stage's speed.
void SimUnit::countLine(const QByteArray &line)
{
    ++tally.linesFromTool;
    tally.lineBytesFromTool += line.size();
    tally.lastLineBytes = line.size();
    if (tally.captureUs >= 0 && !exitSeen) {
        const qint64 now = nowUs();
        if (tally.lastLineUs >= 0 && now - tally.lastLineUs > SimTally::kIdleGapUs)
            tally.idleUs += now - tally.lastLineUs;
        tally.lastLineUs = now;
    }
    lineDoneUs = nowUs();
    if (config.pace) {
        rxWireFreeUs
            = std::max(lineDoneUs, rxWireFreeUs) + SimWire::lineUs(line.size(), stageBaud());
        lineDoneUs = rxWireFreeUs;
    }
}

// The share faults on the way to the unit: a line dropped, or garbled so that
// it fails its checksum and the unit drops it.
bool SimUnit::lostOnTheWay(const QByteArray &line, qint64 index)
{
    const bool hit = faultable(line);
    if (hit && dice.roll(config.dropLines, "drop-line", index)) {
        tally.faults[QStringLiteral("droppedLines")]++;
        return true;
    }
    if (hit && dice.roll(config.corruptLines, "corrupt-line", index)) {
        tally.faults[QStringLiteral("corruptedLines")]++;
        return true;
    }
    return false;
}

// Whether the unit hears the line at all: a silent unit still reads what
// arrives and answers none of it, a restarting one reads nothing, and at the
// wrong speed the UART sees garbage.
bool SimUnit::heard()
{
    if (isSilent) {
        tally.ignored[QStringLiteral("silent")]++;
        return false;
    }
    if (currentStage == Stage::Restarting) {
        tally.ignored[QStringLiteral("restarting")]++;
        return false;
    }
    const int baud = toolBaud();
    tally.speedsSeen[stageName(currentStage)].insert(baud);
    if (baud != stageBaud()) {
        ++tally.wrongSpeedLines;
        return false;
    }
    return true;
}

// True (and the problem counted) when the line is no frame: only "$G" may
// come raw.
bool SimUnit::unframed(const QByteArray &line, QByteArray &body)
{
    const FrameCheck::Result frame = FrameCheck::check(line, body);
    const bool rawG = frame == FrameCheck::Raw && body == "G";
    if (frame == FrameCheck::Framed || rawG)
        return false;
    count(FrameCheck::problemName(frame));
    return true;
}

// What the firmware or the bootloader doesn't know in its present state goes
// by unanswered.
bool SimUnit::understood(const QByteArray &word)
{
    const bool running = currentStage == Stage::Running;
    const bool firmwareWord = word == "MVER" || word == "BOOTLOADM";
    const char *ignoredIn = nullptr;
    if (running && !firmwareWord)
        ignoredIn = "running";
    else if (!running && firmwareWord)
        ignoredIn = "bootloader";
    else if (!running && !isCaptured && word != "G")
        ignoredIn = "uncaptured";
    if (ignoredIn != nullptr)
        tally.ignored[QLatin1String(ignoredIn)]++;
    return ignoredIn == nullptr;
}

// The scenario faults that come after a number of commands.
void SimUnit::afterCommand()
{
    const int taken = tally.commandsTaken;
    if (config.unplugAfter > 0 && taken >= config.unplugAfter)
        unplug();
    else if (config.silentAfter > 0 && taken >= config.silentAfter)
        goSilent();
    else if (config.restartAfter > 0 && restartsDone < config.restartTimes
        && taken - restartCountFrom >= config.restartAfter)
        restart();
}

// Whether the share faults may hit this line or reply body: its command word
// is in --fault-words (a reply's word names its command: "DACK" answers "D").
bool SimUnit::faultable(const QByteArray &text) const
{
    if (config.faultWords.isEmpty())
        return true;
    const int start = text.startsWith('$') ? 1 : 0;
    int end = start;
    while (end < text.size() && !QByteArrayLiteral(",*\r\n").contains(text[end]))
        ++end;
    QByteArray word = text.mid(start, end - start);
    if (word.endsWith("ACK"))
        word.chop(3);
    return config.faultWords.contains(QString::fromLatin1(word));
}

bool SimUnit::loseOnPurpose(const QByteArray &word, const QList<QByteArray> &fields)
{
    if (currentStage != Stage::Bootloader)
        return false;
    if (word == "G" && config.loseFirstG && !lostG) {
        lostG = true;
        tally.faults[QStringLiteral("lostG")]++;
        return true;
    }
    if (word == "E" && config.loseFirstEraseAt >= 0 && !lostErase && !fields.isEmpty()
        && HexToInt(fields.at(0).constData()) == config.loseFirstEraseAt) {
        lostErase = true;
        tally.faults[QStringLiteral("lostE")]++;
        return true;
    }
    return false;
}

// --- the application firmware -------------------------------------------------

void SimUnit::handleRunning(const QByteArray &word)
{
    if (exitSeen && config.noStart) {
        tally.faults[QStringLiteral("notStarted")]++;
        return;
    }
    if (word == "MVER") {
        if (exitSeen) {
            reply("MVERR," + runningVersion().toLatin1());
            return;
        }
        if (tally.firstVersionQueryUs < 0)
            tally.firstVersionQueryUs = nowUs();
        reach(Version);
        reply("MVERR," + config.versionText.toLatin1());
        return;
    }
    // "$BOOTLOADM": the firmware restarts into the bootloader.
    if (config.ignoreBootloadm) {
        tally.faults[QStringLiteral("ignoredBootloadm")]++;
        return;
    }
    currentStage = Stage::Restarting;
    bootTimer.start(config.restartMs);
}

// After "$X": the update's version when the flash and the images hold the
// payload (without a payload to compare with, when one is given), else the
// firmware the unit ran before.
QString SimUnit::runningVersion() const
{
    const QString updated
        = config.newVersionText.isEmpty() ? expectation.version : config.newVersionText;
    const bool compared = expectation.hasFirmware || expectation.hasImages;
    bool holds = true;
    if (expectation.hasFirmware)
        holds = flashModel.compare(expectation.firmware).value(QStringLiteral("equal")).toBool();
    if (expectation.hasImages)
        holds = holds && imageStore.allEqual(expectation);
    if (!compared)
        holds = !config.newVersionText.isEmpty();
    return holds && !updated.isEmpty() ? updated : config.versionText;
}

void SimUnit::enterBootloader()
{
    if (currentStage == Stage::Unplugged)
        return;
    currentStage = Stage::Bootloader;
    isCaptured = false;
    reach(Bootloader);
    announce();
    announceTimer.start();
}

void SimUnit::announce()
{
    if (currentStage != Stage::Bootloader || isCaptured || isSilent) {
        announceTimer.stop();
        return;
    }
    sendBare("$Bootloader");
}

// --- sending ----------------------------------------------------------------

// A reply, framed, with the faults that may hit it on its way: dropped,
// paused, delayed, sent twice, followed by noise.
void SimUnit::reply(const QByteArray &body, int extraDelayMs)
{
    if (isSilent)
        return;
    char buf[kLineBufferSize];
    const QByteArray text = '$' + body;
    qstrncpy(buf, text.constData(), sizeof buf);
    const int n = CompleteLine(buf);
    QByteArray line(buf, n);
    if (config.crlf)
        line.insert(line.size() - 1, '\r');

    const qint64 index = ++tally.replies;
    const bool hit = faultable(body);
    if (hit && dice.roll(config.dropReplies, "drop-reply", index)) {
        tally.faults[QStringLiteral("droppedReplies")]++;
        return;
    }
    const int comma = body.indexOf(',');
    const int pauseMs = hit && outgoing.pauseAllowed() ? pauseFor(index) : 0;
    const int delayMs = extraDelayMs + delayFor(comma < 0 ? body : body.left(comma)) + pauseMs;
    const int baud = stageBaud();
    outgoing.queue(line, baud, lineDoneUs, delayMs, pauseMs > 0);
    if (hit && dice.roll(config.dupReplies, "dup-reply", index)) {
        tally.faults[QStringLiteral("duplicatedReplies")]++;
        outgoing.queue(line, baud, lineDoneUs, delayMs, false);
    }
    if (hit && dice.roll(config.noise, "noise", index)) {
        tally.faults[QStringLiteral("noiseLines")]++;
        outgoing.queue(noiseLine(), baud, lineDoneUs, delayMs, false);
    }
}

void SimUnit::sendBare(const QByteArray &text)
{
    if (isSilent)
        return;
    outgoing.queue(text + (config.crlf ? "\r\n" : "\n"), stageBaud(), lineDoneUs, 0, false);
}

int SimUnit::delayFor(const QByteArray &word)
{
    int ms = 0;
    for (const SimDelayRule &rule : std::as_const(config.delays)) {
        if (rule.word != word)
            continue;
        const int n = ++delayCounters[rule.word];
        if (rule.everyNth <= 1 || n % rule.everyNth == 0) {
            ms += rule.ms;
            tally.faults[QStringLiteral("delayedReplies")]++;
        }
    }
    return ms;
}

// How long the unit pauses before this reply: mostly not at all.
int SimUnit::pauseFor(qint64 index)
{
    if (!dice.roll(config.pauseReplies, "pause", index))
        return 0;
    tally.faults[QStringLiteral("pausedReplies")]++;
    const int spread = std::max(0, config.pauseMaxMs - config.pauseMinMs);
    return std::max(1, config.pauseMinMs + dice.pick(spread + 1));
}

// A line the tool must ignore: an unknown lower-case word, or printable junk.
QByteArray SimUnit::noiseLine()
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789 ,.:;-_=+#";
    QByteArray text;
    const int length = 3 + dice.pick(30);
    for (int i = 0; i < length; ++i)
        text.append(letters[dice.pick(static_cast<int>(sizeof letters) - 1)]);
    if (dice.pick(2) == 0)
        text.prepend("$zq");
    return text + (config.crlf ? "\r\n" : "\n");
}

// --- scenario faults ----------------------------------------------------------

void SimUnit::unplug()
{
    if (currentStage == Stage::Unplugged)
        return;
    delete notifier;
    notifier = nullptr;
    pty.closeMaster();
    currentStage = Stage::Unplugged;
    isCaptured = false;
    announceTimer.stop();
    bootTimer.stop();
    outgoing.clear();
    tally.faults[QStringLiteral("unplugged")] = 1;
}

// Replies already on their way still arrive; nothing new leaves the unit.
void SimUnit::goSilent()
{
    if (isSilent)
        return;
    isSilent = true;
    silentAtCommand = tally.commandsTaken;
    announceTimer.stop();
}

// As after "$BOOTLOADM", the bootloader runs after restartMs and announces
// itself until "$G". Replies not yet sent are lost with the power. The flash
// keeps its bytes (a sector erased and not yet programmed stays erased), the
// images keep what arrived; the sector buffer, the erases and the image being
// received are gone, so the tool has to start them again.
void SimUnit::restart()
{
    ++restartsDone;
    currentStage = Stage::Restarting;
    isCaptured = false;
    announceTimer.stop();
    outgoing.restart();
    flashModel.restart();
    imageStore.restart();
    bootTimer.start(config.restartMs);
}

// --- counts for the report ------------------------------------------------------

QMap<QString, int> SimUnit::allProblems() const
{
    QMap<QString, int> all = tally.problems;
    for (const auto *part : { &flashModel.problems(), &imageStore.problems() }) {
        for (auto it = part->begin(); it != part->end(); ++it)
            all[it.key()] += it.value();
    }
    return all;
}

QMap<QString, int> SimUnit::allRepeats() const
{
    QMap<QString, int> all = tally.repeats;
    for (const auto *part : { &flashModel.repeats(), &imageStore.repeats() }) {
        for (auto it = part->begin(); it != part->end(); ++it)
            all[it.key()] += it.value();
    }
    return all;
}
