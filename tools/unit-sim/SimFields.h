#pragma once
// The fields of one command line, read as the unit's own parser reads them:
// numbers in hex whatever their form. Forms the tool should not send (lower
// case, extra leading zeros, a field too few) are counted as problems.
#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

class SimFields
{
public:
    SimFields(const QList<QByteArray> &fields, QMap<QString, int> &problems)
        : fields(fields)
        , problems(problems)
    {
    }

    // True when the line has at least n fields; else counted ("fieldCount").
    bool need(int n);
    // Field i, written "%X" (minDigits 1) or "%02X" (minDigits 2); another
    // form is counted ("numberForm") and read all the same.
    quint32 number(int i, int minDigits);
    // The fields from first on, each a byte written "%02X".
    QByteArray bytes(int first);
    // Field i as it came, or empty.
    QByteArray text(int i) const
    {
        return fields.value(i);
    }

private:
    const QList<QByteArray> &fields;
    QMap<QString, int> &problems;
};
