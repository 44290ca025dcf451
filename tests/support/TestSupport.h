#pragma once
// Set-up shared by the tests: files beside the test program (where the dialog
// looks for settings.json, fw1.bin and images) and elsewhere, framed lines, and
// one end of a serial line read while the event loop runs.
#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcessEnvironment>
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

// The bytes of the file at path; empty when it can't be read.
QByteArray readFile(const QString &path);
// Writes bytes to path, replacing what was there; false on failure.
bool writeFile(const QString &path, const QByteArray &bytes);
// The JSON object in the file at path; empty when there is none.
QJsonObject readJson(const QString &path);

// The objects of a file of JSON lines; allParse, when given, says whether
// every line that is not blank was one.
QJsonArray jsonLines(const QByteArray &bytes, bool *allParse = nullptr);
// The SHA-256 of bytes in lower-case hex.
QString sha256(const QByteArray &bytes);
// The environment the command-line programs run in under test: only --port
// names ports (ZQ_UPDATER_PORTS empty), with the further "NAME=VALUE" settings.
QProcessEnvironment toolEnvironment(const QStringList &settings = {});

// The finished line for text ("$E,1000,1"): checksum and line feed added.
QByteArray framed(const QByteArray &text);

// Reads what is available on fd (non-blocking) and appends it to into.
// Returns the number of bytes read, or -1 on an error other than EAGAIN.
int readAvailable(int fd, QByteArray &into);

// Runs the event loop, reading fd into `into`, until done(into) holds or
// timeoutMs passes. Returns whether done held.
bool pumpUntil(int fd, QByteArray &into, const std::function<bool(const QByteArray &)> &done,
    int timeoutMs = 10000);

} // namespace TestSupport

// One end of a serial line as a test drives it: a device opened raw at a speed
// (the tool's side of a simulated unit), or a descriptor held elsewhere (the
// unit's side of the dialog's pseudo-terminal).
class SerialPeer
{
public:
    explicit SerialPeer(int borrowedFd = -1)
        : fd(borrowedFd)
    {
    }
    ~SerialPeer();
    SerialPeer(const SerialPeer &) = delete;
    SerialPeer &operator=(const SerialPeer &) = delete;

    // Opens path raw and non-blocking at baud (19200 or 921600).
    bool open(const QString &path, int baud);
    bool setBaud(int baud);
    bool write(const QByteArray &bytes);
    bool send(const QByteArray &text)
    {
        return write(TestSupport::framed(text));
    }
    // Runs the event loop until a whole line beginning with prefix has arrived;
    // returns it with its line feed and drops it and every line before it.
    // Empty on time-out.
    QByteArray waitLine(const QByteArray &prefix = "$", int timeoutMs = 10000);
    QByteArray command(const QByteArray &text)
    {
        return send(text) ? waitLine() : QByteArray();
    }

    int fd = -1;
    QByteArray received; // bytes read and not yet taken as a line

private:
    bool owned = false;
};
