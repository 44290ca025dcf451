#include "Explorer.h"

#include "EventQueue.h"
#include "ExplorerHost.h"
#include "LinkUnit.h"
#include "ScheduleTrace.h"

#include "engine/Protocol.h"
#include "engine/Sequencer.h"

#include <QLoggingCategory>

#include <algorithm>

namespace {

constexpr int kEndAddress = 0xE0000;

ImageRecord image(int number, int width, int height)
{
    ImageRecord r;
    r.imageName = number;
    r.imageVersion = 1;
    r.width = width;
    r.height = height;
    r.pixels.resize(width * height * 2);
    for (int i = 0; i < r.pixels.size(); ++i)
        r.pixels[i] = static_cast<char>(number * 31 + i * 5);
    return r;
}

// The unit holds image r complete already.
void preload(ImageStore &store, const ImageRecord &r)
{
    store.header(r.imageName, r.imageVersion, r.width, r.height);
    for (int offset = 0, chunk = 0; offset < r.pixels.size();
         offset += ImageStore::kChunkSize, ++chunk)
        store.chunk(chunk, r.pixels.mid(offset, ImageStore::kChunkSize));
}

bool imagesHeld(const ImageStore &store, const QList<ImageRecord> &images)
{
    if (store.images().size() != images.size())
        return false;
    for (const ImageRecord &r : images) {
        const auto it = store.images().constFind(r.imageName);
        if (it == store.images().cend() || !it->complete() || it->bytes != r.pixels
            || it->version != r.imageVersion)
            return false;
    }
    return true;
}

} // namespace

Explorer::Explorer(const ExploreSettings &s)
    : settings(s)
    , firmware(kEndAddress, '\0')
    , images { image(1, 40, 30), image(2, 17, 9), image(3, 64, 2) }
{
    // Millions of lines: the engine's diagnostic log would cost more than the jobs.
    QLoggingCategory::setFilterRules(QStringLiteral("zq.*.debug=false"));
    for (int a = 0; a < firmware.size(); ++a)
        firmware[a] = static_cast<char>((a * 13 + (a >> 9) * 7 + 0x5A) & 0xFF);
}

ExploreResult Explorer::run(quint32 seed) const
{
    std::mt19937 dice(seed);
    const auto share
        = [&dice](double most) { return std::uniform_real_distribution<double>(0, most)(dice); };
    ExploreResult result;
    result.seed = seed;
    const int mode = settings.sectors > 0 ? 0
        : settings.mode >= 0              ? settings.mode
                                          : std::uniform_int_distribution<int>(0, 2)(dice);
    result.mode = static_cast<UpdateMode>(mode);
    LinkFaults faults;
    faults.lostToUnit = share(0.03);
    faults.garbledToUnit = share(0.01);
    faults.lostToTool = share(0.03);
    faults.garbledToTool = share(0.01);
    faults.pauseShare = share(settings.pauses ? 0.03 : 0);
    faults.pauseMinMs = settings.pauseMinMs;
    faults.pauseMaxMs = settings.pauseMaxMs;
    faults.promiseFactor = settings.promiseFactor;
    static const double latencies[] = { 1, 1, 2, 4, 16 };
    faults.latencyMs = latencies[std::uniform_int_distribution<int>(0, 4)(dice)];
    faults.splitShare = share(1);
    faults.startInBootloader = share(1) < 0.1;
    if (share(1) < 0.1)
        faults.restartAfter = std::uniform_int_distribution<int>(
            1, settings.sectors > 0 ? settings.sectors * 66 : 16000)(dice);

    const double busyShare = share(0.01);
    const bool preloadImage = result.mode == UpdateMode::DeleteImages || share(1) < 0.3;
    // Drawn from dice of their own: the seeds found before they were added
    // keep their schedules.
    std::mt19937 extra(seed ^ 0x5bd1e995u);
    faults.flipShare = settings.flipShare;
    faults.flipSeed = extra();
    faults.stallShare = settings.stallShare;
    faults.readStopShare = settings.readStopShare;
    faults.repeatShare = settings.repeatShare;
    const int dispatch
        = settings.dispatch >= 0 ? settings.dispatch : std::uniform_int_distribution<int>(0, 2)(extra);
    return execute(result, faults, busyShare, dispatch, preloadImage, dice);
}

ExploreResult Explorer::run(const ScriptedSchedule &schedule) const
{
    std::mt19937 dice(1);
    ExploreResult result;
    result.mode = schedule.sectors > 0 ? UpdateMode::FirmwareAndImages : schedule.mode;
    LinkFaults faults;
    faults.latencyMs = schedule.latencyMs;
    faults.script = schedule.faults;
    ExploreSettings s = settings;
    s.sectors = schedule.sectors;
    const Explorer scripted(s);
    return scripted.execute(
        result, faults, 0, schedule.dispatch, result.mode == UpdateMode::DeleteImages, dice);
}

ExploreResult Explorer::run(const LinkFaults &faults, int sectors, quint32 seed) const
{
    std::mt19937 dice(seed);
    ExploreResult result;
    result.seed = seed;
    result.mode = UpdateMode::FirmwareAndImages;
    ExploreSettings s = settings;
    s.sectors = sectors;
    const Explorer fixed(s);
    return fixed.execute(result, faults, 0, 0, false, dice);
}

ExploreResult Explorer::execute(ExploreResult result, const LinkFaults &faults, double busyShare,
    int dispatch, bool preloadImage, std::mt19937 &dice) const
{
    EventQueue clock;
    ScheduleTrace trace;
    LinkUnit unit(clock, dice, trace, faults);
    ExplorerHost host(clock, unit, trace, result.mode);
    host.busyShare = busyShare;
    host.dispatch = static_cast<ExplorerHost::Dispatch>(dispatch);
    unit.toTool = [&host](const QByteArray &bytes) { host.arrive(bytes); };
    unit.toolBaud = [&host] { return host.baud(); };
    unit.pcBusy = [&host](qint64 ns) { host.busyFor(ns); };

    const bool firmwareJob = result.mode == UpdateMode::FirmwareAndImages;
    const QList<ImageRecord> sent = settings.sectors > 0 || result.mode == UpdateMode::DeleteImages
        ? QList<ImageRecord>()
        : images;
    host.engine.inputs.firmware = firmware;
    host.engine.inputs.images = sent;
    if (preloadImage)
        preload(unit.images, images.at(1)); // "$IACK,1" for this one
    const int firstAddress
        = settings.sectors > 0 ? kEndAddress - settings.sectors * Protocol::kSectorSize : 0;
    result.profile = QStringLiteral("mode %1, lost %2%/%3%, garbled %4%/%5% (to unit/to tool), "
                                    "pauses %6%, latency %7 ms, cut reads %8%, busy %9%, "
                                    "restart after %10 commands, dispatch %11")
                         .arg(static_cast<int>(result.mode))
                         .arg(faults.lostToUnit * 100, 0, 'f', 2)
                         .arg(faults.lostToTool * 100, 0, 'f', 2)
                         .arg(faults.garbledToUnit * 100, 0, 'f', 2)
                         .arg(faults.garbledToTool * 100, 0, 'f', 2)
                         .arg(faults.pauseShare * 100, 0, 'f', 2)
                         .arg(faults.latencyMs)
                         .arg(faults.splitShare * 100, 0, 'f', 0)
                         .arg(busyShare * 100, 0, 'f', 2)
                         .arg(faults.restartAfter)
                         .arg(dispatch);

    // Far more than any job that ends needs: a job still running then never ends.
    const qint64 boundNs
        = (settings.sectors > 0 ? 600 + 60LL * settings.sectors : 14400) * 1000000000LL;
    if (firstAddress > 0)
        host.engine.inputs.firmwareFrom = firstAddress;
    host.start();
    while (!host.port.status.ended() && clock.now() < boundNs && clock.runNext()) { }

    result.ended = host.port.status.ended();
    result.updated = host.port.status.stage == UnitStatus::Updated
        || host.log.contains(QStringLiteral("Bootload Complete"));
    result.reason = host.port.status.reason;
    result.seconds = static_cast<double>(clock.now()) / 1e9;
    result.resends = host.port.timing.resends;
    result.sectors = unit.flash.sectorsProgrammed();
    result.holes = unit.holes;
    result.unerased = unit.unerased;
    result.withoutOwnEack = unit.withoutOwnEack;
    result.pastPromiseMs = static_cast<double>(unit.pastPromiseNs) / 1e6;
    const int from
        = firmwareJob ? (firstAddress > 0 ? firstAddress : FlashModel::kFirstAddress) : kEndAddress;
    result.holdsPayload = unit.flash.bytes().mid(from) == firmware.mid(from)
        && (settings.sectors > 0 || imagesHeld(unit.images, sent));
    result.trace = unit.firstFault;
    if (result.trace.isEmpty()) {
        result.trace = trace.lines();
        if (!settings.wholeTrace)
            result.trace = result.trace.mid(std::max(0, static_cast<int>(result.trace.size()) - 60));
    }
    return result;
}

QString ExploreResult::report() const
{
    QStringList what;
    if (!ended)
        what << QStringLiteral("never ended");
    if (falseUpdated())
        what << QStringLiteral("reported updated without holding what was sent");
    if (holes)
        what << QStringLiteral("%1 sectors programmed with a line missing").arg(holes);
    if (unerased)
        what << QStringLiteral("%1 sectors programmed unerased").arg(unerased);
    if (withoutOwnEack)
        what << QStringLiteral("%1 sectors programmed without their own $EACK").arg(withoutOwnEack);
    if (pastPromise())
        what << QStringLiteral("an answer came %1 ms past the round trip the promise covered")
                    .arg(pastPromiseMs, 0, 'f', 1);
    return QStringLiteral("seed %1: %2\n  %3; %4 s, %5 resends, %6\n  ")
               .arg(seed)
               .arg(what.join(QStringLiteral(", ")), profile)
               .arg(seconds, 0, 'f', 1)
               .arg(resends)
               .arg(updated ? QStringLiteral("updated") : QStringLiteral("not updated: ") + reason)
        + trace.join(QStringLiteral("\n  "));
}
