#pragma once
// Whether fw1.bin can be written to the unit: it must exist, be readable, hold
// at least one byte at or past unit address 0x1000, and fit the unit's flash.
#include <QString>

namespace FirmwareFile {

constexpr int kFirstAddress = 0x1000; // the first 4 KB hold the bootloader
constexpr int kEndAddress = 0xE0000; // one past the last byte written

// Why the file at path can't be used, or an empty string when it can.
QString problem(const QString &path);

// Why a firmware file of size bytes, called name, can't be used; empty when it can.
QString sizeProblem(const QString &name, qint64 size);

} // namespace FirmwareFile
