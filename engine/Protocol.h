#pragma once
// The bootloader command protocol: the text of every command line the engine
// sends, and how a received line's reply word and fields are recognised.
// Command texts are written NUL-terminated into a kLineBufferSize buffer and
// then framed with their checksum as the host writes them (JobHost::sendLine).
#include "link/LineFrame.h"

#include <cstdint>

class UnitLink;
class QString;

namespace Protocol {

constexpr int kSectorSize = 4096; // bytes per firmware sector
constexpr int kDataLineBytes = 64; // bytes per "$D" line
constexpr int kChunkBytes = 256; // bytes per "$F" line
constexpr int kReplyWordLength = 64; // longest reply word taken from a line

using Line = char[kLineBufferSize];

// Command texts, in the order a full job uses them.
void versionQuery(Line buf); // "$MVER"
void startBootloader(Line buf); // "$BOOTLOADM"
constexpr const char *kCapture = "$G"; // sent raw, unframed
void sectorErase(Line buf, std::uint32_t address); // "$E,%X,1"
// "$D,%X" and the bytes as ",%02X"; count is at most kDataLineBytes.
void sectorData(Line buf, std::uint32_t offset, const unsigned char *bytes, int count);
void sectorProgram(Line buf, std::uint32_t address, std::uint32_t length); // "$P,%X,%X"
void eraseImages(Line buf); // "$A,1"
void imageHeader(Line buf, int number, int version, int width, int height); // "$I,%02X x4"
// "$F,%02X" and the bytes as ",%02X"; count is at most kChunkBytes.
void imageChunk(Line buf, std::uint32_t chunk, const unsigned char *bytes, int count);
void exitBootloader(Line buf); // "$X"

// Reply words the engine recognises; any other word is Unknown.
enum class ReplyWord {
    Unknown,
    Bootloader, // "$Bootloader": the bootloader runs and can be captured
    GAck, // "$GACK": capture confirmed
    MverR, // "$MVERR,<version>": the application firmware's version
    EAck, // "$EACK": sector start acknowledged
    DAck, // "$DACK": data line acknowledged
    PAck, // "$PACK": sector programmed
    AAck, // "$AACK,<n>": 0 erasing started, 1 images erased
    IAck, // "$IACK,<flag>": "0" send the image, "1" skip it
    FAck, // "$FACK,<chunk>,<flag>": chunk acknowledged
};

// Field 0 of line (at most kReplyWordLength characters) into word, and what it is.
ReplyWord recogniseReply(const char *line, char (&word)[kReplyWordLength + 1]);

// The protocol's sender: completes text (a kLineBufferSize buffer) with its
// checksum in place and writes it to link. Returns the finished line's length,
// or 0 when the text can't be framed (nothing is written).
int writeFramed(UnitLink &link, char *text);
// Writes text unframed with a line feed appended unless it ends in one
// ("$G"); empty text, or a port that is not open, writes nothing.
void writeRaw(UnitLink &link, const QString &text);

// Field n of line read as a number (HexToInt); a missing field reads as 0.
std::uint32_t numberField(const char *line, unsigned n);

// Field n of line as a flag: 0 or 1 when it is exactly "0" or "1", else -1.
int flagField(const char *line, unsigned n);

} // namespace Protocol
