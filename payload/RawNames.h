#pragma once
// File names given on the command line whose bytes are not UTF-8
// ($'/media/upd\xff'): Qt's strings can't carry them, so each is replaced by a
// name Qt can open that reaches the same file, and shown with its odd bytes as
// \xNN (a file per platform).
#include <QString>
#include <QStringList>

namespace RawNames {

// The program's arguments as QCoreApplication::arguments() gives them, but an
// argument (or the value of an "--option=value") whose bytes are not UTF-8 and
// that names an existing file or folder becomes its real path when that is
// UTF-8 (a link to /dev/ttyUSB0), else /proc/self/fd/N of it held open for
// the program's life.
QStringList arguments();

// text with every name arguments() replaced, and every such argument Qt
// decoded with replacement characters, written as given with its odd bytes
// as \xNN.
QString shown(const QString &text);

// The bytes as shown: valid UTF-8 kept, every other byte as \xNN.
QString escaped(const QByteArray &bytes);

} // namespace RawNames
