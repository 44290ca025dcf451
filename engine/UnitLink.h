#pragma once
// The link to one unit, as the job engine uses it: every port operation of a
// job (writing a line, the speed, opening and closing, reading what waits)
// goes through it. SerialLink is the real one over a serial port; the tests,
// the explorer, the fuzzer and the benches have links of their own.
#include <QString>
#include <QtGlobal>

class UnitLink
{
public:
    virtual ~UnitLink() = default;

    // The port's name as the user knows it ("ttyUSB0", "pts/4", "COM3").
    virtual QString name() const = 0;
    virtual bool isOpen() const = 0;
    // Writes size bytes and hands them to the system at once, not at the
    // port's next write notification, so a line leaves when the job's clock
    // says it did. Returns the bytes taken, -1 on a fault.
    virtual qint64 write(const char *data, qint64 size) = 0;
    // Sets the speed of an open port, or the one it opens at.
    virtual void setSpeed(qint32 baud) = 0;
    // Closes the port if it is open and opens it again at baud, asking the
    // driver for low latency. A port whose lock file would hold the open (or
    // lock it for nobody) is not tried. Returns why it could not be opened,
    // in words that name the fix; empty when it is open.
    virtual QString reopen(qint32 baud) = 0;
    // Hands what was written to the system without waiting.
    virtual void flush() = 0;
    // Closes the port; what was not handed to the system yet is dropped.
    virtual void close() = 0;
    // Closes the port once the call in progress is over: the link may be
    // inside its own notification (an unplugged adapter).
    virtual void closeLater() = 0;
    // Reads what has reached the port and was not read yet, handing it to the
    // engine (Sequencer::receive) before it returns. The engine calls it before
    // anything its clock makes it send: an event loop may run a due timer
    // before the port's read notification, and a reply read after the next
    // line went out would be taken for that line's.
    virtual void readWaiting() = 0;
};
