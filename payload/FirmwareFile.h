#pragma once
// Whether fw1.bin can be written to the unit: it must exist, be a regular file
// that can be read, hold at least one byte at or past unit address 0x1000, and
// fit the unit's flash.
#include <QByteArray>
#include <QString>

namespace FirmwareFile {

constexpr int kFirstAddress = 0x1000; // the first 4 KB hold the bootloader
constexpr int kEndAddress = 0xE0000; // one past the last byte written

// Why the file at path can't be used, or an empty string when it can. Never
// blocks: a FIFO or a device is refused unread.
QString problem(const QString &path);
// Reads the file at path into bytes when it can be used; else the problem, as
// problem() words it, and bytes empty.
QString read(const QString &path, QByteArray &bytes);

// Why a firmware file of size bytes, called name, can't be used; empty when it can.
QString sizeProblem(const QString &name, qint64 size);

} // namespace FirmwareFile
