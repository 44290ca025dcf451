#include "CliEvents.h"

#include <QDateTime>
#include <QJsonDocument>
#include <cstdio>

void CliEvents::emitEvent(const QString &kind, QJsonObject fields) const
{
    if (!on)
        return;
    fields.insert(QStringLiteral("event"), kind);
    fields.insert(QStringLiteral("time"),
        QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    const QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fflush(stdout);
}
