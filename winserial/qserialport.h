#pragma once
// A Windows serial port with the part of Qt Serial Port's QSerialPort that
// this program uses, for a Windows build made where Qt Serial Port itself is
// not to be had. Where Qt's module is found the build uses it and this folder
// is left out.
//
// The port is opened overlapped. Reading: overlapped ReadFiles of what the
// driver holds (read interval time-out MAXDWORD) while they bring data, an
// overlapped WaitCommEvent for EV_RXCHAR after one that came back empty.
// Writing: written bytes queue here and go
// out by overlapped WriteFile from the event loop, or at once through flush().
// A failed wait, read or write after open is a ResourceError, as an unplugged
// adapter is with Qt's module.
#include <QByteArray>
#include <QIODevice>
#include <QString>

class QSerialPortInfo;
class QWinEventNotifier;

class QSerialPort : public QIODevice
{
    Q_OBJECT

public:
    enum Direction { Input = 1, Output = 2, AllDirections = Input | Output };
    Q_DECLARE_FLAGS(Directions, Direction)

    enum SerialPortError {
        NoError,
        DeviceNotFoundError,
        PermissionError,
        OpenError,
        WriteError = 7,
        ReadError,
        ResourceError,
        UnsupportedOperationError,
        UnknownError,
        TimeoutError,
        NotOpenError,
    };
    Q_ENUM(SerialPortError)

    explicit QSerialPort(QObject *parent = nullptr);
    ~QSerialPort() override;

    void setPortName(const QString &name);
    QString portName() const;
    void setPort(const QSerialPortInfo &info);

    bool open(OpenMode mode) override;
    void close() override;
    bool isSequential() const override;

    bool setBaudRate(qint32 baudRate, Directions directions = AllDirections);
    qint32 baudRate(Directions directions = AllDirections) const;

    // Starts writing what is queued now rather than from the event loop.
    bool flush();
    bool clear(Directions directions = AllDirections);

    SerialPortError error() const;
    void clearError();
    // The Win32 HANDLE of the open port.
    void *handle() const;

    qint64 bytesAvailable() const override;
    qint64 bytesToWrite() const override;
    bool waitForReadyRead(int msecs = 30000) override;
    bool waitForBytesWritten(int msecs = 30000) override;

signals:
    void errorOccurred(QSerialPort::SerialPortError error);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    void fail(SerialPortError error, unsigned long code);
    bool applyBaudRate();
    bool startWaitComm();
    bool aborted(unsigned long code);
    void commEventDone();
    bool startRead();
    void readDone();
    bool startWrite();
    void writeDone();
    bool finishWrite(bool wait);
    void releaseHandles();

    QString m_name;
    qint32 m_baudRate = 9600;
    SerialPortError m_error = NoError;
    void *m_handle;
    QByteArray m_rx;
    QByteArray m_tx;
    qint64 m_writing = 0;      // bytes of m_tx in the pending WriteFile
    bool m_writeQueued = false; // a write is due from the event loop
    unsigned long m_eventMask = 0;
    int m_aborts = 0; // waits and reads ended by ERROR_OPERATION_ABORTED since data last came
    struct Io;
    Io *m_io = nullptr;
    QWinEventNotifier *m_commNotifier = nullptr;
    QWinEventNotifier *m_readNotifier = nullptr;
    QWinEventNotifier *m_writeNotifier = nullptr;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(QSerialPort::Directions)
