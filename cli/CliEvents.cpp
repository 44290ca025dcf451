#include "CliEvents.h"

#include "Console.h"

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
