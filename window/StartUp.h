#pragma once
// What zq-updater sets before its window opens: a closed terminal, a reader
// of its diagnostics that went away or a file size limit must never end a job
// in the middle of the firmware. A file per platform.
namespace StartUp {

// The signals that would end the program then are ignored; the failed write
// is seen as an error instead.
void ignoreHangUps();

} // namespace StartUp
