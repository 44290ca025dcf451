#pragma once
// --events: what a line controller follows as the run goes, one JSON object a
// line on standard output, each written and flushed whole: a unit appeared,
// its stage changed, every 10 % of its progress, it ended (with its record),
// its adapter was removed; the run was refused or finished.
#include "engine/UnitStatus.h"

#include <QJsonObject>
#include <QString>

struct UnitTarget;

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

    // What every event of a unit names: its slot, port and adapter.
    static QJsonObject unitFields(const UnitTarget &target, const QString &port);
    // The unit's status changed: a "stage" event when its stage is new
    // (stageChanged), else a "progress" event for each new tenth of its
    // progress; none once it ended. decile: the last tenth sent.
    void unitChanged(const QJsonObject &unit, const UnitStatus &status, bool stageChanged,
        int &decile) const;

private:
    bool on;
};
