#pragma once
// The update dialog's job log kept line by line, so that one unit's part of
// it can be copied: the lines logged while the engine worked on the unit, and
// those that name its port.
#include <QString>
#include <QVector>

class UnitLog
{
public:
    // A line of the log; unit: the one the engine was working on, -1 for none.
    void append(int unit, const QString &line);
    // Unit's lines, portName the port the unit's row shows.
    QString of(int unit, const QString &portName) const;

private:
    struct Line {
        int unit;
        QString text;
    };
    QVector<Line> lines;
};
