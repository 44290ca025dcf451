#pragma once
// How much the tool reads of each file it is given, and how large a payload it
// takes: a file over its limit is refused with a message, never read on into
// memory (a link to /dev/zero, a huge file, settings.json naming one image
// thousands of times).
#include <QtGlobal>

namespace ReadLimits {

constexpr qint64 kSettingsBytes = 1 << 20; // settings.json
constexpr qint64 kImageSourceBytes = 32 << 20; // one image's source text
constexpr qint64 kFirmwareBytes = 0xE0000; // fw1.bin: the unit's flash, FirmwareFile::kEndAddress
constexpr qint64 kStationBytes = 1 << 20; // the station file (--station)
constexpr qint64 kLockFileBytes = 128; // a serial port's lock file under /run/lock
constexpr qint64 kKernelFileBytes = 4096; // a /sys attribute or /proc file: one page
constexpr qint64 kCommandLineBytes = 2 << 20; // /proc/self/cmdline: the arguments, at most ARG_MAX
constexpr int kImageEntries = 256; // entries in settings.json's "Images"
constexpr qint64 kPayloadImageBytes = 64 << 20; // the pixel bytes of every image together

} // namespace ReadLimits
