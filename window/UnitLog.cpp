#include "window/UnitLog.h"

#include <QStringList>

namespace {

// Whether line names the port: its name, not as part of a longer name
// ("pts/5" is not named by "pts/51").
bool namesPort(const QString &line, const QString &name)
{
    if (name.isEmpty())
        return false;
    for (int at = line.indexOf(name); at >= 0; at = line.indexOf(name, at + 1)) {
        const int end = at + name.size();
        if ((at == 0 || !line.at(at - 1).isLetterOrNumber())
            && (end == line.size() || !line.at(end).isLetterOrNumber()))
            return true;
    }
    return false;
}

} // namespace

void UnitLog::append(int unit, const QString &line)
{
    lines.append({ unit, line });
}

QString UnitLog::of(int unit, const QString &portName) const
{
    QStringList own;
    for (const Line &line : lines) {
        if (line.unit == unit || namesPort(line.text, portName))
            own.append(line.text);
    }
    return own.join(QLatin1Char('\n'));
}
