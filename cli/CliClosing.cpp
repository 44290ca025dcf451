#include "CliClosing.h"

#include "CliEvents.h"
#include "CliOptions.h"
#include "CliProgress.h"
#include "CliReport.h"
#include "Console.h"

#include <QJsonObject>

int CliClosing::finish(
    const CliReport &report, const QString &below, const QStringList &notes, int recordsLost) const
{
    int exitStatus = report.exitStatus;
    const QByteArray table = (report.table() + below).toLocal8Bit();
    if (events.enabled())
        Console::writeErr(table);
    else
        Console::writeOut(table);
    if (!options.reportFile.isEmpty()) {
        QString error;
        if (!report.write(options.reportFile, error)) {
            progress.error(
                QStringLiteral("Could not write the report %1: %2").arg(options.reportFile, error));
            if (exitStatus == 0)
                exitStatus = 1; // the report asked for is missing
        }
    }
    for (const QString &note : notes)
        progress.error(note);
    events.emitEvent(QStringLiteral("finished"),
        QJsonObject { { QStringLiteral("exitStatus"), exitStatus },
            { QStringLiteral("recordsNotWritten"), recordsLost } });
    return exitStatus;
}
