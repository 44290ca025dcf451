#include "engine/Protocol.h"

#include "link/Diagnostics.h"
#include "link/TextRoutines.h"
#include "engine/UnitLink.h"

#include <QString>

#include <cstring>
#include <initializer_list>

namespace Protocol {
namespace {

// Appends text and returns the new end.
char *put(char *p, const char *text)
{
    while (*text != '\0')
        *p++ = *text++;
    return p;
}

// Appends value as printf's "%X" (minDigits 1) or "%02X" (minDigits 2).
char *putHex(char *p, std::uint32_t value, int minDigits)
{
    char digits[9];
    int n = ToHex(value, digits);
    for (; n < minDigits; --minDigits)
        *p++ = '0';
    return put(p, digits);
}

// Appends ",%02X" for every byte: the body of "$D" and "$F" lines.
char *putBytes(char *p, const unsigned char *bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        *p++ = ',';
        *p++ = HexDigit(bytes[i] >> 4);
        *p++ = HexDigit(bytes[i]);
    }
    return p;
}

void finish(char *p)
{
    *p = '\0';
}

} // namespace

void versionQuery(Line buf)
{
    std::strcpy(buf, "$MVER");
}

void startBootloader(Line buf)
{
    std::strcpy(buf, "$BOOTLOADM");
}

void sectorErase(Line buf, std::uint32_t address)
{
    char *p = putHex(put(buf, "$E,"), address, 1);
    finish(put(p, ",1"));
}

void sectorData(Line buf, std::uint32_t offset, const unsigned char *bytes, int count)
{
    if (count > kDataLineBytes)
        count = kDataLineBytes;
    finish(putBytes(putHex(put(buf, "$D,"), offset, 1), bytes, count));
}

void sectorProgram(Line buf, std::uint32_t address, std::uint32_t length)
{
    char *p = putHex(put(buf, "$P,"), address, 1);
    finish(putHex(put(p, ","), length, 1));
}

void eraseImages(Line buf)
{
    std::strcpy(buf, "$A,1");
}

void imageHeader(Line buf, int number, int version, int width, int height)
{
    char *p = put(buf, "$I");
    for (int v : { number, version, width, height })
        p = putHex(put(p, ","), static_cast<std::uint32_t>(v), 2);
    finish(p);
}

void imageChunk(Line buf, std::uint32_t chunk, const unsigned char *bytes, int count)
{
    if (count > kChunkBytes)
        count = kChunkBytes;
    finish(putBytes(putHex(put(buf, "$F,"), chunk, 2), bytes, count));
}

void exitBootloader(Line buf)
{
    std::strcpy(buf, "$X");
}

namespace {
// The reply words, compared with field 0 exactly, letter case included.
const struct {
    const char *text;
    ReplyWord word;
} kReplies[] = {
    { "$Bootloader", ReplyWord::Bootloader },
    { "$GACK", ReplyWord::GAck },
    { "$MVERR", ReplyWord::MverR },
    { "$EACK", ReplyWord::EAck },
    { "$DACK", ReplyWord::DAck },
    { "$PACK", ReplyWord::PAck },
    { "$AACK", ReplyWord::AAck },
    { "$IACK", ReplyWord::IAck },
    { "$FACK", ReplyWord::FAck },
};
} // namespace

ReplyWord recogniseReply(const char *line, char (&word)[kReplyWordLength + 1])
{
    GetField(line, word, 0, kReplyWordLength);
    for (const auto &entry : kReplies)
        if (std::strcmp(word, entry.text) == 0)
            return entry.word;
    return ReplyWord::Unknown;
}

int writeFramed(UnitLink &link, char *text)
{
    const int length = CompleteLine(text);
    if (length == 0)
        return 0;
    link.write(text, length);
    qCDebug(lcWire).noquote() << "TX" << link.name() << QLatin1String(text, length - 1);
    return length;
}

void writeRaw(UnitLink &link, const QString &text)
{
    QByteArray bytes = text.toUtf8();
    // A port that could not be opened waits for its bootloader all the same;
    // the "$G" it sends unasked goes nowhere, without a warning every time.
    if (bytes.isEmpty() || !link.isOpen())
        return;
    if (!bytes.endsWith('\n'))
        bytes.append('\n');
    link.write(bytes.constData(), bytes.size());
}

std::uint32_t numberField(const char *line, unsigned n)
{
    char field[kLineBufferSize];
    if (GetField(line, field, n, kLineBufferSize - 1) == 0)
        return 0;
    return HexToInt(field);
}

int flagField(const char *line, unsigned n)
{
    char field[3];
    if (GetField(line, field, n, 2) == 0)
        return -1;
    if (std::strcmp(field, "0") == 0)
        return 0;
    if (std::strcmp(field, "1") == 0)
        return 1;
    return -1;
}

} // namespace Protocol
