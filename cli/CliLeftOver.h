#pragma once
// What a stopped run leaves on its units, for the lines after the table: the
// units left in their bootloader, those told to start it and not captured
// yet, and how to finish them.
#include <QStringList>

class UnitRunner;

namespace CliLeftOver {

// The notes for the running jobs of runner, taken just before they are stopped.
QStringList notes(const UnitRunner &runner);

} // namespace CliLeftOver
