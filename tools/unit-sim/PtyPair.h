#pragma once
// A pseudo-terminal pair: the slave's path is what the tool opens as its serial
// port; the master side is the simulated unit's end of the cable. Or a real
// serial device (a second adapter, wired null-modem to the tool's), which the
// unit then drives at its own speed.
#include <QString>

class PtyPair
{
public:
    PtyPair() = default;
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    // Opens a new pair in raw mode with a non-blocking master. The pair keeps a
    // slave descriptor of its own open, so the master never reads a hang-up
    // while the tool closes and reopens its side (as it does to change speed).
    bool open();
    // Opens a real serial device instead, raw, 8N1, non-blocking; masterFd()
    // is then the device and slavePath() its path.
    bool openDevice(const QString &devicePath);
    bool isDevice() const
    {
        return device;
    }
    // Sets a device's speed in both directions (a pseudo-terminal's speed is the tool's).
    void setBaudRate(int baud);
    int masterFd() const
    {
        return master;
    }
    QString slavePath() const
    {
        return path;
    }
    // The baud rate the tool last set on its side (0 when unknown).
    int baudRate() const;
    // Throws away what the unit wrote that the tool's side has not read yet (a
    // real adapter loses it when the port is closed or its speed changes).
    void discardPendingToTool();
    // Closes the master: to the tool this looks like an unplugged adapter.
    void closeMaster();

private:
    int master = -1;
    int slave = -1;
    QString path;
    bool device = false;
};
