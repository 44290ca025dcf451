// The simulated unit's bootloader: the capture, then one handler per command
// word, found in a table.
#include "SimUnit.h"

#include "SimFields.h"

namespace {

QByteArray hex2(quint32 value)
{
    return QByteArray::number(value, 16).toUpper().rightJustified(2, '0');
}

} // namespace

void SimUnit::handleBootloader(const QByteArray &word, const QList<QByteArray> &fields)
{
    if (capture(word))
        return;
    using Handler = void (SimUnit::*)(SimFields &);
    static const struct {
        const char *word;
        Handler handler;
    } handlers[] = {
        { "G", &SimUnit::repeatedCapture },
        { "E", &SimUnit::eraseSector },
        { "D", &SimUnit::storeData },
        { "P", &SimUnit::programSector },
        { "A", &SimUnit::eraseImages },
        { "I", &SimUnit::imageHeader },
        { "F", &SimUnit::imageChunk },
        { "X", &SimUnit::exitBootloader },
    };
    SimFields read(fields, tally.problems);
    for (const auto &h : handlers) {
        if (word == h.word) {
            (this->*h.handler)(read);
            return;
        }
    }
    count("unknownCommand");
}

// The "$G" that captures the unit; true when this line was it.
bool SimUnit::capture(const QByteArray &word)
{
    if (tally.captureUs < 0 && word == "G") {
        // This line is the first one of the bootloader part.
        tally.captureUs = tally.lastLineUs = nowUs();
        tally.linesAtCapture = tally.linesFromTool - 1;
        tally.bytesAtCapture = tally.lineBytesFromTool - tally.lastLineBytes;
        if (isCaptured) { // captured since it started: this "$G" is no repeat
            reach(Captured);
            reply("GACK");
            return true;
        }
    }
    if (isCaptured)
        return false;
    isCaptured = true;
    // After a restart the next one counts the commands from this "$G" on.
    if (restartsDone > 0)
        restartCountFrom = tally.commandsTaken;
    announceTimer.stop();
    reach(Captured);
    reply("GACK");
    return true;
}

void SimUnit::repeatedCapture(SimFields &)
{
    tally.repeats[QStringLiteral("G")]++;
    reply("GACK");
}

void SimUnit::eraseSector(SimFields &fields)
{
    if (!fields.need(2))
        return;
    flashModel.erase(fields.number(0, 1), fields.number(1, 1));
    reach(Firmware);
    reply("EACK");
}

void SimUnit::storeData(SimFields &fields)
{
    if (!fields.need(1 + FlashModel::kLineSize))
        return;
    flashModel.storeLine(fields.number(0, 1), fields.bytes(1));
    reply("DACK");
}

void SimUnit::programSector(SimFields &fields)
{
    if (!fields.need(2))
        return;
    flashModel.program(fields.number(0, 1), fields.number(1, 1));
    reach(Firmware);
    reply("PACK");
}

void SimUnit::eraseImages(SimFields &fields)
{
    if (fields.text(0) != "1")
        count("eraseArgument");
    imageStore.clear();
    reach(Images);
    reply("AACK,0");
    // A restart in the meantime ends the erase unanswered.
    QTimer::singleShot(config.eraseMs, this, [this, restartsThen = restartsDone] {
        if (currentStage == Stage::Bootloader && isCaptured && restartsDone == restartsThen)
            reply("AACK,1");
    });
}

void SimUnit::imageHeader(SimFields &fields)
{
    if (!fields.need(4))
        return;
    const int name = static_cast<int>(fields.number(0, 2));
    const int version = static_cast<int>(fields.number(1, 2));
    const int width = static_cast<int>(fields.number(2, 2));
    const int height = static_cast<int>(fields.number(3, 2));
    reach(Images);
    reply(imageStore.header(name, version, width, height) ? "IACK,1" : "IACK,0");
}

void SimUnit::imageChunk(SimFields &fields)
{
    if (!fields.need(2))
        return;
    const quint32 chunk = fields.number(0, 2);
    if (imageStore.chunk(static_cast<int>(chunk), fields.bytes(1)) != ImageStore::NoImage)
        reply("FACK," + hex2(chunk) + ",0");
}

// "$X": the new firmware starts.
void SimUnit::exitBootloader(SimFields &)
{
    if (!exitSeen) {
        tally.linesAtExit = tally.linesFromTool;
        tally.bytesAtExit = tally.lineBytesFromTool;
    }
    exitSeen = true;
    tally.exitUs = nowUs();
    reach(Exit);
    currentStage = Stage::Running;
    isCaptured = false;
    emit finished();
}
