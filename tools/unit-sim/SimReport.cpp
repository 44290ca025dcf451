#include "SimReport.h"

#include "SimUnit.h"

#include <QJsonArray>
#include <algorithm>

namespace {

QJsonObject toJson(const QMap<QString, int> &map)
{
    QJsonObject o;
    for (auto it = map.begin(); it != map.end(); ++it)
        o.insert(it.key(), it.value());
    return o;
}

} // namespace

QJsonObject SimReport::of(const SimUnit &unit)
{
    QJsonObject r;
    addStage(r, unit);
    addPayload(r, unit);
    addCounts(r, unit);
    addTraffic(r, unit);
    return r;
}

// Where the unit is, how far its job got and how long it took.
void SimReport::addStage(QJsonObject &r, const SimUnit &unit)
{
    static const char *const milestones[]
        = { "none", "version", "bootloader", "captured", "firmware", "images", "exit" };
    const SimTally &t = unit.tally;
    r.insert(QStringLiteral("path"), unit.path());
    r.insert(QStringLiteral("versionText"), unit.config.versionText);
    r.insert(QStringLiteral("stage"), SimUnit::stageName(unit.currentStage));
    r.insert(QStringLiteral("captured"), unit.isCaptured);
    r.insert(QStringLiteral("stageReached"), QLatin1String(milestones[unit.milestone]));
    r.insert(QStringLiteral("exitReceived"), unit.exitSeen);
    r.insert(QStringLiteral("silent"), unit.isSilent);
    r.insert(QStringLiteral("silentAtCommand"),
        unit.isSilent ? QJsonValue(unit.silentAtCommand) : QJsonValue());
    r.insert(QStringLiteral("restarts"), unit.restartsDone);
    r.insert(QStringLiteral("secondsToExit"),
        t.firstVersionQueryUs >= 0 && t.exitUs >= 0
            ? QJsonValue((t.exitUs - t.firstVersionQueryUs) / 1e6)
            : QJsonValue());

    // The bootloader part of the job, "$G" to "$X", both lines counted.
    if (t.captureUs >= 0 && t.exitUs >= 0) {
        r.insert(QStringLiteral("captureToExit"),
            QJsonObject { { QStringLiteral("seconds"), (t.exitUs - t.captureUs) / 1e6 },
                { QStringLiteral("lines"), t.linesAtExit - t.linesAtCapture },
                { QStringLiteral("bytes"), t.bytesAtExit - t.bytesAtCapture },
                { QStringLiteral("idleSeconds"), t.idleUs / 1e6 } });
    }
}

// The flash and the images, against the payload when there is one.
void SimReport::addPayload(QJsonObject &r, const SimUnit &unit)
{
    const SimExpectation &expected = unit.expectation;
    QJsonObject flash = expected.hasFirmware
        ? unit.flashModel.compare(expected.firmware)
        : QJsonObject { { QStringLiteral("compared"), false } };
    flash.insert(QStringLiteral("sectorsProgrammed"), unit.flashModel.sectorsProgrammed());
    r.insert(QStringLiteral("flash"), flash);
    r.insert(QStringLiteral("images"), unit.imageStore.report(expected));
    r.insert(QStringLiteral("imagesEqual"),
        expected.hasImages ? QJsonValue(unit.imageStore.allEqual(expected)) : QJsonValue());
}

// Commands, repeats, problems and lines the unit ignored.
void SimReport::addCounts(QJsonObject &r, const SimUnit &unit)
{
    r.insert(QStringLiteral("commands"), toJson(unit.tally.commands));
    r.insert(QStringLiteral("repeats"), toJson(unit.allRepeats()));
    const QMap<QString, int> problems = unit.allProblems();
    int problemTotal = 0;
    for (int n : problems)
        problemTotal += n;
    r.insert(QStringLiteral("problems"), toJson(problems));
    r.insert(QStringLiteral("problemCount"), problemTotal);
    r.insert(QStringLiteral("ignored"), toJson(unit.tally.ignored));
}

// Speeds, lines and bytes both ways, and the faults injected with the dice
// that decided them.
void SimReport::addTraffic(QJsonObject &r, const SimUnit &unit)
{
    const SimTally &t = unit.tally;
    QJsonObject speeds;
    for (auto it = t.speedsSeen.begin(); it != t.speedsSeen.end(); ++it) {
        QList<int> list = it.value().values();
        std::sort(list.begin(), list.end());
        QJsonArray a;
        for (int b : list)
            a.append(b);
        speeds.insert(it.key(), a);
    }
    r.insert(QStringLiteral("speeds"), speeds);
    r.insert(QStringLiteral("linesAtWrongSpeed"), t.wrongSpeedLines);

    const SimReplyQueue &out = unit.outgoing;
    r.insert(QStringLiteral("lines"),
        QJsonObject { { QStringLiteral("fromTool"), t.linesFromTool },
            { QStringLiteral("toTool"), out.linesWritten() },
            { QStringLiteral("notDelivered"), out.linesNotDelivered() } });
    r.insert(QStringLiteral("bytes"),
        QJsonObject { { QStringLiteral("fromTool"), t.bytesFromTool },
            { QStringLiteral("toTool"), out.bytesWritten() },
            { QStringLiteral("lost"), out.bytesNotTaken() } });
    QJsonObject faults = toJson(t.faults);
    faults.insert(QStringLiteral("seed"), static_cast<qint64>(unit.config.seed));
    faults.insert(QStringLiteral("digest"), QString::number(unit.dice.digest(), 16));
    r.insert(QStringLiteral("faults"), faults);
}
