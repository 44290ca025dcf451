#pragma once
// Checks the frame of a line the unit receives: "$", body, "*", the body's
// CRC-16 in upper-case hex without leading zeros, and the line feed right after
// the last digit. Lines without "*" are handed on as raw ("$G" comes that way).
#include <QByteArray>

class FrameCheck
{
public:
    enum Result {
        Framed, // a well-formed line with the right checksum
        Raw, // "$", body, line feed: no "*" at all
        NoStart, // no "$" in the line
        LeadIn, // bytes before the "$"
        BadChecksum, // the digits read as another value than the body's CRC
        ChecksumForm, // right value, wrong form: lower case, leading zeros, CR, too many digits
    };

    // line ends with its line feed. On Framed and Raw, body holds the text
    // between "$" and "*" (or the line end).
    static Result check(const QByteArray &line, QByteArray &body);
    // The report's name of a failed check ("badChecksum", ...).
    static const char *problemName(Result result);
};
