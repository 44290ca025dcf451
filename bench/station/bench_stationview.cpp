// The window's station view idle: zq-updater --station with 16 slots chosen by
// serial number, none plugged in (an empty stable-name folder of its own,
// ZQ_SERIAL_DIR), and its CPU share over SECONDS (from /proc/<pid>/stat).
// It needs a display: run it under xvfb-run (scripts/bench does).
//
//   bench_stationview [SECONDS]   (20 by default)
#include "ProcessCpu.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kSlots = 16;

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? QByteArray(argv[1]).toInt() : 20;
    QTemporaryDir dir;
    const QString serialDir = dir.filePath(QStringLiteral("serial"));
    QDir().mkpath(serialDir + QStringLiteral("/by-id"));
    QDir().mkpath(serialDir + QStringLiteral("/by-path"));
    const QString payload = dir.filePath(QStringLiteral("payload"));
    QDir().mkpath(payload);
    QProcess make;
    make.setStandardOutputFile(QProcess::nullDevice());
    make.start(QStringLiteral(ZQ_MAKE_PAYLOAD), { payload });
    if (!make.waitForFinished(60000) || make.exitCode() != 0) {
        std::fprintf(stderr, "bench_stationview: no payload\n");
        return 1;
    }
    QString places;
    for (int i = 1; i <= kSlots; ++i)
        places += QStringLiteral("%1{ \"name\": \"S%2\", \"serial\": \"B%2\" }")
                     .arg(i > 1 ? QStringLiteral(", ") : QString())
                     .arg(i, 2, 10, QLatin1Char('0'));
    QFile station(dir.filePath(QStringLiteral("station.json")));
    if (!station.open(QIODevice::WriteOnly))
        return 1;
    station.write(QStringLiteral("{ \"slots\": [ %1 ] }").arg(places).toUtf8());
    station.close();

    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZQ_SERIAL_DIR"), serialDir);
    env.insert(QStringLiteral("ZQ_UPDATER_PORTS"), QString());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    tool.setProcessEnvironment(env);
    tool.setStandardErrorFile(QProcess::nullDevice()); // its diagnostics
    tool.start(QStringLiteral(ZQ_UPDATER), { QStringLiteral("--station"), station.fileName(), payload });
    if (!tool.waitForStarted(10000))
        return 1;
    QThread::sleep(3); // past its start-up and first paint
    const double cpu0 = cpuSeconds(tool.processId());
    QElapsedTimer wall;
    wall.start();
    QThread::sleep(static_cast<unsigned long>(seconds));
    const double share = (cpuSeconds(tool.processId()) - cpu0) / (wall.elapsed() / 1000.0);
    std::printf("station view, %d empty slots, idle for %d s: %.3f %% of one core\n", kSlots,
        seconds, 100 * share);
    tool.kill();
    tool.waitForFinished(10000);
    return share < 0.01 ? 0 : 1;
}
