#include "CliStation.h"

#include "engine/UnitRunner.h"

#include <algorithm>

QString CliStation::summary(const UnitRunner &runner, double hours)
{
    QStringList names;
    QList<int> updated;
    QList<int> notUpdated;
    for (int u = 0; u < runner.count(); ++u) {
        const UnitRunner::Unit &unit = runner.unit(u);
        const QString name = unit.target.slot.isEmpty() ? unit.path : unit.target.slot;
        int i = static_cast<int>(names.indexOf(name));
        if (i < 0) {
            names << name;
            updated << 0;
            notUpdated << 0;
            i = static_cast<int>(names.size()) - 1;
        }
        if (!unit.interrupted && runner.status(u).stage == UnitStatus::Updated)
            ++updated[i];
        else
            ++notUpdated[i];
    }
    int width = 4;
    for (const QString &name : std::as_const(names))
        width = std::max(width, static_cast<int>(name.size()));
    QString text = QStringLiteral("\nStation summary: %1 min %2 s\n")
                       .arg(static_cast<int>(hours * 60))
                       .arg(static_cast<int>(hours * 3600) % 60);
    text += QStringLiteral("%1  UPDATED  NOT UPDATED\n").arg(QStringLiteral("SLOT"), -width);
    int total = 0;
    int failed = 0;
    for (int i = 0; i < names.size(); ++i) {
        text += QStringLiteral("%1  %2  %3\n")
                    .arg(names.at(i), -width)
                    .arg(updated.at(i), 7)
                    .arg(notUpdated.at(i), 11);
        total += updated.at(i);
        failed += notUpdated.at(i);
    }
    text += QStringLiteral("Line: %1 updated, %2 not updated, %3 units per hour\n")
                .arg(total)
                .arg(failed)
                .arg(hours > 0 ? total / hours : 0.0, 0, 'f', 1);
    return text;
}
