#include "engine/Adapter.h"

#include "engine/PortDiscovery.h"
#include "engine/PortProblem.h"
#include "payload/FileRead.h"
#include "payload/ReadLimits.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

QString Adapter::vidPid() const
{
    if (vendorId < 0 || productId < 0)
        return QString();
    return QStringLiteral("%1:%2")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'));
}

QString Adapter::serialDir()
{
    const QString dir = qEnvironmentVariable("ZQ_SERIAL_DIR");
    return dir.isEmpty() ? QStringLiteral("/dev/serial") : dir;
}

bool Adapter::parseById(const QString &name, QString &maker, QString &serial)
{
    // udev's pattern: usb-<maker>_<model>_<serial>-if<NN>[-port<N>], blanks as
    // "_"; a name ending in "_" before "-if" has a blank serial number.
    if (!name.startsWith(QLatin1String("usb-")))
        return false;
    QString body = name.mid(4);
    const int iface = body.lastIndexOf(QLatin1String("-if"));
    if (iface > 0)
        body.truncate(iface);
    const int lastWord = body.lastIndexOf(QLatin1Char('_'));
    if (lastWord <= 0)
        return false;
    serial = body.mid(lastWord + 1);
    maker = body.left(body.indexOf(QLatin1Char('_')));
    return true;
}

QString Adapter::locationFromPath(const QString &name)
{
    return name.contains(QLatin1String("usb")) ? name : QString();
}

namespace {

int indexOf(const QList<Adapter> &found, const QString &device)
{
    for (int i = 0; i < found.size(); ++i)
        if (found.at(i).device == device)
            return i;
    return -1;
}

// The ports the system's serial port scan names, each with its own identity.
QList<Adapter> systemPorts()
{
    QList<Adapter> found;
    const auto infos = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : infos) {
        Adapter a;
        a.device = PortProblem::devicePath(info.systemLocation());
        a.manufacturer = info.manufacturer();
        a.description = info.description();
        if (info.hasVendorIdentifier())
            a.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            a.productId = info.productIdentifier();
        a.serial = info.serialNumber();
        QByteArray latency;
        QString error;
        if (FileRead::read(QStringLiteral("/sys/bus/usb-serial/devices/%1/latency_timer")
                               .arg(info.portName()),
                ReadLimits::kKernelFileBytes, latency, error)) {
            bool ok = false;
            const int ms = latency.trimmed().toInt(&ok);
            if (ok)
                a.latencyMs = ms;
        }
        if (indexOf(found, a.device) < 0)
            found.append(a);
    }
    return found;
}

} // namespace

QList<Adapter> Adapter::scan()
{
    QList<Adapter> found = systemPorts();
    const int known = found.size(); // those the system's scan named: their own identity counts
    const QDir dir(serialDir());
    for (const QString &kind : { QStringLiteral("by-id"), QStringLiteral("by-path") }) {
        const QDir links(dir.filePath(kind));
        const QStringList names = links.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QString &name : names) {
            const QString link = links.filePath(name);
            const QString device = QFileInfo(link).canonicalFilePath();
            if (device.isEmpty())
                continue; // a dangling link: the adapter just went away
            int i = indexOf(found, device);
            if (i < 0) {
                Adapter a;
                a.device = device;
                found.append(a);
                i = found.size() - 1;
            }
            Adapter &a = found[i];
            a.stableNames.append(link);
            if (kind == QLatin1String("by-id")) {
                QString maker;
                QString serial;
                if (i >= known && parseById(name, maker, serial)) {
                    a.serial = serial;
                    a.manufacturer = maker;
                }
            } else if (a.location.isEmpty()) {
                a.location = locationFromPath(name);
            }
        }
    }

    for (Adapter &a : found) {
        a.pickedUnnamed = a.manufacturer.contains(QLatin1String(PortDiscovery::kAdapterMaker));
        a.problem = PortProblem::beforeOpening(a.device);
    }
    std::sort(found.begin(), found.end(),
        [](const Adapter &x, const Adapter &y) { return x.device < y.device; });
    return found;
}
