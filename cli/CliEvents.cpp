#include "CliEvents.h"

#include "Console.h"
#include "engine/UnitRecord.h"
#include "engine/UnitTarget.h"

#include <QDateTime>
#include <QJsonDocument>

void CliEvents::emitEvent(const QString &kind, QJsonObject fields) const
{
    if (!on)
        return;
    fields.insert(QStringLiteral("event"), kind);
    fields.insert(QStringLiteral("time"),
        QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    const QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n';
    Console::writeOut(line);
}

QJsonObject CliEvents::unitFields(const UnitTarget &target, const QString &port)
{
    return QJsonObject { { QStringLiteral("slot"), target.slot }, { QStringLiteral("port"), port },
        { QStringLiteral("adapterSerial"), target.serial },
        { QStringLiteral("usbLocation"), target.location } };
}

void CliEvents::unitChanged(
    const QJsonObject &unit, const UnitStatus &status, bool stageChanged, int &decile) const
{
    if (status.ended())
        return;
    QJsonObject fields = unit;
    fields.insert(QStringLiteral("stage"), UnitRecord::stageName(status.stage));
    if (stageChanged) {
        fields.insert(QStringLiteral("percent"), status.percent);
        emitEvent(QStringLiteral("stage"), fields);
        decile = status.percent / 10;
    } else if (status.percent / 10 > decile) {
        decile = status.percent / 10;
        fields.insert(QStringLiteral("percent"), decile * 10);
        emitEvent(QStringLiteral("progress"), fields);
    }
}
