#pragma once
// What a front end (the update dialog, the command line, a test) shows of the
// jobs a UnitRunner runs. Units are named by their index in the runner.
#include <QString>
#include <QtGlobal>

class RunnerView
{
public:
    virtual ~RunnerView() = default;

    // One line of the job log; unit is the one the engine was working on
    // when it was written, -1 for none.
    virtual void logLine(int unit, const QString &line) = 0;
    // The unit was added, its port opened or not (before anything is logged of it).
    virtual void unitAdded(int unit) { Q_UNUSED(unit); }
    // The unit's status (stage, progress, outcome) changed.
    virtual void unitChanged(int unit) { Q_UNUSED(unit); }
    // The unit's job ended, told once: its record can be written.
    virtual void unitEnded(int unit) { Q_UNUSED(unit); }
    // The job timer stepped the unit, or a wake-up did (a resend may be out).
    virtual void unitStepped(int unit) { Q_UNUSED(unit); }
    // The unit's "$MVERR" version text arrived.
    virtual void unitVersion(int unit, const QString &version)
    {
        Q_UNUSED(unit);
        Q_UNUSED(version);
    }
    // A framed line went out to the unit; a whole line came in from it.
    virtual void lineSent(int unit) { Q_UNUSED(unit); }
    virtual void lineReceived(int unit) { Q_UNUSED(unit); }
    // The firmware and image progress of the unit that moved last.
    virtual void firmwareProgress(int value) { Q_UNUSED(value); }
    virtual void imageProgress(int value) { Q_UNUSED(value); }
};
