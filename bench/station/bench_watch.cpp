// zq-update --watch with a station of 16 slots chosen by serial number, in a
// stable-name folder of its own (ZQ_SERIAL_DIR): first the tool's CPU share
// while every slot is empty (from /proc/<pid>/stat), then, over many plugs,
// the time from an adapter's by-id link appearing (a pseudo-terminal) to the
// first byte of the version query at the unit's end of the cable. The plugs come at random moments, so they
// fall anywhere in the tool's look and job timer periods.
//
//   bench_watch [SECONDS_IDLE [PLUGS]]   (30 and 40 by default)
#include "ProcessCpu.h"

#include "PtyPair.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSlots = 16;

bool waitForEvent(QProcess &tool, const QString &kind, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        while (tool.canReadLine()) {
            const QJsonObject e = QJsonDocument::fromJson(tool.readLine()).object();
            if (e.value(QStringLiteral("event")).toString() == kind)
                return true;
        }
        tool.waitForReadyRead(5);
    }
    return false;
}

// Waits for the tool's first byte on the unit's end of the cable.
bool waitForByte(int fd, int timeoutMs)
{
    pollfd p { fd, POLLIN, 0 };
    if (::poll(&p, 1, timeoutMs) <= 0)
        return false;
    char buffer[256];
    return ::read(fd, buffer, sizeof buffer) > 0;
}

void printSpread(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("plug to %s over %zu plugs: median %.0f ms, worst %.0f ms, best %.0f ms\n", what,
        ms.size(), ms[ms.size() / 2], ms.back(), ms.front());
}

QString serial(int slot)
{
    return QStringLiteral("ST%1").arg(slot, 2, 10, QLatin1Char('0'));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int watchSeconds = argc > 1 ? QByteArray(argv[1]).toInt() : 30;
    const int plugs = argc > 2 ? QByteArray(argv[2]).toInt() : 40;
    QTemporaryDir dir;
    const QString serialDir = dir.filePath(QStringLiteral("serial"));
    QDir().mkpath(serialDir + QStringLiteral("/by-id"));
    QDir().mkpath(serialDir + QStringLiteral("/by-path"));
    QString slotList;
    for (int i = 1; i <= kSlots; ++i)
        slotList += QStringLiteral("%1{ \"name\": \"S%2\", \"serial\": \"%3\" }")
                     .arg(i > 1 ? QStringLiteral(", ") : QString())
                     .arg(i)
                     .arg(serial(i));
    QFile station(dir.filePath(QStringLiteral("station.json")));
    station.open(QIODevice::WriteOnly);
    station.write(QStringLiteral("{ \"slots\": [ %1 ] }").arg(slotList).toUtf8());
    station.close();

    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZQ_SERIAL_DIR"), serialDir);
    tool.setProcessEnvironment(env);
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(QStringLiteral(ZQ_UPDATE),
        { "--watch", "--events", "--quiet", "--mode", "erase-images", "--station",
            station.fileName(), "--payload", dir.path() });
    if (!tool.waitForStarted(10000))
        return 1;
    QThread::sleep(1); // past its start-up
    const double cpu0 = cpuSeconds(tool.processId());
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(static_cast<unsigned long>(watchSeconds));
    const double share = (cpuSeconds(tool.processId()) - cpu0) / (wall.elapsed() / 1000.0);
    std::printf("watching %d empty slots for %d s: %.3f %% of one core\n", kSlots, watchSeconds,
        100.0 * share);

    std::vector<double> firstByte;
    for (int plug = 1; plug <= plugs; ++plug) {
        QThread::msleep(QRandomGenerator::global()->bounded(500));
        PtyPair pty;
        if (!pty.open())
            return 1;
        const QString link = QStringLiteral("%1/by-id/usb-FTDI_FT232R_USB_UART_%2-if00-port0")
                                 .arg(serialDir, serial((plug - 1) % kSlots + 1));
        QElapsedTimer clock;
        clock.start();
        QFile::link(pty.slavePath(), link);
        if (!waitForByte(pty.masterFd(), 10000))
            return 1;
        firstByte.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        // The event was written before the byte; it is read after, not to
        // delay the byte's wait.
        if (!waitForEvent(tool, QStringLiteral("appeared"), 10000))
            return 1;
        QFile::remove(link);
        if (!waitForEvent(tool, QStringLiteral("removed"), 10000))
            return 1;
    }
    printSpread("first byte at the unit", firstByte);
    tool.terminate();
    tool.waitForFinished(10000);
    return 0;
}
