#pragma once
// The frame of a command line: "$", body, "*", the body's CRC-16 in upper-case
// hex without leading zeros, and a line feed directly after the last digit.
#include <cstddef>

// Size of a command line buffer and of a port's receive line.
constexpr int kLineBufferSize = 1000;
// The longest text (from the buffer's start to its NUL) that still fits once
// completed: 993 + '*' + 4 digits + LF + NUL = 1000 bytes.
constexpr int kMaxCommandText = 993;

// Completes the NUL-terminated command text in buf (kLineBufferSize bytes) in
// place. Returns the length of the finished line (bytes before its new NUL), or
// 0 when the text can't be framed: no "$" in the text itself (bytes behind its
// NUL don't count), no NUL before position 1000, or more than kMaxCommandText
// characters before the NUL.
int CompleteLine(char *buf);

// What the checksum of a received line (NUL-terminated, from its "$") says:
// Absent when the line has no "*" or nothing after it, Right when the 1 to 4
// hexadecimal digits after the first "*" are the CRC of the text between "$"
// and "*", Wrong otherwise (the line was garbled on its way).
enum class LineCheck { Absent, Right, Wrong };
LineCheck CheckLine(const char *line);
