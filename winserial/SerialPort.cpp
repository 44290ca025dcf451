#include "qserialport.h"
#include "qserialportinfo.h"

#include <QLoggingCategory>
#include <QWinEventNotifier>
#include <windows.h>

// The port's steps and Win32 failures: QT_LOGGING_RULES="zq.serial.debug=true" shows them.
Q_LOGGING_CATEGORY(lcSerial, "zq.serial", QtWarningMsg)

namespace {

constexpr DWORD kReadChunk = 4096;
constexpr int kMaxAborts = 1000;

} // namespace

// The overlapped operations a port can have pending, and the buffer the read
// fills. They live on the heap: a block with an operation still pending when
// the port closes is left to the system rather than freed under it.
struct QSerialPort::Io
{
    OVERLAPPED comm {};
    OVERLAPPED read {};
    OVERLAPPED write {};
    bool commPending = false;
    bool readPending = false;
    char chunk[kReadChunk];
};

namespace {

bool deviceGone(DWORD code)
{
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_BROKEN_PIPE:
        return true;
    default:
        return false;
    }
}

void restart(OVERLAPPED &o)
{
    const HANDLE event = o.hEvent;
    o = OVERLAPPED();
    o.hEvent = event;
    ResetEvent(event);
}

bool waitDone(OVERLAPPED &o, DWORD msecs)
{
    return WaitForSingleObject(o.hEvent, msecs) == WAIT_OBJECT_0;
}

} // namespace

QSerialPort::QSerialPort(QObject *parent)
    : QIODevice(parent)
    , m_handle(INVALID_HANDLE_VALUE)
{
}

QSerialPort::~QSerialPort()
{
    close();
}

void QSerialPort::setPortName(const QString &name)
{
    m_name = name;
}

QString QSerialPort::portName() const
{
    return m_name;
}

void QSerialPort::setPort(const QSerialPortInfo &info)
{
    m_name = info.portName();
}

bool QSerialPort::isSequential() const
{
    return true;
}

bool QSerialPort::open(OpenMode mode)
{
    if (isOpen()) {
        m_error = OpenError;
        setErrorString(QStringLiteral("The port is already open"));
        emit errorOccurred(m_error);
        return false;
    }
    clearError();
    QString path = m_name;
    if (!path.startsWith(QLatin1String("\\\\")))
        path.prepend(QLatin1String("\\\\.\\"));
    DWORD access = 0;
    if (mode & ReadOnly)
        access |= GENERIC_READ;
    if (mode & WriteOnly)
        access |= GENERIC_WRITE;
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), access, 0, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            fail(DeviceNotFoundError, code);
        else if (code == ERROR_ACCESS_DENIED)
            fail(PermissionError, code);
        else
            fail(OpenError, code);
        return false;
    }
    m_handle = h;
    m_aborts = 0;
    qCDebug(lcSerial) << m_name << "open";

    // 8N1, no flow control, DTR and RTS on as a POSIX open leaves them.
    DCB dcb;
    dcb.DCBlength = sizeof(dcb);
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = MAXDWORD; // a read returns at once with what is there
    bool ok = GetCommState(h, &dcb) != 0;
    if (ok) {
        dcb.BaudRate = DWORD(m_baudRate);
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fInX = FALSE;
        dcb.fOutX = FALSE;
        dcb.fNull = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fAbortOnError = FALSE;
        ok = SetCommState(h, &dcb) && SetCommTimeouts(h, &timeouts) && SetCommMask(h, EV_RXCHAR);
    }
    if (!ok) {
        const DWORD code = GetLastError();
        CloseHandle(h);
        m_handle = INVALID_HANDLE_VALUE;
        fail(OpenError, code);
        return false;
    }

    m_io = new Io;
    m_io->comm.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_io->read.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_io->write.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_commNotifier = new QWinEventNotifier(m_io->comm.hEvent, this);
    connect(m_commNotifier, &QWinEventNotifier::activated, this, [this] { commEventDone(); });
    m_readNotifier = new QWinEventNotifier(m_io->read.hEvent, this);
    connect(m_readNotifier, &QWinEventNotifier::activated, this, [this] { readDone(); });
    m_writeNotifier = new QWinEventNotifier(m_io->write.hEvent, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QWinEventNotifier::activated, this, [this] { writeDone(); });

    QIODevice::open(mode);
    if (!startRead()) {
        close();
        return false;
    }
    return true;
}

void QSerialPort::close()
{
    if (m_handle == INVALID_HANDLE_VALUE) {
        QIODevice::close();
        return;
    }
    qCDebug(lcSerial) << m_name << "close";
    QIODevice::close();
    CancelIo(m_handle);
    releaseHandles();
    m_rx.clear();
    m_tx.clear();
    m_writing = 0;
}

// Waits briefly for the cancelled operations; an operation that has not
// finished keeps its Io block, which is then not freed.
void QSerialPort::releaseHandles()
{
    // This may run from a notifier's own signal: they go from the event loop.
    for (QWinEventNotifier *n : { m_commNotifier, m_readNotifier, m_writeNotifier }) {
        n->setEnabled(false);
        n->deleteLater();
    }
    m_commNotifier = nullptr;
    m_readNotifier = nullptr;
    m_writeNotifier = nullptr;
    bool settled = true;
    if (m_io->commPending && !waitDone(m_io->comm, 1000))
        settled = false;
    if (m_io->readPending && !waitDone(m_io->read, 1000))
        settled = false;
    if (m_writing > 0 && !waitDone(m_io->write, 1000))
        settled = false;
    CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
    if (settled) {
        CloseHandle(m_io->comm.hEvent);
        CloseHandle(m_io->read.hEvent);
        CloseHandle(m_io->write.hEvent);
        delete m_io;
    }
    m_io = nullptr;
}

bool QSerialPort::setBaudRate(qint32 baudRate, Directions directions)
{
    if (directions != AllDirections) {
        m_error = UnsupportedOperationError;
        setErrorString(QStringLiteral("A baud rate for one direction only is not supported"));
        emit errorOccurred(m_error);
        return false;
    }
    m_baudRate = baudRate;
    qCDebug(lcSerial) << m_name << "baud" << baudRate;
    return m_handle == INVALID_HANDLE_VALUE || applyBaudRate();
}

qint32 QSerialPort::baudRate(Directions) const
{
    return m_baudRate;
}

bool QSerialPort::applyBaudRate()
{
    DCB dcb;
    dcb.DCBlength = sizeof(dcb);
    if (!GetCommState(m_handle, &dcb)) {
        fail(UnsupportedOperationError, GetLastError());
        return false;
    }
    dcb.BaudRate = DWORD(m_baudRate);
    if (!SetCommState(m_handle, &dcb)) {
        fail(UnsupportedOperationError, GetLastError());
        return false;
    }
    return true;
}

bool QSerialPort::flush()
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return false;
    return startWrite();
}

bool QSerialPort::clear(Directions directions)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD flags = 0;
    if (directions & Input) {
        flags |= PURGE_RXCLEAR;
        m_rx.clear();
    }
    if (directions & Output) {
        flags |= PURGE_TXCLEAR;
        m_tx.remove(m_writing, m_tx.size() - int(m_writing));
    }
    if (!PurgeComm(m_handle, flags)) {
        fail(UnknownError, GetLastError());
        return false;
    }
    return true;
}

QSerialPort::SerialPortError QSerialPort::error() const
{
    return m_error;
}

void QSerialPort::clearError()
{
    m_error = NoError;
}

void *QSerialPort::handle() const
{
    return m_handle;
}

qint64 QSerialPort::bytesAvailable() const
{
    return m_rx.size() + QIODevice::bytesAvailable();
}

qint64 QSerialPort::bytesToWrite() const
{
    return m_tx.size() + QIODevice::bytesToWrite();
}

bool QSerialPort::waitForReadyRead(int msecs)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return false;
    const qint64 before = m_rx.size();
    const DWORD start = GetTickCount();
    while (m_handle != INVALID_HANDLE_VALUE && m_rx.size() == before) {
        // A wait of 0 ms still looks once for what has come.
        const DWORD spent = GetTickCount() - start;
        if (msecs >= 0 && spent > DWORD(msecs))
            return false;
        const HANDLE events[] = { m_io->comm.hEvent, m_io->read.hEvent };
        const DWORD which = WaitForMultipleObjects(2, events, FALSE, msecs < 0 ? INFINITE : DWORD(msecs) - spent);
        if (which == WAIT_OBJECT_0)
            commEventDone();
        else if (which == WAIT_OBJECT_0 + 1)
            readDone();
        else
            return false;
    }
    return m_rx.size() > before;
}

bool QSerialPort::waitForBytesWritten(int msecs)
{
    if (m_handle == INVALID_HANDLE_VALUE || m_tx.isEmpty())
        return false;
    if (m_writing == 0 && !startWrite())
        return false;
    if (!waitDone(m_io->write, msecs < 0 ? INFINITE : DWORD(msecs)))
        return false;
    return finishWrite(false);
}

qint64 QSerialPort::readData(char *data, qint64 maxSize)
{
    const int n = int(qMin<qint64>(maxSize, m_rx.size()));
    memcpy(data, m_rx.constData(), size_t(n));
    m_rx.remove(0, n);
    return n;
}

qint64 QSerialPort::writeData(const char *data, qint64 size)
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return -1;
    m_tx.append(data, int(size));
    if (!m_writeQueued && m_writing == 0) {
        m_writeQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_writeQueued = false;
                if (m_handle != INVALID_HANDLE_VALUE)
                    startWrite();
            },
            Qt::QueuedConnection);
    }
    return size;
}

void QSerialPort::fail(SerialPortError error, unsigned long code)
{
    qCDebug(lcSerial) << m_name << "error" << error << "Win32 error" << code;
    m_error = error;
    setErrorString(qt_error_string(int(code)));
    if (error == ResourceError) {
        // Nothing more will come from this handle: stop the notifiers so a
        // signalled event does not wake the loop again and again.
        if (m_commNotifier)
            m_commNotifier->setEnabled(false);
        if (m_readNotifier)
            m_readNotifier->setEnabled(false);
        if (m_writeNotifier)
            m_writeNotifier->setEnabled(false);
    }
    emit errorOccurred(error);
}

bool QSerialPort::startWaitComm()
{
    restart(m_io->comm);
    m_eventMask = 0;
    m_io->commPending = true;
    if (WaitCommEvent(m_handle, &m_eventMask, &m_io->comm))
        return true; // done already; the event is set and the notifier fires
    const DWORD code = GetLastError();
    if (code == ERROR_IO_PENDING)
        return true;
    m_io->commPending = false;
    fail(ResourceError, code);
    return false;
}

// A wait or read that failed. Wine's serial driver ends a pending wait with
// ERROR_OPERATION_ABORTED now and then while the port is fine: such a wait or
// read is started again (true), up to kMaxAborts times in a row without data.
// Anything else fails the port (false).
bool QSerialPort::aborted(unsigned long code)
{
    qCDebug(lcSerial) << m_name << "wait or read ended with Win32 error" << code;
    if (code == ERROR_OPERATION_ABORTED && ++m_aborts <= kMaxAborts)
        return true;
    fail(deviceGone(code) || code == ERROR_OPERATION_ABORTED ? ResourceError : ReadError, code);
    return false;
}

// A character arrived (or the driver says something did): read what is there.
void QSerialPort::commEventDone()
{
    if (m_handle == INVALID_HANDLE_VALUE || !m_io->commPending)
        return;
    DWORD ignored = 0;
    if (!GetOverlappedResult(m_handle, &m_io->comm, &ignored, FALSE)) {
        const DWORD code = GetLastError();
        if (code == ERROR_IO_INCOMPLETE)
            return;
        m_io->commPending = false;
        if (!aborted(code))
            return;
    }
    m_io->commPending = false;
    qCDebug(lcSerial) << m_name << "comm event" << m_eventMask;
    startRead();
}

// With a read interval time-out of MAXDWORD a read returns at once with what
// the driver holds, nothing included: then a wait for the next character
// comes first. Wine's driver on a pseudo-terminal lets the read wait for its
// first byte instead, and its wait may miss a character: so after a read that
// brought data the next read starts straight away, and a wait follows only a
// read that came back empty.
bool QSerialPort::startRead()
{
    restart(m_io->read);
    m_io->readPending = true;
    if (ReadFile(m_handle, m_io->chunk, kReadChunk, nullptr, &m_io->read))
        return true; // done already; the event is set and the notifier fires
    const DWORD code = GetLastError();
    if (code == ERROR_IO_PENDING)
        return true;
    m_io->readPending = false;
    fail(deviceGone(code) ? ResourceError : ReadError, code);
    return false;
}

// Takes what the read brought, starts the next read (or, after an empty one,
// the wait), then says readyRead.
void QSerialPort::readDone()
{
    if (m_handle == INVALID_HANDLE_VALUE || !m_io->readPending)
        return;
    DWORD got = 0;
    if (!GetOverlappedResult(m_handle, &m_io->read, &got, FALSE)) {
        const DWORD code = GetLastError();
        if (code == ERROR_IO_INCOMPLETE)
            return;
        m_io->readPending = false;
        if (aborted(code))
            startRead();
        return;
    }
    m_io->readPending = false;
    if (got > 0)
        m_aborts = 0;
    qCDebug(lcSerial) << m_name << "read" << got;
    m_rx.append(m_io->chunk, int(got));
    if (got > 0)
        startRead();
    else
        startWaitComm();
    if (got > 0)
        emit readyRead();
}

bool QSerialPort::startWrite()
{
    if (m_handle == INVALID_HANDLE_VALUE || m_writing > 0 || m_tx.isEmpty())
        return true;
    restart(m_io->write);
    const DWORD size = DWORD(m_tx.size());
    if (!WriteFile(m_handle, m_tx.constData(), size, nullptr, &m_io->write)) {
        const DWORD code = GetLastError();
        if (code != ERROR_IO_PENDING) {
            fail(deviceGone(code) ? ResourceError : WriteError, code);
            return false;
        }
    }
    m_writing = size;
    m_writeNotifier->setEnabled(true);
    return true;
}

void QSerialPort::writeDone()
{
    if (finishWrite(false))
        startWrite();
}

bool QSerialPort::finishWrite(bool wait)
{
    if (m_handle == INVALID_HANDLE_VALUE || m_writing == 0)
        return false;
    DWORD written = 0;
    if (!GetOverlappedResult(m_handle, &m_io->write, &written, wait ? TRUE : FALSE)) {
        const DWORD code = GetLastError();
        if (code == ERROR_IO_INCOMPLETE)
            return false;
        m_writing = 0;
        m_writeNotifier->setEnabled(false);
        fail(deviceGone(code) ? ResourceError : WriteError, code);
        return false;
    }
    m_writing = 0;
    m_writeNotifier->setEnabled(false);
    qCDebug(lcSerial) << m_name << "wrote" << written;
    m_tx.remove(0, int(written));
    if (written > 0)
        emit bytesWritten(qint64(written));
    return true;
}
