#pragma once
// Helpers shared by the tests: files beside the test program (where the dialog
// looks for settings.json, fw1.bin and images), and the peer end of a
// pseudo-terminal read while the event loop runs.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace TestSupport {

// Path of a file in the folder of the running test program.
QString appFile(const QString &name);
// Writes bytes to appFile(name), creating folders; returns false on failure.
bool writeAppFile(const QString &name, const QByteArray &bytes);
// Removes the files and folders the tests put beside the program.
void removeAppFiles(const QStringList &names);

// Reads what is available on fd (non-blocking) and appends it to into.
// Returns the number of bytes read, or -1 on an error other than EAGAIN.
int readAvailable(int fd, QByteArray &into);

// Runs the event loop, reading fd into `into`, until done(into) holds or
// timeoutMs passes. Returns whether done held.
bool pumpUntil(int fd, QByteArray &into, const std::function<bool(const QByteArray &)> &done,
    int timeoutMs = 10000);

} // namespace TestSupport
