#include "CliList.h"

#include "Console.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

QByteArray CliList::text(const QList<Adapter> &adapters)
{
    if (adapters.isEmpty())
        return "No serial port found.\n";
    QString out;
    // Every value comes from the system or the adapter: escaped for the terminal.
    const auto row = [&out](const QString &what, const QString &value) {
        if (!value.isEmpty())
            out += QStringLiteral("  %1%2\n").arg(what, -14).arg(Console::shown(value));
    };
    for (const Adapter &a : adapters) {
        out += QStringLiteral("%1  %2\n")
                   .arg(Console::shown(a.device),
                       a.pickedUnnamed ? QStringLiteral("taken (FTDI)")
                               : QStringLiteral("not taken (no FTDI maker; name it with --port)"));
        row(QStringLiteral("maker"), a.manufacturer);
        row(QStringLiteral("description"), a.description);
        row(QStringLiteral("VID:PID"), a.vidPid());
        row(QStringLiteral("serial"), a.serial.isEmpty() ? QStringLiteral("(none)") : a.serial);
        row(QStringLiteral("location"), a.location);
        for (const QString &name : a.stableNames)
            row(QStringLiteral("stable name"), name);
        if (a.latencyMs >= 0)
            row(QStringLiteral("latency"), QStringLiteral("%1 ms").arg(a.latencyMs));
        row(QStringLiteral("cannot open"), a.problem);
    }
    return out.toLocal8Bit();
}

QByteArray CliList::json(const QList<Adapter> &adapters)
{
    QJsonArray list;
    for (const Adapter &a : adapters) {
        list.append(QJsonObject {
            { QStringLiteral("device"), a.device },
            { QStringLiteral("stableNames"), QJsonArray::fromStringList(a.stableNames) },
            { QStringLiteral("manufacturer"), a.manufacturer },
            { QStringLiteral("description"), a.description },
            { QStringLiteral("vidPid"), a.vidPid() },
            { QStringLiteral("serial"), a.serial },
            { QStringLiteral("location"), a.location },
            { QStringLiteral("latencyMs"), a.latencyMs >= 0 ? QJsonValue(a.latencyMs) : QJsonValue() },
            { QStringLiteral("taken"), a.pickedUnnamed },
            { QStringLiteral("problem"), a.problem },
        });
    }
    return QJsonDocument(QJsonObject { { QStringLiteral("ports"), list } }).toJson();
}
