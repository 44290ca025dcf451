#include "SimUnit.h"

#include "FrameCheck.h"
#include "link/LineFrame.h"
#include "link/TextRoutines.h"

#include <utility>
#include <QJsonArray>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// A received line longer than this without a line feed is thrown away.
constexpr int kMaxLine = 4000;

bool isUpperHex(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    }
    return true;
}

QByteArray hex2(quint32 value)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(2, '0');
}

qint64 wireUs(int bytes, int baud)
{
    return baud > 0 ? static_cast<qint64>(bytes) * 10 * 1000000 / baud : 0;
}

QJsonObject toJson(const QMap<QString, int> &map)
{
    QJsonObject o;
    for (auto it = map.begin(); it != map.end(); ++it)
        o.insert(it.key(), it.value());
    return o;
}

} // namespace

SimUnit::SimUnit(const SimConfig &config, QObject *parent)
    : QObject(parent)
    , config(config)
    , dice(config.seed)
{
    clock.start();
    announceTimer.setInterval(config.announceMs);
    connect(&announceTimer, &QTimer::timeout, this, &SimUnit::announce);
    bootTimer.setSingleShot(true);
    connect(&bootTimer, &QTimer::timeout, this, &SimUnit::enterBootloader);
    sendTimer.setSingleShot(true);
    sendTimer.setTimerType(Qt::PreciseTimer);
    connect(&sendTimer, &QTimer::timeout, this, &SimUnit::flushDue);
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

// --- receiving --------------------------------------------------------------

void SimUnit::readFromTool()
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(pty.masterFd(), buf, sizeof buf);
        if (n <= 0)
            break;
        bytesFromTool += n;
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

void SimUnit::handleLine(const QByteArray &line)
{
    const qint64 index = ++linesFromTool;
    lineBytesFromTool += line.size();
    lastLineBytes = line.size();
    if (captureUs >= 0 && !exitSeen) {
        const qint64 now = nowUs();
        if (lastLineUs >= 0 && now - lastLineUs > kIdleGapUs)
            idleUs += now - lastLineUs;
        lastLineUs = now;
    }
    // The wire: with pacing the line has only fully arrived after its bytes'
    // time at the stage's speed.
    lineDoneUs = nowUs();
    if (config.pace) {
        rxWireFreeUs = std::max(lineDoneUs, rxWireFreeUs) + wireUs(line.size(), stageBaud());
        lineDoneUs = rxWireFreeUs;
    }

    const bool hit = faultable(line);
    if (hit && dice.roll(config.dropLines, "drop-line", index)) {
        faultCounts[QStringLiteral("droppedLines")]++;
        return;
    }
    // A line garbled on the wire fails its checksum; the unit drops it.
    if (hit && dice.roll(config.corruptLines, "corrupt-line", index)) {
        faultCounts[QStringLiteral("corruptedLines")]++;
        return;
    }
    // A silent unit still reads what arrives, and answers none of it.
    if (isSilent) {
        ignoredCounts[QStringLiteral("silent")]++;
        return;
    }
    if (currentStage == Stage::Restarting) {
        ignoredCounts[QStringLiteral("restarting")]++;
        return;
    }

    const int baud = toolBaud();
    speedsSeen[stageName(currentStage)].insert(baud);
    if (baud != stageBaud()) {
        // At the wrong speed the UART sees garbage.
        ++wrongSpeedLines;
        return;
    }

    QByteArray body;
    const FrameCheck::Result frame = FrameCheck::check(line, body);
    const bool rawG = frame == FrameCheck::Raw && body == "G";
    if (frame != FrameCheck::Framed && !rawG) {
        count(FrameCheck::problemName(frame));
        return;
    }
    QList<QByteArray> fields = body.split(',');
    const QByteArray word = fields.takeFirst();
    if (loseOnPurpose(word, fields))
        return;

    // What the firmware or the bootloader doesn't know in its present state
    // goes by unanswered.
    const bool running = currentStage == Stage::Running;
    if (running && word != "MVER" && word != "BOOTLOADM") {
        ignoredCounts[QStringLiteral("running")]++;
        return;
    }
    if (!running && (word == "MVER" || word == "BOOTLOADM")) {
        ignoredCounts[QStringLiteral("bootloader")]++;
        return;
    }
    if (!running && !isCaptured && word != "G") {
        ignoredCounts[QStringLiteral("uncaptured")]++;
        return;
    }

    commandCounts[QString::fromLatin1(word)]++;
    ++commandsTaken;
    if (running)
        handleRunning(word);
    else
        handleBootloader(word, fields);

    // The scenario faults that come after a number of commands.
    if (config.unplugAfter > 0 && commandsTaken >= config.unplugAfter)
        unplug();
    else if (config.silentAfter > 0 && commandsTaken >= config.silentAfter)
        goSilent();
    else if (config.restartAfter > 0 && restartsDone < config.restartTimes
        && commandsTaken - restartCountFrom >= config.restartAfter)
        restart();
}

bool SimUnit::loseOnPurpose(const QByteArray &word, const QList<QByteArray> &fields)
{
    if (currentStage != Stage::Bootloader)
        return false;
    if (word == "G" && config.loseFirstG && !lostG) {
        lostG = true;
        faultCounts[QStringLiteral("lostG")]++;
        return true;
    }
    if (word == "E" && config.loseFirstEraseAt >= 0 && !lostErase && !fields.isEmpty()
        && HexToInt(fields.at(0).constData()) == config.loseFirstEraseAt) {
        lostErase = true;
        faultCounts[QStringLiteral("lostE")]++;
        return true;
    }
    return false;
}

void SimUnit::handleRunning(const QByteArray &word)
{
    if (exitSeen && config.noStart) {
        faultCounts[QStringLiteral("notStarted")]++;
        return;
    }
    if (word == "MVER") {
        if (exitSeen) {
            reply("MVERR," + runningVersion().toLatin1());
            return;
        }
        if (firstVersionQueryUs < 0)
            firstVersionQueryUs = nowUs();
        reach(Version);
        reply("MVERR," + config.versionText.toLatin1());
        return;
    }
    // "$BOOTLOADM": the firmware restarts into the bootloader.
    if (config.ignoreBootloadm) {
        faultCounts[QStringLiteral("ignoredBootloadm")]++;
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

void SimUnit::handleBootloader(const QByteArray &word, const QList<QByteArray> &fields)
{
    if (captureUs < 0 && word == "G") {
        // This line is the first one of the bootloader part.
        captureUs = lastLineUs = nowUs();
        linesAtCapture = linesFromTool - 1;
        bytesAtCapture = lineBytesFromTool - lastLineBytes;
        if (isCaptured) { // captured since it started: this "$G" is no repeat
            reach(Captured);
            reply("GACK");
            return;
        }
    }
    if (!isCaptured) {
        isCaptured = true;
        // After a restart the next one counts the commands from this "$G" on.
        if (restartsDone > 0)
            restartCountFrom = commandsTaken;
        announceTimer.stop();
        reach(Captured);
        reply("GACK");
        return;
    }

    if (word == "G") {
        repeatCounts[QStringLiteral("G")]++;
        reply("GACK");
    } else if (word == "E") {
        if (!needFields(fields, 2))
            return;
        flashModel.erase(number(fields.at(0), 1), number(fields.at(1), 1));
        reach(Firmware);
        reply("EACK");
    } else if (word == "D") {
        if (!needFields(fields, 1 + FlashModel::kLineSize))
            return;
        flashModel.storeLine(number(fields.at(0), 1), dataBytes(fields, 1));
        reply("DACK");
    } else if (word == "P") {
        if (!needFields(fields, 2))
            return;
        flashModel.program(number(fields.at(0), 1), number(fields.at(1), 1));
        reach(Firmware);
        reply("PACK");
    } else if (word == "A") {
        if (fields.value(0) != "1")
            count("eraseArgument");
        imageStore.clear();
        reach(Images);
        reply("AACK,0");
        // A restart in the meantime ends the erase unanswered.
        QTimer::singleShot(config.eraseMs, this, [this, restartsThen = restartsDone] {
            if (currentStage == Stage::Bootloader && isCaptured && restartsDone == restartsThen)
                reply("AACK,1");
        });
    } else if (word == "I") {
        if (!needFields(fields, 4))
            return;
        const int name = static_cast<int>(number(fields.at(0), 2));
        const int version = static_cast<int>(number(fields.at(1), 2));
        const int width = static_cast<int>(number(fields.at(2), 2));
        const int height = static_cast<int>(number(fields.at(3), 2));
        reach(Images);
        reply(imageStore.header(name, version, width, height) ? "IACK,1" : "IACK,0");
    } else if (word == "F") {
        if (!needFields(fields, 2))
            return;
        const quint32 chunk = number(fields.at(0), 2);
        if (imageStore.chunk(static_cast<int>(chunk), dataBytes(fields, 1)) != ImageStore::NoImage)
            reply("FACK," + hex2(chunk) + ",0");
    } else if (word == "X") {
        if (!exitSeen) {
            linesAtExit = linesFromTool;
            bytesAtExit = lineBytesFromTool;
        }
        exitSeen = true;
        exitUs = nowUs();
        reach(Exit);
        // The new firmware starts.
        currentStage = Stage::Running;
        isCaptured = false;
        emit finished();
    } else {
        count("unknownCommand");
    }
}

// Reads a number field written "%X" (minDigits 1) or "%02X" (minDigits 2). A
// field in another form (lower case, extra leading zeros) is counted, and read
// all the same, as the unit's own parser would.
quint32 SimUnit::number(const QByteArray &field, int minDigits)
{
    const bool form = isUpperHex(field) && field.size() >= minDigits
        && (field.size() == minDigits || field.at(0) != '0');
    if (!form)
        count("numberForm");
    return HexToInt(field.constData());
}

QByteArray SimUnit::dataBytes(const QList<QByteArray> &fields, int first)
{
    QByteArray bytes;
    bytes.reserve(fields.size() - first);
    for (int i = first; i < fields.size(); ++i) {
        const QByteArray &f = fields.at(i);
        if (f.size() != 2 || !isUpperHex(f))
            count("numberForm");
        bytes.append(static_cast<char>(HexToInt(f.constData()) & 0xFF));
    }
    return bytes;
}

bool SimUnit::needFields(const QList<QByteArray> &fields, int n)
{
    if (fields.size() >= n)
        return true;
    count("fieldCount");
    return false;
}

// --- sending ----------------------------------------------------------------

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

    const qint64 index = ++replies;
    const bool hit = faultable(body);
    if (hit && dice.roll(config.dropReplies, "drop-reply", index)) {
        faultCounts[QStringLiteral("droppedReplies")]++;
        return;
    }
    const int comma = body.indexOf(',');
    // One pause at a time: none while replies still wait behind one.
    const int pauseMs = hit && (pauseEndUs < 0 || pending.empty()) ? pauseFor(index) : 0;
    const int delayMs = extraDelayMs + delayFor(comma < 0 ? body : body.left(comma)) + pauseMs;
    queue(line, delayMs, pauseMs > 0);
    if (hit && dice.roll(config.dupReplies, "dup-reply", index)) {
        faultCounts[QStringLiteral("duplicatedReplies")]++;
        queue(line, delayMs);
    }
    if (hit && dice.roll(config.noise, "noise", index)) {
        faultCounts[QStringLiteral("noiseLines")]++;
        queue(noiseLine(), delayMs);
    }
}

void SimUnit::sendBare(const QByteArray &text)
{
    if (isSilent)
        return;
    queue(text + (config.crlf ? "\r\n" : "\n"), 0);
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
            faultCounts[QStringLiteral("delayedReplies")]++;
        }
    }
    return ms;
}

// How long the unit pauses before this reply: mostly not at all.
int SimUnit::pauseFor(qint64 index)
{
    if (!dice.roll(config.pauseReplies, "pause", index))
        return 0;
    faultCounts[QStringLiteral("pausedReplies")]++;
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

void SimUnit::queue(const QByteArray &bytes, int delayMs, bool pause)
{
    const qint64 now = nowUs();
    const int baud = stageBaud();
    qint64 due = std::max(now, lineDoneUs) + static_cast<qint64>(config.latencyMs * 1000);
    if (config.jitterMs > 0)
        due += dice.pick(static_cast<int>(config.jitterMs * 1000) + 1);
    if (config.pace) {
        due = std::max(due, txWireFreeUs) + wireUs(bytes.size(), baud);
        txWireFreeUs = due;
    }
    due += static_cast<qint64>(delayMs) * 1000;
    // Behind a pause every line goes out in a write of its own, at least a
    // millisecond after the one before (an adapter with its latency timer at
    // 1 ms hands them over a USB packet a millisecond), so the tool reads
    // them one by one, not all in one read.
    qint64 gapUs = 0;
    if (pauseEndUs >= 0 && !pause) {
        const qint64 next = lastQueuedUs + std::max<qint64>(1000, wireUs(bytes.size(), baud));
        if (due >= next) {
            pauseEndUs = -1; // this line comes after the pause's tail anyway
        } else {
            due = next;
            gapUs = next - lastQueuedUs;
        }
    }
    // A serial line keeps order: a reply held back holds back those after it.
    due = std::max(due, lastQueuedUs);
    lastQueuedUs = due;
    if (pause)
        pauseEndUs = due;

    const Outgoing out { due, bytes, baud, gapUs };
    if (due <= now && pending.empty() && (lastWriteUs < 0 || now >= lastWriteUs + gapUs)) {
        deliver(out);
        return;
    }
    auto at = std::upper_bound(pending.begin(), pending.end(), due,
        [](qint64 d, const Outgoing &o) { return d < o.dueUs; });
    pending.insert(at, out);
    flushDue();
}

void SimUnit::flushDue()
{
    // Lines due within half a millisecond go now: the timer counts in whole ones.
    // A line that must keep its gap to the one before keeps it even when this
    // program ran late.
    const qint64 now = nowUs();
    qint64 gapDueUs = -1;
    while (!pending.empty() && pending.front().dueUs <= now + 500) {
        const Outgoing out = pending.front();
        if (out.gapUs > 0 && lastWriteUs >= 0 && now < lastWriteUs + out.gapUs) {
            gapDueUs = lastWriteUs + out.gapUs;
            break;
        }
        pending.pop_front();
        deliver(out);
    }
    if (!pending.empty()) {
        const qint64 waitUs = std::max(pending.front().dueUs, gapDueUs) - now;
        sendTimer.start(static_cast<int>((waitUs + 500) / 1000));
    }
}

void SimUnit::deliver(const Outgoing &out)
{
    if (currentStage == Stage::Unplugged)
        return;
    checkToolSpeed();
    if (toolBaud() != out.baud) {
        ++linesNotDelivered;
        return;
    }
    lastWriteUs = nowUs();
    const ssize_t n
        = ::write(pty.masterFd(), out.bytes.constData(), static_cast<size_t>(out.bytes.size()));
    const qint64 written = n > 0 ? n : 0;
    bytesToTool += written;
    bytesLost += out.bytes.size() - written;
    ++linesToTool;
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
    sendTimer.stop();
    pending.clear();
    faultCounts[QStringLiteral("unplugged")] = 1;
}

// Replies already on their way still arrive; nothing new leaves the unit.
void SimUnit::goSilent()
{
    if (isSilent)
        return;
    isSilent = true;
    silentAtCommand = commandsTaken;
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
    sendTimer.stop();
    pending.clear();
    txWireFreeUs = 0;
    pauseEndUs = -1;
    flashModel.restart();
    imageStore.restart();
    bootTimer.start(config.restartMs);
}

// --- report -----------------------------------------------------------------

QMap<QString, int> SimUnit::allProblems() const
{
    QMap<QString, int> all = problemCounts;
    for (const auto *part : { &flashModel.problems(), &imageStore.problems() }) {
        for (auto it = part->begin(); it != part->end(); ++it)
            all[it.key()] += it.value();
    }
    return all;
}

QMap<QString, int> SimUnit::allRepeats() const
{
    QMap<QString, int> all = repeatCounts;
    for (const auto *part : { &flashModel.repeats(), &imageStore.repeats() }) {
        for (auto it = part->begin(); it != part->end(); ++it)
            all[it.key()] += it.value();
    }
    return all;
}

QJsonObject SimUnit::report() const
{
    static const char *const milestones[]
        = { "none", "version", "bootloader", "captured", "firmware", "images", "exit" };
    QJsonObject r;
    r.insert(QStringLiteral("path"), path());
    r.insert(QStringLiteral("versionText"), config.versionText);
    r.insert(QStringLiteral("stage"), stageName(currentStage));
    r.insert(QStringLiteral("captured"), isCaptured);
    r.insert(QStringLiteral("stageReached"), QLatin1String(milestones[milestone]));
    r.insert(QStringLiteral("exitReceived"), exitSeen);
    r.insert(QStringLiteral("silent"), isSilent);
    r.insert(
        QStringLiteral("silentAtCommand"), isSilent ? QJsonValue(silentAtCommand) : QJsonValue());
    r.insert(QStringLiteral("restarts"), restartsDone);
    r.insert(QStringLiteral("secondsToExit"),
        firstVersionQueryUs >= 0 && exitUs >= 0 ? QJsonValue((exitUs - firstVersionQueryUs) / 1e6)
                                                : QJsonValue());

    // The bootloader part of the job, "$G" to "$X", both lines counted.
    if (captureUs >= 0 && exitUs >= 0) {
        r.insert(QStringLiteral("captureToExit"),
            QJsonObject { { QStringLiteral("seconds"), (exitUs - captureUs) / 1e6 },
                { QStringLiteral("lines"), linesAtExit - linesAtCapture },
                { QStringLiteral("bytes"), bytesAtExit - bytesAtCapture },
                { QStringLiteral("idleSeconds"), idleUs / 1e6 } });
    }

    QJsonObject flash = expectation.hasFirmware
        ? flashModel.compare(expectation.firmware)
        : QJsonObject { { QStringLiteral("compared"), false } };
    flash.insert(QStringLiteral("sectorsProgrammed"), flashModel.sectorsProgrammed());
    r.insert(QStringLiteral("flash"), flash);
    r.insert(QStringLiteral("images"), imageStore.report(expectation));
    r.insert(QStringLiteral("imagesEqual"),
        expectation.hasImages ? QJsonValue(imageStore.allEqual(expectation)) : QJsonValue());

    r.insert(QStringLiteral("commands"), toJson(commandCounts));
    r.insert(QStringLiteral("repeats"), toJson(allRepeats()));
    const QMap<QString, int> problems = allProblems();
    int problemTotal = 0;
    for (int n : problems)
        problemTotal += n;
    r.insert(QStringLiteral("problems"), toJson(problems));
    r.insert(QStringLiteral("problemCount"), problemTotal);
    r.insert(QStringLiteral("ignored"), toJson(ignoredCounts));

    QJsonObject speeds;
    for (auto it = speedsSeen.begin(); it != speedsSeen.end(); ++it) {
        QList<int> list = it.value().values();
        std::sort(list.begin(), list.end());
        QJsonArray a;
        for (int b : list)
            a.append(b);
        speeds.insert(it.key(), a);
    }
    r.insert(QStringLiteral("speeds"), speeds);
    r.insert(QStringLiteral("linesAtWrongSpeed"), wrongSpeedLines);

    r.insert(QStringLiteral("lines"),
        QJsonObject { { QStringLiteral("fromTool"), linesFromTool },
            { QStringLiteral("toTool"), linesToTool },
            { QStringLiteral("notDelivered"), linesNotDelivered } });
    r.insert(QStringLiteral("bytes"),
        QJsonObject { { QStringLiteral("fromTool"), bytesFromTool },
            { QStringLiteral("toTool"), bytesToTool }, { QStringLiteral("lost"), bytesLost } });
    QJsonObject faults = toJson(faultCounts);
    faults.insert(QStringLiteral("seed"), static_cast<qint64>(config.seed));
    faults.insert(QStringLiteral("digest"), QString::number(dice.digest(), 16));
    r.insert(QStringLiteral("faults"), faults);
    return r;
}
