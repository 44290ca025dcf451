#pragma once
// What the job engine needs of a front end (the update dialog, the command
// line, a test's fake host): writing lines to a unit (through its job's
// UnitLink, or wherever a fake keeps them), the job log, the unit's version
// and progress, per-unit events, and the one clock the engine reads. The
// engine works the unit's port itself through that UnitLink.
#include <QString>
#include <QtGlobal>

class UnitJob;

class JobHost
{
public:
    virtual ~JobHost() = default;

    // Completes the command text in the caller's kLineBufferSize buffer with its
    // checksum (in place) and writes it to port.
    virtual void sendLine(UnitJob *port, char *text) = 0;
    // Writes text unframed, with a line feed appended if it lacks one ("$G").
    virtual void sendRaw(UnitJob *port, const QString &text) = 0;
    // One line of the job log the user reads.
    virtual void logJob(const QString &line) = 0;
    // The unit's "$MVERR" version text arrived.
    virtual void showUnitVersion(UnitJob *port, const QString &version) = 0;
    // The firmware and image progress of the unit that moved last.
    virtual void setFirmwareProgress(int value) = 0;
    virtual void setImageProgress(int value) = 0;
    // The unit's status (UnitJob::status) changed: stage, progress or outcome.
    virtual void unitChanged(UnitJob *port) { Q_UNUSED(port); }
    // A complete line arrived from port (before it is handled).
    virtual void lineReceived(UnitJob *port) { Q_UNUSED(port); }
    // Asks for Sequencer::wake(port) once ms milliseconds have passed; a later
    // request for the same port replaces an earlier one.
    virtual void wakeAfter(UnitJob *port, int ms) { Q_UNUSED(port); Q_UNUSED(ms); }
    // Monotonic nanoseconds: the engine's only clock.
    virtual qint64 nowNs() const;
};
