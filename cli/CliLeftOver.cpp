#include "CliLeftOver.h"

#include "engine/UnitRunner.h"

QStringList CliLeftOver::notes(const UnitRunner &runner)
{
    QStringList captured; // in the bootloader, captured by this run, not finished
    QStringList restarting; // told to start the bootloader ("$BOOTLOADM" sent), not captured yet
    for (int i = 0; i < runner.count(); ++i) {
        if (runner.ended(i))
            continue;
        const QString what
            = QStringLiteral("%1 (%2)").arg(runner.unit(i).path, runner.status(i).text());
        switch (runner.leftOnUnit(i)) {
        case LeftOnUnit::InBootloader: captured << what; break;
        case LeftOnUnit::Restarting: restarting << what; break;
        case LeftOnUnit::Nothing: break;
        }
    }
    QStringList notes;
    if (!captured.isEmpty())
        notes << QStringLiteral("Left in the bootloader, not finished: %1.")
                     .arg(captured.join(QStringLiteral(", ")));
    if (!restarting.isEmpty())
        notes << QStringLiteral("Told to start the bootloader, not captured yet: %1. It may be "
                                "in its bootloader now.")
                     .arg(restarting.join(QStringLiteral(", ")));
    // Said only when no unit was told to start its bootloader: one that was
    // may be in it, answered or not.
    if (captured.isEmpty() && restarting.isEmpty())
        notes << QStringLiteral("No unit was left in its bootloader.");
    else
        notes << QStringLiteral(
            "Run the same command again to finish them: a unit already in its bootloader is "
            "taken up after the version query. If the job log then says no bootloader was "
            "seen, power-cycle that unit.");
    return notes;
}
