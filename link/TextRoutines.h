#pragma once
// Small routines on NUL-terminated byte strings in caller-owned buffers: hex
// digits and numbers, and the fields of a line. None allocates.
#include <cstdint>

// The character for a value 0..15: '0'-'9', 'A'-'F' (only the low 4 bits count).
char HexDigit(unsigned value);

// The value of '0'-'9', 'a'-'f', 'A'-'F'; any other character gives 0.
unsigned HexValue(char c);

// Writes value in upper-case hex without leading zeros ("0" for 0), NUL-terminated;
// out needs 9 bytes. Returns the number of digits written (1 to 8).
int ToHex(std::uint32_t value, char *out);

// Reads every character up to the NUL as one hex digit (anything else counts as
// 0 and does not stop the reading); more than 8 digits keep the last 8.
std::uint32_t HexToInt(const char *text);

// Fields are separated by ',' and '*'; a field ends at ',', '*', CR, LF or NUL.
// Copies field n of text into out (at most maxLength characters, then a NUL, so
// out needs maxLength + 1 bytes). Returns 1 when the field exists (even empty),
// 0 when the text ends before it begins, or after a walk of 65535 characters.
int GetField(const char *text, char *out, unsigned n, unsigned maxLength);
