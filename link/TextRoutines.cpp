#include "link/TextRoutines.h"

namespace {
constexpr unsigned kMaxWalk = 65535;

bool endsField(char c)
{
    return c == ',' || c == '*' || c == '\r' || c == '\n' || c == '\0';
}
} // namespace

char HexDigit(unsigned value)
{
    return "0123456789ABCDEF"[value & 0xF];
}

unsigned HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return 0;
}

int ToHex(std::uint32_t value, char *out)
{
    char reversed[8];
    int n = 0;
    do {
        reversed[n++] = HexDigit(value & 0xF);
        value >>= 4;
    } while (value != 0);
    for (int i = 0; i < n; ++i)
        out[i] = reversed[n - 1 - i];
    out[n] = '\0';
    return n;
}

std::uint32_t HexToInt(const char *text)
{
    std::uint32_t value = 0;
    for (; *text != '\0'; ++text)
        value = (value << 4) + HexValue(*text);
    return value;
}

int GetField(const char *text, char *out, unsigned n, unsigned maxLength)
{
    unsigned pos = 0;
    for (unsigned separators = 0; separators < n; ++pos) {
        if (pos >= kMaxWalk || text[pos] == '\0')
            return 0;
        if (text[pos] == ',' || text[pos] == '*')
            ++separators;
    }
    unsigned copied = 0;
    while (copied < maxLength && !endsField(text[pos + copied])) {
        out[copied] = text[pos + copied];
        ++copied;
    }
    out[copied] = '\0';
    return 1;
}
