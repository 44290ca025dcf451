#pragma once
// A whole job in the test's own event loop: one update dialog driving one
// simulated unit per config over pseudo-terminals. The dialog's timer runs
// faster than in the field (kTickMs a step), so waits counted in steps take a
// fraction of a second; delays a unit adds are given in steps too.
#include "SimUnit.h"
#include "window/DialogBootload.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <memory>
#include <vector>

class PortTest;

class JobRig
{
public:
    static constexpr int kTickMs = 40;
    static constexpr int kTimeoutMs = 180000;

    // The payload beside the test program is what the units are expected to hold,
    // or, given, the payload in expectedDir, sent from source (a package).
    JobRig(int mode, const QList<SimConfig> &configs, const UpdateSource *source = nullptr,
        const QString &expectedDir = QString());

    // Every unit got its pseudo-terminal and the dialog a port for each.
    bool ready() const;
    // A port's job, or every port's job, has written its closing line.
    static bool ended(const PortTest *port);
    bool ended() const;

    QString log() const;
    // The job log and every unit's report, for failure messages.
    QByteArray describe() const;
    // Unit i received "$X", saw no protocol problem and holds what the job wrote.
    bool unitUpdated(int i) const;

    // A unit that restarts and erases quickly, with the given fault seed.
    static SimConfig quickUnit(quint32 seed);

    const int mode;
    std::vector<std::unique_ptr<SimUnit>> units;
    std::unique_ptr<DialogBootload> dlg;
};
