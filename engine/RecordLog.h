#pragma once
// A file of unit records, one JSON line each, only ever appended to: each
// line goes out whole on a file opened for appending (FileWrite::appendWhole),
// so lines from several runs never mix, lines already there are never
// rewritten, and a full disk leaves no half line behind.
#include <QByteArray>
#include <QString>

namespace RecordLog {

// Appends line (ending in a line feed) to file, creating the file and its
// folder; false with error set when the line was not written whole.
bool append(const QString &file, const QByteArray &line, QString &error);

// The window's history file: history.jsonl in the user's application data folder.
QString historyFile();

} // namespace RecordLog
