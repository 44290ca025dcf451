#pragma once
// What the program needs to know of its console: whether standard error is a
// terminal (live progress lines) and how wide it is. The platform calls are
// here, so the rest of the command line is portable.

namespace Console {

// Whether standard error is a terminal.
bool stderrIsTerminal();
// Columns of the terminal on standard error; 0 when unknown.
int stderrColumns();

} // namespace Console
