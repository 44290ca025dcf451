#pragma once
// The tool's end of a simulated unit's pseudo-terminal, driven the way the
// updater drives its port: open the path, set the speed, write framed lines,
// read reply lines while the event loop runs.
#include <QByteArray>
#include <QList>
#include <QString>

class ToolSide
{
public:
    ToolSide() = default;
    ~ToolSide();
    ToolSide(const ToolSide &) = delete;
    ToolSide &operator=(const ToolSide &) = delete;

    // Opens path raw and non-blocking at baud (19200 or 921600).
    bool open(const QString &path, int baud);
    bool setBaud(int baud);
    int fd() const
    {
        return handle;
    }

    bool write(const QByteArray &bytes);
    // The finished line for text ("$E,1000,1"), with its checksum and line
    // feed, as the updater would send it.
    static QByteArray framed(const QByteArray &text);
    bool send(const QByteArray &text)
    {
        return write(framed(text));
    }

    // Runs the event loop until a whole line beginning with prefix has arrived;
    // returns it with its line end and drops it and every line before it.
    // Empty on time-out.
    QByteArray waitLine(const QByteArray &prefix = "$", int timeoutMs = 5000);
    QByteArray command(const QByteArray &text)
    {
        return send(text) ? waitLine() : QByteArray();
    }
    // Runs the event loop until count whole lines have arrived; returns them all.
    QList<QByteArray> waitLines(int count, int timeoutMs = 5000);

    QByteArray received; // bytes read and not yet taken as a line

private:
    int handle = -1;
};
