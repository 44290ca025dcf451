// Fuzz target: the receive path. The first 16 input bytes put one port's job
// record into a state the sequencer can reach (any job state, the version
// confirmation after "$X" included, any firmware or image step, a handful of
// images); the rest is the byte stream the unit sends.
// Each byte goes through line assembly (AppendRxByte into rxLine/rxLength) and
// every completed line through the engine's line handling: reply recognition
// (GetField), the field readers (HexToInt) and the sequencer's reactions. In
// the stream, ESC (0x1B) followed by n runs (n & 3) timer steps of the job,
// or is one literal ESC when n is ESC too. After every byte the record must
// pass JobInvariants; a violation aborts, which libFuzzer reports.
#include "JobInvariants.h"
#include "link/LineAssembler.h"
#include "link/TextRoutines.h"
#include "engine/JobHost.h"
#include "engine/UnitJob.h"
#include "engine/Sequencer.h"
#include "engine/Timeouts.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr std::size_t kHeaderBytes = 16;
constexpr char kEscape = 0x1B;
constexpr int kFirst = 0x1000;
constexpr int kEnd = 0xE0000;

// A front end that shows nothing, and the unit's link, never open: what the
// job writes goes nowhere.
class NullHost : public JobHost, public UnitLink
{
public:
    void sendLine(UnitJob *p, char *text) override { Protocol::writeFramed(p->link, text); }
    void sendRaw(UnitJob *p, const QString &text) override { Protocol::writeRaw(p->link, text); }
    void logJob(const QString &) override { }
    void showUnitVersion(UnitJob *, const QString &) override { }
    void setFirmwareProgress(int) override { }
    void setImageProgress(int) override { }

    QString name() const override { return QString(); }
    bool isOpen() const override { return false; }
    qint64 write(const char *, qint64 size) override { return size; }
    void setSpeed(qint32) override { }
    QString reopen(qint32) override { return QStringLiteral("never opened"); }
    void flush() override { }
    void close() override { }
    void closeLater() override { }
    void readWaiting() override { }
};

NullHost host;
Sequencer *engine = nullptr;
UnitJob *port = nullptr;

void quiet(QtMsgType, const QMessageLogContext &, const QString &) { }

bool tracing = false; // ZQ_FUZZ_TRACE set: each action and the record after it

void printJob(const char *what)
{
    std::fprintf(stderr,
        "%s (state %d capture %d sector %d image step %d erase step %d address 0x%X image %u/%d "
        "offset %u countdown %d header %d chunks %d last %u copies owed %d/%d)\n",
        what, static_cast<int>(port->jobState), static_cast<int>(port->capturePhase),
        static_cast<int>(port->sectorStep), static_cast<int>(port->imageStep),
        static_cast<int>(port->eraseStep), static_cast<unsigned>(port->address), port->imageIndex,
        engine->inputs.images.size(), port->imageOffset, port->stepCountdown,
        port->guards.images.headerAwaited, port->guards.images.chunksAwaited, port->lastChunk,
        port->guards.firmware.dataCopies.size(), port->guards.images.headerCopies.size());
}

void check(const char *after)
{
    if (tracing)
        printJob(after);
    if (const char *why = JobInvariants::violation(*port, engine->inputs)) {
        printJob(why);
        std::abort();
    }
}

// The field reader on its own, into an exactly sized heap buffer, and the
// number reader on what it copied.
void readFields(const char *line, unsigned n, unsigned maxLength)
{
    auto out = std::make_unique<char[]>(maxLength + 1);
    if (GetField(line, out.get(), n, maxLength) == 1) {
        if (std::strlen(out.get()) > maxLength)
            std::abort();
        HexToInt(out.get());
    }
}

// Sets the job record from the header: a record as the sequencer leaves it
// between two events. Fields that only one part of the job uses keep the
// values that part gives them (the firmware's address and sends, the images'
// index, offset and awaited flags), so every start is one a unit could lead to.
void setJob(const std::uint8_t *h)
{
    port->resetJob();
    std::memset(port->rxLine, 0, sizeof port->rxLine);
    port->jobState = static_cast<JobState>((h[0] & 0x3F) % 10);
    // The version confirmed after "$X", as both front ends do by default; with
    // or without the version the update names ("$MVERR,1.0A" in the stream).
    engine->inputs.confirmVersion = (h[0] & 0x80) || port->jobState == JobState::ConfirmVersion;
    engine->inputs.expectedVersion = (h[0] & 0x40) ? QStringLiteral("1.0A") : QString();
    port->capturePhase = static_cast<CapturePhase>(h[1] % 3);
    port->tickCount = h[14] % 20;
    port->stepCountdown = h[14] >> 4;
    port->retryCount = 1 + h[15] % 10;
    port->guards.capture.waitSteps = h[15] >> 5;
    port->guards.capture.bootloaderAnswered = h[9] & 8;
    // Copies of an earlier "$D" and "$I" that may still be answered.
    for (int i = 0; i < ((h[15] >> 2) & 3); ++i) {
        port->guards.firmware.dataCopies.sent(0, 0, 0, 0);
        port->guards.images.headerCopies.sent(0, 0, 0, 0);
    }
    port->guards.waits.holdSteps = (h[15] >> 2) & 3 ? h[15] & 7 : 0;
    port->lastChunk = h[13] % 8;

    QList<ImageRecord> images;
    const int count = h[5] % 5;
    for (int i = 0; i < count; ++i) {
        ImageRecord image;
        const int size = ((h[6] << 8 | h[7]) * (i + 1)) % 1500;
        image.pixels = QByteArray(size, static_cast<char>(0x5A));
        image.width = size / 2;
        image.height = 1;
        if ((h[8] >> i) & 1)
            image.problem = QStringLiteral("not readable");
        images.append(image);
    }
    engine->inputs.images = images;

    // The firmware: sectors start at multiples of 4096, data lines every 64
    // bytes, "$P" follows the last line of a sector.
    port->sectorStep = static_cast<SectorStep>(h[2] % 3);
    const int pick = h[10] << 8 | h[11];
    switch (port->sectorStep) {
    case SectorStep::Start:
        port->address = kFirst + (pick % ((kEnd - kFirst) / 4096)) * 4096;
        break;
    case SectorStep::Data: port->address = kFirst + (pick % ((kEnd - kFirst) / 64)) * 64; break;
    case SectorStep::Program:
        port->address = 0x2000 + (pick % ((kEnd - 0x2000) / 4096 + 1)) * 4096;
        break;
    }
    engine->inputs.mode = static_cast<UpdateMode>(h[4] % 3);
    switch (port->jobState) {
    case JobState::ProgramFirmware:
        engine->inputs.mode = UpdateMode::FirmwareAndImages;
        port->capturePhase = CapturePhase::Captured;
        port->guards.firmware.sectorErased = h[9] & 1;
        port->guards.firmware.dataSends
            = port->sectorStep == SectorStep::Data ? (h[9] >> 4) & 3 : 0;
        port->guards.firmware.programSends
            = port->sectorStep == SectorStep::Program ? (h[8] >> 5) & 1 : 0;
        return;
    case JobState::EraseImages:
        engine->inputs.mode = UpdateMode::DeleteImages;
        port->capturePhase = CapturePhase::Captured;
        port->eraseStep = static_cast<EraseStep>(h[3] % 2);
        return;
    case JobState::ConfirmVersion:
        // "$X" went out after a whole job: the port asks the version at
        // 19200 baud, a few queries left.
        port->retryCount = h[15] % (Timeouts::kConfirmSteps + 1);
        port->capturePhase = engine->inputs.mode == UpdateMode::FirmwareAndImages
            ? CapturePhase::FirmwareWritten
            : CapturePhase::Captured;
        port->tickCount = 0;
        return;
    case JobState::SendImages:
    case JobState::Finish: break;
    default: return;
    }

    // The images: an index up to the count, the header or chunks awaited only
    // from an image that can be sent, the offset that of the last chunk sent.
    if (port->jobState == JobState::SendImages) {
        engine->inputs.mode = (h[4] & 1) ? UpdateMode::ImagesOnly : UpdateMode::FirmwareAndImages;
        port->capturePhase = engine->inputs.mode == UpdateMode::ImagesOnly
            ? CapturePhase::Captured
            : CapturePhase::FirmwareWritten;
    }
    port->imageStep = static_cast<ImageStep>(h[3] % 3);
    port->imageIndex = h[12] % (count + 1);
    if (port->imageIndex == static_cast<std::uint32_t>(count))
        return;
    const ImageRecord &image = images.at(static_cast<int>(port->imageIndex));
    if (!image.problem.isEmpty() || image.pixels.isEmpty()) {
        if (port->imageStep == ImageStep::Chunks) // chunks follow only a header sent
            port->imageStep = ImageStep::Header;
        return;
    }
    port->guards.images.headerAwaited = h[9] & 2;
    port->guards.images.headerSends = port->guards.images.headerAwaited ? 1 + ((h[8] >> 6) & 1) : 0;
    // A header goes out, and is awaited, only in ImageStep::Header.
    if (port->guards.images.headerAwaited)
        port->imageStep = ImageStep::Header;
    port->guards.images.chunksAwaited = !port->guards.images.headerAwaited && (h[9] & 4);
    if (!port->guards.images.chunksAwaited)
        return;
    const int chunks = (image.pixels.size() + 255) / 256;
    int chunk = chunks - 1; // after the last chunk went out, the image restarts
    if (port->imageStep == ImageStep::Chunks) {
        if (chunks > 1)
            chunk = h[13] % (chunks - 1);
        else
            port->imageStep = ImageStep::Restart;
    }
    port->lastChunk = static_cast<std::uint32_t>(chunk);
    port->imageOffset = static_cast<std::uint32_t>(chunk) * 256;
}

// One received byte, as the engine's receive path handles it.
void receive(char byte)
{
    if (!AppendRxByte(port->rxLine, port->rxLength, byte))
        return;
    char line[kLineBufferSize];
    std::memcpy(line, port->rxLine, sizeof line);
    if (tracing)
        std::fprintf(stderr, "line: %s", port->rxLine);
    engine->handleReceivedLine(port);
    port->rxLength = 0;
    const std::size_t length = std::strlen(line);
    readFields(line, length > 1 ? static_cast<unsigned char>(line[1]) % 8 : 0,
        length > 2 ? static_cast<unsigned char>(line[2]) : 1);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    tracing = qEnvironmentVariableIsSet("ZQ_FUZZ_TRACE");
    qInstallMessageHandler(quiet);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    static QCoreApplication app(*argc, *argv);
    engine = new Sequencer(host);
    port = new UnitJob(host);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::uint8_t header[kHeaderBytes] = {};
    const std::size_t h = size < kHeaderBytes ? size : kHeaderBytes;
    std::memcpy(header, data, h);
    setJob(header);
    check("start");
    for (std::size_t i = h; i < size; ++i) {
        const char byte = static_cast<char>(data[i]);
        if (byte == kEscape && i + 1 < size && data[i + 1] != kEscape) {
            for (int n = data[++i] & 3; n > 0; --n) {
                engine->step(port);
                check("step");
            }
            continue;
        }
        if (byte == kEscape)
            ++i;
        receive(byte);
        check("byte");
    }
    return 0;
}
