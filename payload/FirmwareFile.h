#pragma once
// Whether fw1.bin can be written to the unit: it must exist, be a regular file
// that can be read, hold at least one byte at or past unit address 0x1000, and
// fit the unit's flash.
#include "payload/Problem.h"

#include <QByteArray>
#include <QString>

namespace FirmwareFile {

constexpr int kFirstAddress = 0x1000; // the first 4 KB hold the bootloader
constexpr int kEndAddress = 0xE0000; // one past the last byte written

// Reads the file at path into bytes when it can be used, once (what is sent is
// what was read); else why not (NotFound "... is missing", Unreadable "...
// cannot be read (...)", sizeProblem's), and bytes empty. Never blocks: a FIFO
// or a device is refused unread.
Problem read(const QString &path, QByteArray &bytes);

// Why a firmware file of size bytes, called name, can't be used (Firmware);
// none when it can.
Problem sizeProblem(const QString &name, qint64 size);

} // namespace FirmwareFile
