#pragma once
// The job of zq-update: the job engine's host on the command line. It opens
// every port, steps each unit's job on the 500 ms timer and on its replies as
// the update dialog does, shows progress and the job log on standard error,
// and when every unit's job has ended (or the run is interrupted) prints the
// table, writes the report and tells its exit status.
#include "CliPayload.h"
#include "CliProgress.h"
#include "CliReport.h"
#include "engine/JobHost.h"
#include "engine/PortDiscovery.h"
#include "engine/Sequencer.h"
#include "engine/WakeTimers.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class PortTest;
struct CliOptions;

class CliJob : public QObject, public JobHost
{
    Q_OBJECT

public:
    // terminal: standard error is a terminal (live progress lines).
    CliJob(const CliOptions &options, const CliPayload &payload, bool terminal,
        QObject *parent = nullptr);
    ~CliJob() override;

    // Opens a port for each candidate and starts every job.
    void start(const QList<PortCandidate> &candidates);
    // Stops every job (Ctrl-C: sig 2, SIGTERM: 15), closes the ports and ends.
    void interrupt(int sig);

    // JobHost.
    void sendLine(PortTest *port, char *text) override;
    void sendRaw(PortTest *port, const QString &text) override;
    void logJob(const QString &line) override;
    void showUnitVersion(PortTest *port, const QString &version) override;
    void setFirmwareProgress(int value) override;
    void setImageProgress(int value) override;
    void unitChanged(PortTest *port) override;
    void lineReceived(PortTest *port) override;
    void wakeAfter(PortTest *port, int ms) override { wakeTimers.wakeAfter(port, ms); }

signals:
    // The run is over: the table is printed and the report written.
    void finished(int exitStatus);

private:
    // What the host keeps of one unit beside the engine's record.
    struct Unit {
        PortTest *port = nullptr;
        QString path; // as shown and reported
        bool opened = false;
        bool interrupted = false;
        CliReport::Unit report;
        UnitStatus::Stage lastStage = UnitStatus::Querying;
        bool anyStage = false;
        double endedAt = -1; // seconds since the start
        int repliesSeen = 0; // timing.replyCount at the last sample
        qint64 replyNsSeen = 0; // timing.replyNsTotal likewise
        qint64 maxReplyNs = 0;
    };

    int indexOf(const PortTest *port) const;
    void tick();
    void receiveFrom(Unit &unit);
    void sampleReplies(Unit &unit);
    bool allEnded() const;
    void endWhenDone();
    void end(int exitStatus);
    CliReport::Unit reportOf(Unit &unit) const;

    const CliOptions &options;
    Sequencer sequencer { *this };
    CliProgress progress;
    CliReport report;
    QList<Unit> units;
    WakeTimers wakeTimers { [this](PortTest *port) {
        current = port;
        sequencer.wake(port);
        current = nullptr;
    } };
    QTimer timer; // Timeouts::kTickMs; steps every unit's job
    PortTest *current = nullptr; // the port the engine is working on
    bool ending = false;
    QStringList interruptNotes; // printed after the table
};
