#pragma once
// A unit's link over a serial port (an FTDI adapter, a pseudo-terminal): the
// one place of the engine that works a QSerialPort. What it reads, and an
// adapter that disappears, go to the handlers its owner (UnitRunner) sets.
#include "engine/UnitLink.h"

#include <QByteArray>
#include <QSerialPort>

#include <functional>

class SerialLink : public UnitLink
{
public:
    explicit SerialLink(const QString &name);
    ~SerialLink() override; // closes the port without telling the handlers

    // Bytes that arrived, read in one piece; the connection broke.
    std::function<void(const QByteArray &bytes)> received;
    std::function<void()> lost;

    QString name() const override;
    bool isOpen() const override;
    qint64 write(const char *data, qint64 size) override;
    void setSpeed(qint32 baud) override;
    QString reopen(qint32 baud) override;
    void flush() override;
    void close() override;
    void closeLater() override;
    void readWaiting() override;

private:
    void readArrived();

    QSerialPort port;
    QString path; // the name or path the port was given
};
