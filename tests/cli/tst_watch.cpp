// --watch in process: the watch and the command line's job host on a real
// pseudo-terminal that stands for a plugged adapter (a by-id link in a
// stable-name folder of the test's own, ZQ_SERIAL_DIR). The event loop does not
// run while the unit's end is read, so the job timer can't tick: whatever the
// unit sees was sent when its adapter was found.
#include "cli/CliEvents.h"
#include "cli/CliJob.h"
#include "cli/CliOptions.h"
#include "engine/StationWatch.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <poll.h>
#include <unistd.h>

#include "PtyPair.h"

namespace {

// What the tool wrote to the unit's end within timeoutMs (no event loop runs).
QByteArray readUnitEnd(int fd, int timeoutMs)
{
    QByteArray bytes;
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        const qint64 left = timeoutMs - clock.elapsed();
        pollfd p { fd, POLLIN, 0 };
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
            return bytes;
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return bytes;
        bytes.append(buffer, static_cast<int>(n));
        if (bytes.endsWith('\n'))
            return bytes;
    }
}

} // namespace

class TestWatch : public QObject
{
    Q_OBJECT

private slots:
    // A slot's adapter is found while the run goes on: its version query goes
    // out then, not at the job timer's next tick.
    void pluggedUnitQueriedAtOnce()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString serialDir = dir.filePath(QStringLiteral("serial"));
        QVERIFY(QDir().mkpath(serialDir + QStringLiteral("/by-id")) && QDir().mkpath(serialDir + QStringLiteral("/by-path")));
        qputenv("ZQ_SERIAL_DIR", QFile::encodeName(serialDir));

        PtyPair pty;
        QVERIFY(pty.open());
        QVERIFY(QFile::link(pty.slavePath(),
            serialDir + QStringLiteral("/by-id/usb-FTDI_FT232R_USB_UART_W1-if00-port0")));

        CliOptions options;
        options.quiet = true;
        const JobPayload payload;
        const CliEvents events(false);
        CliJob job(options, payload, UnitRecord::Update(), events, false);
        job.setWatching(true);
        job.start({});
        StationFile station;
        station.places.append({ QStringLiteral("A"), QStringLiteral("W1"), QString() });
        StationWatch watch(job, station, {});
        watch.start(); // its first look finds the adapter

        const QByteArray sent = readUnitEnd(pty.masterFd(), 5000);
        QVERIFY2(sent.startsWith("$MVER"), sent.constData());
        qunsetenv("ZQ_SERIAL_DIR");
    }

    // Ports that appear by the hundred start their jobs a pass of the event
    // loop at a time, so a stop (SIGTERM) between two passes starts no more.
    void manyPortsStartAPassAtATime()
    {
        struct Host : StationHost {
            int added = 0;
            int addUnit(const UnitTarget &) override { return added++; }
            void adapterGone(int) override { }
            void slotHeld(const QString &, const QString &, bool) override { }
        } stopped, left;
        QTemporaryDir dir;
        QStringList ports;
        for (int i = 0; i < 200; ++i) {
            ports << dir.filePath(QString::number(i));
            QVERIFY(QFile(ports.last()).open(QIODevice::WriteOnly));
        }
        StationWatch first(stopped, StationFile(), ports);
        first.start();
        QVERIFY2(stopped.added > 0 && stopped.added < ports.size(), QByteArray::number(stopped.added));
        first.stop();
        const int before = stopped.added;
        QCoreApplication::processEvents();
        QCOMPARE(stopped.added, before);
        StationWatch second(left, StationFile(), ports);
        second.start();
        QTRY_COMPARE(left.added, ports.size());
    }
};

QTEST_GUILESS_MAIN(TestWatch)
#include "tst_watch.moc"
