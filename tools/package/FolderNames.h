#pragma once
// The names in a folder as the system holds them, bytes and all: Qt's folder
// listing leaves out a name that is not UTF-8, and a package maker must not
// leave a file out without a word. A file per platform.
#include <QString>
#include <QStringList>

namespace FolderNames {

// The paths under dir (relative, "/"-separated)
// whose names are not UTF-8, every byte outside printable ASCII shown as \xNN;
// empty when there is none. Links are not followed.
QStringList notUtf8(const QString &dir);

} // namespace FolderNames
