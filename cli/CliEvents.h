#pragma once
// --events: what a line controller follows as the run goes, one JSON object a
// line on standard output, each written and flushed whole: a unit appeared,
// its stage changed, every 10 % of its progress, it ended (with its record),
// its adapter was removed; the run was refused or finished.
#include <QJsonObject>
#include <QString>

class CliEvents
{
public:
    explicit CliEvents(bool enabled)
        : on(enabled)
    {
    }
    bool enabled() const { return on; }

    // One event: {"event": kind, "time": now (UTC), ...fields}.
    void emitEvent(const QString &kind, QJsonObject fields) const;

private:
    bool on;
};
