#pragma once
// What the program needs to know of its console: whether standard error is a
// terminal (live progress lines) and how wide it is (a file per platform); and
// writing to it (ConsoleOutput.cpp): text from outside made harmless, and a
// stream whose reader went away noted once and left, never the end of a job.
#include <QByteArray>
#include <QString>

namespace Console {

// Whether standard error is a terminal.
bool stderrIsTerminal();
// Columns of the terminal on standard error; 0 when unknown.
int stderrColumns();

// text with every control character (escape sequences, carriage returns, a
// bell; line feeds too unless keepLineFeeds) and every invalid character shown
// as \xNN, so a slot or port name can't move the cursor, retitle the terminal
// or forge a line (payload/ShownText.h, which the window uses too).
QString shown(const QString &text, bool keepLineFeeds = false);

// Writes bytes to standard output or standard error and flushes. A stream that
// fails (a closed pipe) is given up: standard error says so once (or, for
// standard error itself, nothing can), later writes to it are dropped.
void writeOut(const QByteArray &bytes);
void writeErr(const QByteArray &bytes);
// Whether a stream was given up.
bool outLost();
bool errLost();

} // namespace Console
