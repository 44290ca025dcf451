#include "link/LineFrame.h"

#include "link/Crc16.h"
#include "link/TextRoutines.h"

#include <cstdint>

int CompleteLine(char *buf)
{
    // The "$" must be part of the text: bytes behind its NUL are left over
    // from earlier lines.
    int dollar = 0;
    while (dollar < kLineBufferSize - 1 && buf[dollar] != '$' && buf[dollar] != '\0')
        ++dollar;
    if (dollar >= kLineBufferSize - 1 || buf[dollar] != '$')
        return 0;

    std::uint16_t crc = kCrc16Initial;
    int end = dollar + 1;
    while (end < kLineBufferSize && buf[end] != '\0')
        Crc16Update(static_cast<std::uint8_t>(buf[end++]), crc);
    // A longer text would be completed past the end of the buffer.
    if (end > kMaxCommandText)
        return 0;

    buf[end] = '*';
    int length = end + 1 + ToHex(crc, buf + end + 1);
    buf[length++] = '\n';
    buf[length] = '\0';
    return length;
}

LineCheck CheckLine(const char *line)
{
    if (line[0] != '$')
        return LineCheck::Absent;
    std::uint16_t crc = kCrc16Initial;
    int i = 1;
    while (line[i] != '\0' && line[i] != '*')
        Crc16Update(static_cast<std::uint8_t>(line[i++]), crc);
    if (line[i] != '*')
        return LineCheck::Absent;
    ++i;
    std::uint32_t value = 0;
    int digits = 0;
    for (; line[i] != '\0' && line[i] != '\r' && line[i] != '\n'; ++i, ++digits) {
        const char c = line[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
        if (!hex || digits >= 4)
            return LineCheck::Wrong;
        value = value * 16 + HexValue(c);
    }
    if (digits == 0)
        return LineCheck::Absent;
    return value == crc ? LineCheck::Right : LineCheck::Wrong;
}
