#pragma once
// Cuts a port's received bytes into lines in its own fixed receive buffer.
#include <cstdint>

// Appends one received byte to line (kLineBufferSize bytes) at length. The count
// wraps to 0 at 1000, so an overlong line keeps only the bytes after the last
// wrap. Returns true when the byte was a line feed: the line is then
// NUL-terminated directly after it and the caller hands it on and sets length
// to 0.
bool AppendRxByte(char *line, std::int16_t &length, char byte);
