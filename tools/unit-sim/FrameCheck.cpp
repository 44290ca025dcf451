#include "FrameCheck.h"

#include "link/Crc16.h"
#include "link/TextRoutines.h"

namespace {

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isUpperHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

} // namespace

FrameCheck::Result FrameCheck::check(const QByteArray &line, QByteArray &body)
{
    const int start = line.indexOf('$');
    if (start < 0)
        return NoStart;
    if (start > 0)
        return LeadIn;
    const int end = line.endsWith('\n') ? line.size() - 1 : line.size();
    const int star = line.indexOf('*', start + 1);
    if (star < 0 || star >= end) {
        body = line.mid(start + 1, end - start - 1);
        return body.endsWith('\r') ? ChecksumForm : Raw;
    }

    body = line.mid(start + 1, star - start - 1);
    const QByteArray digits = line.mid(star + 1, end - star - 1);
    const std::uint16_t crc = Crc16(body.constData(), static_cast<std::size_t>(body.size()));

    // The value first, read leniently: a trailing CR or lower case only spoil the form.
    QByteArray lenient = digits;
    if (lenient.endsWith('\r'))
        lenient.chop(1);
    bool allHex = !lenient.isEmpty();
    for (char c : lenient)
        allHex = allHex && isHexDigit(c);
    if (!allHex || HexToInt(lenient.constData()) != crc)
        return BadChecksum;

    bool upper = true;
    for (char c : digits)
        upper = upper && isUpperHexDigit(c);
    const bool leadingZero = digits.size() > 1 && digits.at(0) == '0';
    if (!upper || leadingZero || digits.size() > 4)
        return ChecksumForm;
    return Framed;
}

const char *FrameCheck::problemName(Result result)
{
    switch (result) {
    case NoStart: return "noStart";
    case LeadIn: return "leadIn";
    case BadChecksum: return "badChecksum";
    case ChecksumForm: return "checksumForm";
    case Raw: return "unframed";
    case Framed: break;
    }
    return "";
}
