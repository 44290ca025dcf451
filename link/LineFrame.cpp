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
