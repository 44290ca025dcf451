// The low-latency request on Windows: the FTDI driver keeps its latency timer
// in the adapter's driver settings, so the program can only tell the user.
#include "engine/LowLatency.h"

#include "link/Diagnostics.h"

bool LowLatency::request(const QString &portName, qintptr handle)
{
    Q_UNUSED(handle);
    qCDebug(lcJob).noquote() << "Low latency not set on" << portName
                             << "- a driver setting on this platform";
    return false;
}

QString LowLatency::slowReplyAdvice(const QString &portName, double averageReplyMs)
{
    if (averageReplyMs <= kSlowReplyMs)
        return QString();
    return QStringLiteral("%1: replies took %2 ms on average; the adapter's latency timer holds "
                          "them back. Lower it to 1 ms: Device Manager, Ports (COM & LPT), the "
                          "adapter's \"USB Serial Port\", Properties, Port Settings, Advanced, "
                          "Latency Timer (msec): 1.")
        .arg(portName)
        .arg(averageReplyMs, 0, 'f', 1);
}
