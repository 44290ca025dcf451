#pragma once
// Writing the files a run is told to write (the --report file, the --log file,
// the window's history) whole or not at all, and only where it was meant: the
// report replaces its file atomically from a synced temporary file in the same
// folder; a log record is appended whole or the file is cut back to where it
// was; neither goes through a symbolic link another user planted (nor any link
// when run as root) or onto a FIFO, a device or a folder, nor through a folder
// or link another user controls on the way to it. No folder is made. A file
// per platform.
#include <QByteArray>
#include <QString>

namespace FileWrite {

// Why path must not be written; empty when it may. A missing file may be
// written when its folder exists. Every part of the path is looked at: a
// link on the way owned by another user than root is refused, and, run as
// root, a folder another user owns or that others may write without the
// sticky bit (they could swap what lies below it).
QString targetProblem(const QString &path);

// How a file is to be written: replaced whole, or appended to.
enum class Writing { Replace, Append };

// targetProblem, and whether this user may write there now (the folder for a
// replacement or a new file, the file itself for an append): what a run
// checks before it sends a line, so that its report and records are not
// lost at its end.
QString outputProblem(const QString &path, Writing how);

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
