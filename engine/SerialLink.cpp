#include "engine/SerialLink.h"

#include "link/Diagnostics.h"
#include "engine/LowLatency.h"
#include "engine/PortDiscovery.h"
#include "engine/PortProblem.h"

#include <QTimer>
#include <algorithm>

SerialLink::SerialLink(const QString &name)
    : path(name)
{
    port.setPortName(name);
    QObject::connect(&port, &QIODevice::readyRead, &port, [this] { readArrived(); });
    // An unplugged adapter ends that unit's job; the others go on.
    QObject::connect(
        &port, &QSerialPort::errorOccurred, &port, [this](QSerialPort::SerialPortError e) {
            if (e == QSerialPort::ResourceError && lost)
                lost();
        });
}

SerialLink::~SerialLink()
{
    // Closing tells the owner, and its view, of nothing more.
    QObject::disconnect(&port, nullptr, nullptr, nullptr);
    if (port.isOpen())
        port.close();
}

QString SerialLink::name() const
{
    return port.portName();
}

bool SerialLink::isOpen() const
{
    return port.isOpen();
}

// The first flush writes the line; the second finds nothing left to write and
// switches the write notification off, which would otherwise wake the event
// loop once more for the line. Neither changes a byte on the wire.
qint64 SerialLink::write(const char *data, qint64 size)
{
    const qint64 n = port.write(data, size);
    port.flush();
    port.flush();
    return n;
}

void SerialLink::setSpeed(qint32 baud)
{
    port.setBaudRate(baud, QSerialPort::AllDirections);
}

QString SerialLink::reopen(qint32 baud)
{
    if (port.isOpen())
        port.close();
    port.setBaudRate(baud, QSerialPort::AllDirections);
    // Qt reads the lock file when it opens the port: one that is no regular
    // file (a FIFO planted in the lock folder) would hold the open for ever.
    const QString lock = PortProblem::lockFileProblem(PortProblem::devicePath(path));
    if (!lock.isEmpty())
        return lock;
    if (!port.open(QIODevice::ReadWrite)) {
        qCDebug(lcJob).noquote() << "Could not open" << port.portName() << port.errorString();
        return PortProblem::explain(path, port.error(), port.errorString());
    }
    LowLatency::request(port.portName(), qintptr(port.handle()));
    return QString();
}

void SerialLink::flush()
{
    port.flush();
}

void SerialLink::close()
{
    port.close();
}

void SerialLink::closeLater()
{
    QTimer::singleShot(0, &port, [this] {
        if (port.isOpen())
            port.close();
    });
}

void SerialLink::readWaiting()
{
    if (!port.isOpen())
        return;
    // Nothing there: the wait of 0 ms times out, which is no fault of the port.
    if (!port.waitForReadyRead(0) && port.error() == QSerialPort::TimeoutError)
        port.clearError();
}

// What waits is handed on in one piece, as one read; the few bytes of a reply
// or two are read into the stack, not into a new array each time.
void SerialLink::readArrived()
{
    char bytes[2048];
    const qint64 waiting = port.bytesAvailable();
    if (waiting > 0 && waiting <= static_cast<qint64>(sizeof bytes)) {
        const qint64 n = std::max<qint64>(port.read(bytes, waiting), 0);
        if (received)
            received(QByteArray::fromRawData(bytes, static_cast<int>(n)));
    } else {
        const QByteArray all = port.readAll();
        if (received)
            received(all);
    }
}
