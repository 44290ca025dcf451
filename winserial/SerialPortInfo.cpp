#include "qserialportinfo.h"

#include <windows.h>
#include <setupapi.h>

namespace {

// The Ports (COM & LPT) device class.
const GUID kPortsClass = { 0x4D36E978, 0xE325, 0x11CE, { 0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18 } };

QString fromWide(const wchar_t *text, DWORD bytes)
{
    QString s = QString::fromWCharArray(text, int(bytes / sizeof(wchar_t)));
    const int end = s.indexOf(QChar(0));
    return end < 0 ? s : s.left(end);
}

QString registryString(HKEY key, const wchar_t *name)
{
    wchar_t value[256];
    DWORD bytes = sizeof(value);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE *>(value), &bytes) != ERROR_SUCCESS
        || type != REG_SZ)
        return QString();
    return fromWide(value, bytes);
}

QString deviceProperty(HDEVINFO set, SP_DEVINFO_DATA &device, DWORD property)
{
    wchar_t value[512];
    DWORD bytes = 0;
    if (!SetupDiGetDeviceRegistryPropertyW(set, &device, property, nullptr, reinterpret_cast<BYTE *>(value),
                                           sizeof(value), &bytes))
        return QString();
    return fromWide(value, bytes); // the first string of a list
}

// "USB\VID_0403&PID_6001..." or "FTDIBUS\COMPORT&VID_0403&PID_6001".
bool hexAfter(const QString &id, const QString &tag, quint16 *out)
{
    const int at = id.indexOf(tag, 0, Qt::CaseInsensitive);
    if (at < 0)
        return false;
    bool ok = false;
    const uint v = id.mid(at + tag.size(), 4).toUInt(&ok, 16);
    if (ok)
        *out = quint16(v);
    return ok;
}

} // namespace

QSerialPortInfo::QSerialPortInfo(const QString &name)
{
    const auto ports = availablePorts();
    for (const QSerialPortInfo &p : ports) {
        if (p.portName().compare(name, Qt::CaseInsensitive) == 0) {
            *this = p;
            return;
        }
    }
    m_portName = name;
}

QString QSerialPortInfo::systemLocation() const
{
    return m_portName.isEmpty() ? QString() : QStringLiteral("\\\\.\\") + m_portName;
}

QList<QSerialPortInfo> QSerialPortInfo::availablePorts()
{
    QList<QSerialPortInfo> ports;
    const HDEVINFO set = SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof(device);
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
            const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            if (key == INVALID_HANDLE_VALUE)
                continue;
            const QString name = registryString(key, L"PortName");
            RegCloseKey(key);
            if (!name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
                continue; // a printer port
            QSerialPortInfo info;
            info.m_portName = name;
            info.m_description = deviceProperty(set, device, SPDRP_DEVICEDESC);
            info.m_manufacturer = deviceProperty(set, device, SPDRP_MFG);
            const QString hardwareId = deviceProperty(set, device, SPDRP_HARDWAREID);
            info.m_hasVendor = hexAfter(hardwareId, QStringLiteral("VID_"), &info.m_vendor);
            info.m_hasProduct = hexAfter(hardwareId, QStringLiteral("PID_"), &info.m_product);
            ports.append(info);
        }
        SetupDiDestroyDeviceInfoList(set);
    }

    HKEY map = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &map)
        == ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            wchar_t valueName[256];
            DWORD nameLength = 256;
            wchar_t value[256];
            DWORD bytes = sizeof(value);
            DWORD type = 0;
            if (RegEnumValueW(map, i, valueName, &nameLength, nullptr, &type, reinterpret_cast<BYTE *>(value),
                              &bytes)
                != ERROR_SUCCESS)
                break;
            if (type != REG_SZ)
                continue;
            const QString name = fromWide(value, bytes);
            bool known = false;
            for (const QSerialPortInfo &p : qAsConst(ports))
                known = known || p.portName().compare(name, Qt::CaseInsensitive) == 0;
            if (!known && !name.isEmpty()) {
                QSerialPortInfo info;
                info.m_portName = name;
                ports.append(info);
            }
        }
        RegCloseKey(map);
    }
    return ports;
}
