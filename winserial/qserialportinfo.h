#pragma once
// The serial ports Windows knows, with the part of Qt Serial Port's
// QSerialPortInfo that this program uses (see qserialport.h).
#include <QList>
#include <QString>

class QSerialPortInfo
{
public:
    QSerialPortInfo() = default;
    explicit QSerialPortInfo(const QString &name);

    QString portName() const { return m_portName; }
    QString systemLocation() const;
    QString description() const { return m_description; }
    QString manufacturer() const { return m_manufacturer; }
    quint16 vendorIdentifier() const { return m_vendor; }
    quint16 productIdentifier() const { return m_product; }
    bool hasVendorIdentifier() const { return m_hasVendor; }
    bool hasProductIdentifier() const { return m_hasProduct; }
    // The USB serial number: not read here, always empty.
    QString serialNumber() const { return QString(); }
    bool isNull() const { return m_portName.isEmpty(); }

    // The ports of the Ports (COM & LPT) class that are present, then any
    // other the system lists under HARDWARE\DEVICEMAP\SERIALCOMM.
    static QList<QSerialPortInfo> availablePorts();

private:
    QString m_portName;
    QString m_description;
    QString m_manufacturer;
    quint16 m_vendor = 0;
    quint16 m_product = 0;
    bool m_hasVendor = false;
    bool m_hasProduct = false;
};
