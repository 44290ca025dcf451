#pragma once
// Where a payload is looked for when none was named: beside the program (the
// kit, a build folder), but never beside an installed program in a system
// folder such as /usr/bin, where no update belongs.
#include <QString>

namespace PayloadDir {

// The program's own folder, or empty when the program is installed in a
// system folder (then an update must be named: --payload, or opened).
QString besideProgram();

// Whether programDir is a system folder for programs (/usr/bin and the like,
// and the folder this build installs its programs to).
bool isSystemFolder(const QString &programDir);

} // namespace PayloadDir
