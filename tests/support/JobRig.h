#pragma once
// A whole job in the test's own event loop: one simulated unit per config over
// pseudo-terminals, driven by the engine's runner alone or through the update
// dialog. The job timer runs faster than in the field (kTickMs a step), so
// waits counted in steps take a fraction of a second; delays a unit adds are
// given in steps too.
#include "SimUnit.h"
#include "engine/RunnerView.h"
#include "engine/UnitRunner.h"
#include "payload/UpdateMode.h"
#include "window/DialogBootload.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class UnitJob;
struct UpdateSource;

// A job on the units of configs, run to its end.
#define START_JOB(rig, mode, ...)                                                                  \
    JobRig rig(mode, __VA_ARGS__);                                                                 \
    QVERIFY(rig.ready());                                                                          \
    QTRY_VERIFY_WITH_TIMEOUT(rig.ended(), JobRig::kTimeoutMs)

#define VERIFY_UPDATED(rig, i) QVERIFY2((rig).unitUpdated(i), (rig).describe().constData())

class JobRig : public RunnerView
{
public:
    static constexpr int kTickMs = 40;
    static constexpr int kTimeoutMs = 180000;
    enum Front { Runner, Dialog };

    // The payload beside the test program is what the units are expected to hold,
    // or, given, the payload in expectedDir, sent from source (a package).
    JobRig(UpdateMode mode, const QList<SimConfig> &configs, const UpdateSource *source = nullptr,
        const QString &expectedDir = QString(), Front front = Runner);
    ~JobRig() override;

    // Every unit got its pseudo-terminal and the job a port for each.
    bool ready() const;
    // The same units again in a new job (Runner front).
    void runAgain();
    // The job's ports (the runner's, or the dialog's).
    const UnitRunner &jobs() const;
    UnitJob *port(int i) const { return jobs().port(i); }
    // Every port's job has written its closing line.
    bool ended() const;

    QString log() const;
    // The job log and every unit's report, for failure messages.
    QByteArray describe() const;
    // Unit i received "$X" (unless exitMayBeLost), saw no protocol problem and
    // holds what the job wrote.
    bool unitUpdated(int i, bool exitMayBeLost = false) const;

    // A unit that restarts and erases quickly, with the given fault seed.
    static SimConfig quickUnit(quint32 seed);

    const UpdateMode mode;
    std::vector<std::unique_ptr<SimUnit>> units;
    std::unique_ptr<DialogBootload> dlg; // the Dialog front
    std::unique_ptr<UnitRunner> runner; // the Runner front
    // What the Runner front showed: the log, the versions, the last progress.
    QStringList lines;
    QStringList versions;
    int firmwareShown = 0;
    int imagesShown = 0;

private:
    void startRunner(const UpdateSource *source);
    void logLine(int, const QString &line) override { lines << line; }
    void unitVersion(int, const QString &version) override { versions << version; }
    void firmwareProgress(int value) override { firmwareShown = value; }
    void imageProgress(int value) override { imagesShown = value; }
};
