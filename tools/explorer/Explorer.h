#pragma once
// Runs one unit's job per seed through the engine on the explorer's link and
// unit, with faults drawn from the seed, and checks what the job claims: a
// unit reported updated holds exactly what was sent, no "$P" programs a sector
// with a line missing, unerased or without its own "$EACK", and the job ends
// within a bound of simulated time. The same seed gives the same run.
#include "LinkUnit.h"

#include "payload/ImageRecord.h"
#include "payload/UpdateMode.h"

#include <QByteArray>
#include <QList>
#include <QStringList>

struct ExploreSettings {
    int mode = -1; // an UpdateMode's number, or -1: drawn from the seed
    // Above 0: a firmware job of that many sectors (the last ones), no images.
    int sectors = 0;
    // Pauses and busy spells within promiseFactor times the promise's bound; 0: no cap.
    double promiseFactor = 1;
    double pauseMinMs = 2;
    double pauseMaxMs = 3000;
    bool pauses = true; // false: the unit never holds an answer back
    // The order of timers and reads after a busy spell (ExplorerHost::Dispatch);
    // -1: drawn per seed, from dice of its own.
    int dispatch = -1;
    double stallShare = 0; // share of pauses in which the unit loses what reaches it
    // Share of the other pauses after which the unit reads nothing for a while
    // more, what reaches it waiting in its receive buffer.
    double readStopShare = 0;
    double flipShare = 0.5; // share of garbled replies that keep their frame, one bit changed
    double repeatShare = 0; // share of the unit's lines delivered twice (beyond the promise)
    bool wholeTrace = false; // a run's report keeps the whole trace (its last 600 events)
};

// A short schedule written out by hand: a job on an otherwise faultless link
// (the given latency) with these faults at these copies. Every schedule that
// broke the engine once is one (ScriptedSchedules.cpp).
struct ScriptedSchedule {
    QString name;
    int sectors = 8; // above 0: a firmware job of that many sectors; 0: a whole job of mode
    UpdateMode mode = UpdateMode::FirmwareAndImages;
    double latencyMs = 1;
    int dispatch = 0; // ExplorerHost::Dispatch
    QVector<ScriptedFault> faults;
    // Past the promise: an answer comes later after its copy left the tool
    // than the round trip the promise covered. The row shows what then
    // happens: sectors programmed with a hole (and written again or not),
    // the job ending "updated", and the unit holding what was sent or not.
    bool pastPromise = false;
    int holes = 0;
    bool updated = true;
    bool holdsPayload = true;
};
QVector<ScriptedSchedule> scriptedSchedules();

struct ExploreResult {
    quint32 seed = 0;
    UpdateMode mode = UpdateMode::FirmwareAndImages;
    int sectors = 0; // sectors programmed
    bool ended = false;
    bool updated = false; // reported updated ("Bootload Complete")
    bool holdsPayload = false; // the unit holds what the job was to write
    int holes = 0;
    int unerased = 0;
    int withoutOwnEack = 0;
    // The most a "$DACK" came later after its copy left the tool than the
    // round trip the promise covered then (0: just as it ended); -1: every
    // one came within it.
    double pastPromiseMs = -1;
    double seconds = 0; // simulated time to the job's end
    int resends = 0;
    QString reason; // why the unit was not updated
    QString profile; // the faults drawn
    QStringList trace; // the schedule around the first fault, or its end

    bool falseUpdated() const
    {
        return updated && !holdsPayload;
    }
    bool pastPromise() const
    {
        return pastPromiseMs >= 0;
    }
    bool failed() const
    {
        return !ended || falseUpdated() || holes || unerased || withoutOwnEack;
    }
    // The seed, what failed and the trace, for a failing run.
    QString report() const;
};

class Explorer
{
public:
    explicit Explorer(const ExploreSettings &settings);
    ExploreResult run(quint32 seed) const;
    ExploreResult run(const ScriptedSchedule &schedule) const;
    // A firmware job of sectors sectors on a link with exactly these faults
    // (a bench's fixed mix, its script included), the dice drawn from seed.
    ExploreResult run(const LinkFaults &faults, int sectors, quint32 seed) const;

private:
    // The job of result.mode on a link with these faults; the other fields of
    // result are filled in.
    ExploreResult execute(ExploreResult result, const LinkFaults &faults, double busyShare,
        int dispatch, bool preloadImage, std::mt19937 &dice) const;

    ExploreSettings settings;
    QByteArray firmware;
    QList<ImageRecord> images;
};
