#pragma once
// A serial adapter as the system shows it: its device, its stable names (on
// Linux the links in /dev/serial/by-id and by-path), maker, USB identity,
// latency timer, whether the tool takes it, and why it can't be opened. The
// stable-name folder is ZQ_SERIAL_DIR when set (tests and benches point it at
// a simulated unit's folder); a device known only through that folder gets
// its serial number and USB location from the link names.
#include <QList>
#include <QString>
#include <QStringList>

struct Adapter {
    QString device; // the device path, links resolved: /dev/ttyUSB0
    QStringList stableNames; // the links to it, full paths
    QString manufacturer;
    QString description;
    int vendorId = -1; // -1: unknown
    int productId = -1;
    QString serial; // the USB serial number; empty when it has none
    QString location; // the USB socket: its name in the by-path folder
    int latencyMs = -1; // the FTDI latency timer; -1 where the system does not show it
    // An FTDI adapter: the tool picks it without its being named (--port,
    // ZQ_UPDATER_PORTS, a station slot).
    bool pickedUnnamed = false;
    QString problem; // why it can't be opened (see PortProblem::beforeOpening)

    // "0403:6001", or empty.
    QString vidPid() const;

    // Every serial port of the system and every device linked from the
    // stable-name folder, ordered by device path.
    static QList<Adapter> scan();
    // The stable-name folder: ZQ_SERIAL_DIR, else /dev/serial.
    static QString serialDir();
    // A by-id link name ("usb-FTDI_FT232R_USB_UART_A10K1234-if00-port0"):
    // the maker's first word and the serial number; false when it is no such name.
    static bool parseById(const QString &name, QString &maker, QString &serial);
    // A by-path link name ("pci-0000:00:14.0-usb-0:2.1:1.0-port0"): the USB
    // location, or empty.
    static QString locationFromPath(const QString &name);
};
