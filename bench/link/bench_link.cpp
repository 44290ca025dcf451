// The per-line cost of the link: a command line formatted and completed with
// its checksum ("$D" with 64 bytes, "$F" with 256 bytes), and a received reply
// cut from the byte stream and recognised. The target is under 2 us per "$D"
// line, so the tool's own work never paces the serial link.
#include "link/LineAssembler.h"
#include "link/LineFrame.h"
#include "engine/Protocol.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <random>

namespace {

std::vector<unsigned char> randomBytes(std::size_t n)
{
    std::mt19937 random(12345);
    std::vector<unsigned char> bytes(n);
    for (auto &b : bytes)
        b = static_cast<unsigned char>(random() & 0xFF);
    return bytes;
}

void DataLine(benchmark::State &state)
{
    const auto bytes = randomBytes(Protocol::kSectorSize);
    Protocol::Line buf;
    std::uint32_t offset = 0;
    for (auto _ : state) {
        Protocol::sectorData(buf, offset, bytes.data() + offset, Protocol::kDataLineBytes);
        benchmark::DoNotOptimize(CompleteLine(buf));
        benchmark::ClobberMemory();
        offset = (offset + Protocol::kDataLineBytes) % Protocol::kSectorSize;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DataLine);

void ChunkLine(benchmark::State &state)
{
    const auto bytes = randomBytes(Protocol::kSectorSize);
    Protocol::Line buf;
    std::uint32_t chunk = 0;
    for (auto _ : state) {
        const std::size_t at = (chunk % 16) * Protocol::kChunkBytes;
        Protocol::imageChunk(buf, chunk, bytes.data() + at, Protocol::kChunkBytes);
        benchmark::DoNotOptimize(CompleteLine(buf));
        benchmark::ClobberMemory();
        ++chunk;
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ChunkLine);

// Completion alone, on a "$D" text restored before each run.
void CompleteDataLine(benchmark::State &state)
{
    const auto bytes = randomBytes(Protocol::kDataLineBytes);
    Protocol::Line text;
    Protocol::sectorData(text, 0xFC0, bytes.data(), Protocol::kDataLineBytes);
    const std::size_t length = std::strlen(text) + 1;
    Protocol::Line buf;
    for (auto _ : state) {
        std::memcpy(buf, text, length);
        benchmark::DoNotOptimize(CompleteLine(buf));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CompleteDataLine);

// A "$FACK" reply: assembled byte by byte, its word recognised, its fields read.
void ReceiveReply(benchmark::State &state)
{
    static const char reply[] = "$FACK,1A,0*8E4\r\n";
    char line[kLineBufferSize];
    std::int16_t length = 0;
    for (auto _ : state) {
        for (const char *p = reply; *p != '\0'; ++p) {
            if (!AppendRxByte(line, length, *p))
                continue;
            char word[Protocol::kReplyWordLength + 1];
            benchmark::DoNotOptimize(Protocol::recogniseReply(line, word));
            benchmark::DoNotOptimize(Protocol::numberField(line, 1));
            benchmark::DoNotOptimize(Protocol::flagField(line, 2));
            length = 0;
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(ReceiveReply);

} // namespace

BENCHMARK_MAIN();
