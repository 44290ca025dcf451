#pragma once
// Writing the files a run is told to write (the --report file, the --log file,
// the window's history) whole or not at all, and only where it was meant: the
// report replaces its file atomically from a synced temporary file in the same
// folder; a log record is appended whole or the file is cut back to where it
// was; neither goes through a symbolic link another user planted (nor any link
// when run as root) or onto a FIFO, a device or a folder. A file per platform.
#include <QByteArray>
#include <QString>

namespace FileWrite {

// Why path must not be written; empty when it may. A missing file may be
// written when its folder exists or can be made.
QString targetProblem(const QString &path);

// Replaces the file at path with bytes: written to a temporary file beside it
// with every write checked, synced, then renamed over it. On any failure the
// file at path is left as it was and error says why.
bool replaceWhole(const QString &path, const QByteArray &bytes, QString &error);

// Appends record (ending in a line feed) to the file at path, creating it, in
// one piece: a record after a last line without its line feed starts on a
// line of its own, and a failed or partial write is cut off again. Never
// blocks on a FIFO.
bool appendWhole(const QString &path, const QByteArray &record, QString &error);

// Whether a and b name the same file: the same device and inode where both
// exist, else the same absolute path.
bool sameFile(const QString &a, const QString &b);

} // namespace FileWrite
