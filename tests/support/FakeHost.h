#pragma once
// A front end for the job engine without a window or a port: it keeps the
// lines the engine writes, the job log and the progress, and its clock moves
// only when the test moves it. It is the unit's link too: it keeps whether
// the port is open and at which speed.
#include "engine/JobHost.h"
#include "engine/UnitJob.h"
#include "engine/Sequencer.h"

#include <QByteArrayList>
#include <QStringList>

class FakeHost : public JobHost, public UnitLink
{
public:
    explicit FakeHost(UpdateMode mode = UpdateMode::FirmwareAndImages);

    void sendLine(UnitJob *port, char *text) override;
    void sendRaw(UnitJob *port, const QString &text) override;
    void logJob(const QString &line) override { log << line; }
    void showUnitVersion(UnitJob *, const QString &) override { }
    void setFirmwareProgress(int value) override { firmwareProgress = value; }
    void setImageProgress(int) override { }
    void unitChanged(UnitJob *port) override { stages << port->status.text(); }
    void wakeAfter(UnitJob *, int ms) override { wakeMs = ms; }
    qint64 nowNs() const override { return clockMs * 1000000; }

    // UnitLink: nothing is written through it (sendLine keeps the lines).
    QString name() const override { return QStringLiteral("fake"); }
    bool isOpen() const override { return open; }
    qint64 write(const char *, qint64 size) override { return size; }
    void setSpeed(qint32 value) override { baud = value; }
    QString reopen(qint32 value) override;
    void flush() override { }
    void close() override { open = false; }
    void closeLater() override { open = false; }
    // Hands the bytes waiting at the port (waiting) to the engine.
    void readWaiting() override;
    // "closed", or the speed the port is open at.
    QString portState() const { return open ? QString::number(baud) : QStringLiteral("closed"); }

    // Steps the port n times, the clock moving one tick each.
    void step(int n = 1);
    // The unit's reply, taken as the port delivered it (a line feed is added).
    void reply(const QByteArray &text);
    // The lines written since the last call, without checksum and line feed
    // ("$G" as written).
    QByteArrayList sent();
    bool logged(const QString &text) const { return log.join('\n').contains(text); }

    UnitJob port { *this };
    Sequencer engine { *this };
    QByteArrayList written;
    QByteArray waiting; // reached the port, not read yet: the next readWaiting reads it
    QStringList log;
    QStringList stages;
    int firmwareProgress = 0;
    int wakeMs = -1;
    qint64 clockMs = 0;
    bool open = true; // as a runner's port that opened
    qint32 baud = 19200;
};
