#include "link/Crc16.h"

#include <cstddef>

std::uint16_t Crc16Update(std::uint8_t b, std::uint16_t &crc)
{
    std::uint8_t x = static_cast<std::uint8_t>(b ^ (crc & 0xFF));
    x = static_cast<std::uint8_t>(x ^ (x << 4));
    crc = static_cast<std::uint16_t>(((x << 8) | (crc >> 8)) ^ (x >> 4) ^ (x << 3));
    return crc;
}

std::uint16_t Crc16(const char *data, std::size_t n)
{
    std::uint16_t crc = kCrc16Initial;
    for (std::size_t i = 0; i < n; ++i)
        Crc16Update(static_cast<std::uint8_t>(data[i]), crc);
    return crc;
}
