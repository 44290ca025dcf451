// Fuzz target: line completion on arbitrary 1000-byte buffers. The buffer is an
// exactly sized heap block, so AddressSanitizer stops any write past it. The
// first input byte picks how the rest fills the buffer (padding byte, a NUL
// forced somewhere or nowhere); every result is checked against the frame.
#include "link/Crc16.h"
#include "link/LineFrame.h"
#include "link/TextRoutines.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

// Finds the first c in [0, n) of buf; -1 when there is none.
int find(const char *buf, int n, char c)
{
    const void *p = std::memchr(buf, c, static_cast<std::size_t>(n));
    return p == nullptr ? -1 : static_cast<int>(static_cast<const char *>(p) - buf);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    // Byte 0: padding byte for a short input; bytes 1-2: where to force a NUL
    // (values of 1000 and more force none).
    const char pad = static_cast<char>(data[0]);
    const int forcedNul = (data[1] << 8 | data[2]) % 1200;
    data += 3;
    size -= 3;

    auto buf = std::make_unique<char[]>(kLineBufferSize);
    const std::size_t n = size < kLineBufferSize ? size : kLineBufferSize;
    std::memcpy(buf.get(), data, n);
    std::memset(buf.get() + n, pad, kLineBufferSize - n);
    if (forcedNul < kLineBufferSize)
        buf[forcedNul] = '\0';
    char before[kLineBufferSize];
    std::memcpy(before, buf.get(), kLineBufferSize);

    const int length = CompleteLine(buf.get());

    const int nul = find(before, kLineBufferSize, '\0');
    const int dollar = nul < 0 ? -1 : find(before, nul, '$');
    const bool framable = nul >= 0 && dollar >= 0 && nul <= kMaxCommandText;
    if (!framable) {
        check(length == 0);
        check(std::memcmp(before, buf.get(), kLineBufferSize) == 0);
        return 0;
    }

    // "$", body, "*", the body's CRC in upper-case hex without leading zeros,
    // LF, NUL; nothing before the text's NUL changed, nothing after the new NUL.
    check(length > nul + 2 && length < kLineBufferSize);
    check(std::memcmp(before, buf.get(), static_cast<std::size_t>(nul)) == 0);
    check(std::memcmp(before + length + 1, buf.get() + length + 1,
              static_cast<std::size_t>(kLineBufferSize - length - 1))
        == 0);
    check(buf[nul] == '*' && buf[length - 1] == '\n' && buf[length] == '\0');
    char digits[9];
    const int digitCount = length - 1 - (nul + 1);
    check(digitCount >= 1 && digitCount <= 4);
    std::memcpy(digits, buf.get() + nul + 1, static_cast<std::size_t>(digitCount));
    digits[digitCount] = '\0';
    for (int i = 0; i < digitCount; ++i)
        check((digits[i] >= '0' && digits[i] <= '9') || (digits[i] >= 'A' && digits[i] <= 'F'));
    check(digitCount == 1 || digits[0] != '0');
    check(HexToInt(digits)
        == Crc16(buf.get() + dollar + 1, static_cast<std::size_t>(nul - dollar - 1)));
    return 0;
}
