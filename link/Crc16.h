#pragma once
// The line checksum: CRC-16/MCRF4XX (reflected 0x1021, initial 0xFFFF, no final
// XOR), one byte at a time. A line's CRC starts at 0xFFFF and covers its body.
#include <cstdint>

constexpr std::uint16_t kCrc16Initial = 0xFFFF;

// One update step: folds byte b into crc, stores the result back and returns it.
std::uint16_t Crc16Update(std::uint8_t b, std::uint16_t &crc);

// The CRC of n bytes, starting from kCrc16Initial.
std::uint16_t Crc16(const char *data, std::size_t n);
