#pragma once
// Every file this process has opened to read as an input of its run (the
// payload's files, the station file, a package, the trusted keys, the
// policy): noted where each is read, so that a file the run is told to write
// is compared with all of them, and one added later is compared too.
#include <QString>
#include <QStringList>

namespace InputFiles {

// Notes path (as given) as read by this run.
void note(const QString &path);

// Every path noted so far, in the order first noted.
QStringList all();

} // namespace InputFiles
