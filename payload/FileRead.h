#pragma once
// Reading a file the tool was given, safely: opened without blocking (a FIFO
// or a device never stops the program), taken only when it is a regular file,
// and read up to a stated limit (payload/ReadLimits.h). A file per platform.
#include <QByteArray>
#include <QString>

namespace FileRead {

// Reads the regular file at path whole into bytes, at most limit bytes. False
// with error set ("is a FIFO, not a regular file", "is larger than 1048576
// bytes", the system's reason) otherwise; error starts with path.
bool read(const QString &path, qint64 limit, QByteArray &bytes, QString &error);

// Whether path names a regular file (links followed) and its size; false with
// error set as read() sets it, without reading a byte.
bool regularFile(const QString &path, qint64 &size, QString &error);

} // namespace FileRead
