// zq-explore: runs the fault-schedule explorer over a range of seeds and
// prints every failing seed with its trace, then one line of totals that
// scripts/explore adds up over its parallel runs.
#include "Explorer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QTextStream>

#include <algorithm>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs jobs through the engine on a simulated faulty link, one per seed."));
    parser.addHelpOption();
    const QCommandLineOption first(QStringLiteral("first"), QStringLiteral("First seed."),
        QStringLiteral("seed"), QStringLiteral("1"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("Seeds to run."),
        QStringLiteral("n"), QStringLiteral("100"));
    const QCommandLineOption sectors(QStringLiteral("sectors"),
        QStringLiteral("Jobs of this many firmware sectors; 0: whole jobs."), QStringLiteral("n"),
        QStringLiteral("0"));
    const QCommandLineOption mode(QStringLiteral("mode"),
        QStringLiteral("Whole jobs of one mode: 0 firmware and images, 1 images, 2 erase "
                       "images; -1: drawn per seed."),
        QStringLiteral("mode"), QStringLiteral("-1"));
    const QCommandLineOption promise(QStringLiteral("promise"),
        QStringLiteral("Pauses within this many times the promise's bound; 0: no cap."),
        QStringLiteral("factor"), QStringLiteral("1"));
    const QCommandLineOption pauseMin(QStringLiteral("pause-min-ms"),
        QStringLiteral("Shortest pause drawn."), QStringLiteral("ms"), QStringLiteral("2"));
    const QCommandLineOption pauseMax(QStringLiteral("pause-max-ms"),
        QStringLiteral("Longest pause drawn."), QStringLiteral("ms"), QStringLiteral("3000"));
    const QCommandLineOption show(QStringLiteral("show"),
        QStringLiteral("Failing seeds printed with their trace."), QStringLiteral("n"),
        QStringLiteral("3"));
    const QCommandLineOption noPauses(QStringLiteral("no-pauses"),
        QStringLiteral("The unit never holds an answer back (a plain lossy link)."));
    const QCommandLineOption dispatch(QStringLiteral("dispatch"),
        QStringLiteral("Timers and reads after a busy spell: 0 any order, 1 timers first, 2 reads "
                       "first; -1: drawn per seed."),
        QStringLiteral("order"), QStringLiteral("-1"));
    const QCommandLineOption stalls(QStringLiteral("stalls"),
        QStringLiteral("Share of pauses in which the unit loses what reaches it (0 to 1)."),
        QStringLiteral("share"), QStringLiteral("0"));
    const QCommandLineOption readStops(QStringLiteral("read-stops"),
        QStringLiteral("Share of the other pauses after which the unit reads nothing for a while, "
                       "the tool's lines waiting in its receive buffer (0 to 1)."),
        QStringLiteral("share"), QStringLiteral("0"));
    const QCommandLineOption repeats(QStringLiteral("repeats"),
        QStringLiteral("Share of the unit's lines the link delivers twice (0 to 1; beyond the "
                       "promise)."),
        QStringLiteral("share"), QStringLiteral("0"));
    const QCommandLineOption scripted(QStringLiteral("scripted"),
        QStringLiteral("Runs the scripted schedules instead of seeds, with their traces."));
    parser.addOptions({ first, count, sectors, mode, promise, pauseMin, pauseMax, noPauses,
        dispatch, stalls, readStops, repeats, scripted, show });
    parser.process(app);
    QTextStream out(stdout);
    if (parser.isSet(scripted)) {
        ExploreSettings traced;
        traced.wholeTrace = parser.isSet(show);
        const Explorer explorer(traced);
        int failedCount = 0;
        for (const ScriptedSchedule &s : scriptedSchedules()) {
            const ExploreResult r = explorer.run(s);
            // A row within the promise gets through; one past it shows the
            // outcome it records, and really is past.
            const bool wrong = s.pastPromise
                ? !r.pastPromise() || r.holes != s.holes || r.updated != s.updated
                    || r.holdsPayload != s.holdsPayload
                : r.failed() || !r.updated || r.pastPromise();
            failedCount += wrong;
            const char *verdict = wrong ? "FAIL " : s.pastPromise ? "past " : "ok   ";
            out << verdict << s.name << ": "
                << (wrong || s.pastPromise || parser.isSet(show) ? r.report() : QString()) << "\n";
        }
        return failedCount > 0 ? 1 : 0;
    }

    ExploreSettings settings;
    settings.sectors = parser.value(sectors).toInt();
    settings.mode = parser.value(mode).toInt();
    settings.promiseFactor = parser.value(promise).toDouble();
    settings.pauseMinMs = parser.value(pauseMin).toDouble();
    settings.pauseMaxMs = parser.value(pauseMax).toDouble();
    settings.pauses = !parser.isSet(noPauses);
    settings.dispatch = parser.value(dispatch).toInt();
    settings.stallShare = parser.value(stalls).toDouble();
    settings.readStopShare = parser.value(readStops).toDouble();
    settings.repeatShare = parser.value(repeats).toDouble();
    const Explorer explorer(settings);

    qint64 jobs = 0, sectorCount = 0, updated = 0, falseUpdated = 0, holes = 0, unerased = 0,
           withoutEack = 0, neverEnded = 0, failed = 0, resends = 0, past = 0;
    double seconds = 0, longest = 0;
    const quint32 from = parser.value(first).toUInt();
    const quint32 n = parser.value(count).toUInt();
    int shown = parser.value(show).toInt();
    for (quint32 seed = from; seed < from + n; ++seed) {
        const ExploreResult r = explorer.run(seed);
        ++jobs;
        sectorCount += r.sectors;
        updated += r.updated;
        falseUpdated += r.falseUpdated();
        holes += r.holes;
        unerased += r.unerased;
        withoutEack += r.withoutOwnEack;
        neverEnded += !r.ended;
        resends += r.resends;
        past += r.pastPromise();
        seconds += r.seconds;
        longest = std::max(longest, r.seconds);
        if (r.failed()) {
            ++failed;
            if (shown-- > 0)
                out << r.report() << "\n";
            else
                out << "seed " << r.seed << " failed\n";
        }
    }
    out << "totals: jobs " << jobs << " sectors " << sectorCount << " updated " << updated
        << " not-updated " << jobs - updated - neverEnded << " false-updated " << falseUpdated
        << " holes " << holes << " unerased " << unerased << " without-own-eack " << withoutEack
        << " never-ended " << neverEnded << " failed " << failed << " past-promise " << past
        << " resends " << resends << " simulated-s " << qint64(seconds) << " longest-job-s "
        << qint64(longest) << "\n";
    return failed > 0 ? 1 : 0;
}
