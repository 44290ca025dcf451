#pragma once
// The end of a zq-update run: the table (with what is to stand below it) on
// standard output, or with the human lines on standard error when standard
// output carries the events; the --report file; the notes on what the run
// left; the "finished" event.
#include <QString>
#include <QStringList>

class CliEvents;
class CliProgress;
class CliReport;
struct CliOptions;

struct CliClosing {
    const CliOptions &options;
    const CliEvents &events;
    CliProgress &progress;

    // Writes it all for report; returns the run's exit status: the report's,
    // or 1 when the report asked for could not be written. recordsLost: the
    // records the --log file did not get.
    int finish(const CliReport &report, const QString &below, const QStringList &notes,
        int recordsLost) const;
};
