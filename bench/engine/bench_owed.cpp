// What a long answer, shown once, costs the rest of a job. Whole firmware
// jobs (223 sectors of 64 "$D" lines) run through the engine against the
// explorer's unit and link on its simulated clock, each mix beside the same
// link without the held answers, and every job checked: it must end with the
// unit updated and holding exactly the firmware. Simulated seconds do not
// depend on the machine's load, so the figures repeat on any machine.
//
//   bench_owed [--seeds N] [--first SEED] [--only TEXT]
#include "Explorer.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr int kSectors = 223;
constexpr qint64 kFirstSector = 0xE0000 - kSectors * 0x1000;

// Answers held back on the first line of the first sectors, each within twice
// the longest answer shown before it (an answer is shown some 3 ms after its
// line's first copy at 1 ms latency): the port ends up having shown the last.
QVector<ScriptedFault> earlyHolds(int count)
{
    static const double holds[] = { 50, 106, 224, 460, 932, 1876, 3764 };
    QVector<ScriptedFault> out;
    for (int i = 0; i < count; ++i) {
        ScriptedFault f;
        f.what = ScriptedFault::HoldAnswer;
        f.command = "D,100,";
        f.sector = kFirstSector + i * 0x1000;
        f.copy = 1;
        f.ms = holds[i];
        out << f;
    }
    return out;
}

struct Mix {
    const char *name;
    const char *against; // the row it is compared with, or nullptr
    LinkFaults faults;
};

struct Row {
    double seconds = 0;
    double resends = 0;
    int wrong = 0; // jobs that did not end updated with the firmware in place
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Whole firmware jobs through the engine on a simulated link: what answers held back "
        "early cost the rest of the job."));
    parser.addHelpOption();
    const QCommandLineOption seedsOption(QStringLiteral("seeds"),
        QStringLiteral("Jobs per mix (seeds from --first)."), QStringLiteral("n"), QStringLiteral("5"));
    const QCommandLineOption firstOption(
        QStringLiteral("first"), QStringLiteral("First seed."), QStringLiteral("seed"), QStringLiteral("1"));
    const QCommandLineOption onlyOption(QStringLiteral("only"),
        QStringLiteral("Only the mixes whose name holds this text."), QStringLiteral("text"));
    parser.addOptions({ seedsOption, firstOption, onlyOption });
    parser.process(app);
    const QString only = parser.value(onlyOption);
    const int seeds = std::max(1, parser.value(seedsOption).toInt());
    const quint32 first = parser.value(firstOption).toUInt();

    LinkFaults clean; // 1 ms latency, nothing lost
    LinkFaults lossy = clean;
    lossy.lostToUnit = 0.02;
    lossy.lostToTool = 0.02;
    LinkFaults three = lossy;
    three.script = earlyHolds(3);
    LinkFaults seven = lossy;
    seven.script = earlyHolds(7);
    // One answer in 97 held back 100 ms; 2 % of the tool's lines lost.
    LinkFaults stalling = clean;
    stalling.pauseShare = 1.0 / 97;
    stalling.pauseMinMs = 100;
    stalling.pauseMaxMs = 100;
    stalling.lostToUnit = 0.02;
    // 1 % of the "$D" lines and their answers lost: half the lines dropped, half
    // garbled (the unit's checksum drops them), and 1 % of their answers lost.
    LinkFaults dataLoss = clean;
    dataLoss.dataLinesOnly = true;
    dataLoss.lostToUnit = 0.005;
    dataLoss.garbledToUnit = 0.005;
    dataLoss.lostToTool = 0.01;
    LinkFaults holdsOnly = clean;
    holdsOnly.pauseShare = stalling.pauseShare;
    holdsOnly.pauseMinMs = stalling.pauseMinMs;
    holdsOnly.pauseMaxMs = stalling.pauseMaxMs;

    const Mix all[] = {
        { "clean", nullptr, clean },
        { "1% of $D lines and answers lost", "clean", dataLoss },
        { "2% lost each way", "clean", lossy },
        { "2% lost each way, 3 early holds (50-224 ms)", "2% lost each way", three },
        { "2% lost each way, 7 early holds (50-3764 ms)", "2% lost each way", seven },
        { "1 answer in 97 held 100 ms", "clean", holdsOnly },
        { "1 answer in 97 held 100 ms, 2% lost to the unit", "clean", stalling },
    };

    ExploreSettings settings;
    settings.sectors = kSectors;
    const Explorer explorer(settings);
    std::printf("%d seeds from %u, %d sectors, simulated seconds (mean)\n\n", seeds, first, kSectors);
    std::printf("| mix | s | against | x | resends | wrong |\n|---|---:|---|---:|---:|---:|\n");
    QHash<QString, Row> rows;
    int wrong = 0;
    QVector<Mix> mixes;
    for (const Mix &m : all)
        if (only.isEmpty() || QString::fromLatin1(m.name).contains(only))
            mixes << m;
    for (const Mix &mix : mixes) {
        Row row;
        for (int i = 0; i < seeds; ++i) {
            const ExploreResult r = explorer.run(mix.faults, kSectors, first + i);
            row.seconds += r.seconds / seeds;
            row.resends += double(r.resends) / seeds;
            if (!r.ended || !r.updated || !r.holdsPayload || r.failed()) {
                ++row.wrong;
                std::fprintf(stderr, "%s: %s\n", mix.name, qPrintable(r.report()));
            }
        }
        rows.insert(QString::fromLatin1(mix.name), row);
        wrong += row.wrong;
        const QString against = QString::fromLatin1(mix.against ? mix.against : "");
        const QString ratio = rows.contains(against)
            ? QString::number(row.seconds / rows.value(against).seconds, 'f', 2)
            : QStringLiteral("-");
        std::printf("| %s | %.1f | %s | %s | %.0f | %d |\n", mix.name, row.seconds,
            mix.against ? mix.against : "-", qPrintable(ratio), row.resends, row.wrong);
        std::fflush(stdout);
    }
    return wrong == 0 ? 0 : 1;
}
