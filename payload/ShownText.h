#pragma once
// Text from outside (a port or slot name, a unit's version, a manifest's
// version or file names) made safe to show: on a terminal, in the job log and
// in the window, it can't move the cursor, retitle the terminal, wipe a line
// or forge one. Both programs show such text through it.
#include <QString>

namespace ShownText {

// text with every control character (escape sequences, carriage returns, a
// bell; line feeds too unless keepLineFeeds), every invalid character and every
// character that turns text around or hides it shown as \xNN (\uNNNN past 0xFF).
QString of(const QString &text, bool keepLineFeeds = false);

} // namespace ShownText
