#include "records/RecordQuery.h"

#include "engine/TextColumns.h"
#include "payload/ShownText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStringList>
#include <QTimeZone>

#include <vector>

QString RecordQuery::where(QVariantList &values) const
{
    QStringList terms;
    const auto equal = [&](const char *column, const QString &value) {
        if (value.isEmpty())
            return;
        terms << QStringLiteral("%1 = ?").arg(QLatin1String(column));
        values << value;
    };
    equal("adapter_serial", serial);
    equal("slot", slot);
    equal("station", station);
    equal("result", result);
    equal("update_version", version);
    if (since.isValid()) {
        terms << QStringLiteral("recorded_at >= ?");
        values << timeText(since);
    }
    if (until.isValid()) {
        terms << QStringLiteral("recorded_at < ?");
        values << timeText(until);
    }
    return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

QString RecordQuery::timeText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"));
}

QDateTime RecordQuery::parseTime(const QString &text, bool end)
{
    const QDate day = QDate::fromString(text, Qt::ISODate);
    if (day.isValid() && text.size() == 10) {
        const QDateTime start(end ? day.addDays(1) : day, QTime(0, 0), QTimeZone::utc());
        return start;
    }
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid())
        return t;
    if (t.timeSpec() == Qt::LocalTime && !text.endsWith(QLatin1Char('Z')) && !text.contains(QLatin1Char('+')))
        t = QDateTime(t.date(), t.time(), QTimeZone::utc());
    return t.toUTC();
}

const QStringList &RecordQuery::csvFields()
{
    static const QStringList fields { QStringLiteral("time"), QStringLiteral("host"),
        QStringLiteral("slot"), QStringLiteral("port"), QStringLiteral("adapterSerial"),
        QStringLiteral("usbLocation"), QStringLiteral("versionBefore"),
        QStringLiteral("updateVersion"), QStringLiteral("mode"), QStringLiteral("result"),
        QStringLiteral("reason"), QStringLiteral("confirmation"),
        QStringLiteral("confirmedVersion"), QStringLiteral("seconds"), QStringLiteral("resends"),
        QStringLiteral("package"), QStringLiteral("signer"), QStringLiteral("toolVersion"),
        QStringLiteral("uuid") };
    return fields;
}

namespace {

QString text(const QJsonObject &r, const char *field)
{
    const QJsonValue v = r.value(QLatin1String(field));
    if (v.isDouble())
        return QString::number(v.toDouble());
    return v.toString();
}

QString csvCell(QString cell)
{
    if (!cell.isEmpty() && QStringLiteral("=+-@\t\r").contains(cell.at(0)))
        cell.prepend(QLatin1Char('\''));
    if (cell.contains(QLatin1Char('"')) || cell.contains(QLatin1Char(',')) || cell.contains(QLatin1Char('\n'))
        || cell.contains(QLatin1Char('\r')) || cell.contains(QLatin1Char('\'')))
        return QLatin1Char('"') + cell.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return cell;
}

// Text from outside (another station may have written it) made safe for a
// terminal, "-" for none.
QString shown(const QString &s)
{
    return s.isEmpty() ? QStringLiteral("-") : ShownText::of(s);
}

} // namespace

QString RecordQuery::table(const QList<QJsonObject> &records)
{
    std::vector<QStringList> rows { { QStringLiteral("TIME (UTC)"), QStringLiteral("STATION"),
        QStringLiteral("SLOT"), QStringLiteral("SERIAL"), QStringLiteral("BEFORE"),
        QStringLiteral("UPDATE"), QStringLiteral("RESULT"), QStringLiteral("PORT") } };
    for (const QJsonObject &r : records) {
        QString result = text(r, "result");
        if (!text(r, "reason").isEmpty() && result != QLatin1String("updated"))
            result += QStringLiteral(": ") + text(r, "reason");
        else if (text(r, "confirmation") == QLatin1String("not confirmed"))
            result = QStringLiteral("updated, not confirmed");
        rows.push_back({ text(r, "time").left(19).replace(QLatin1Char('T'), QLatin1Char(' ')),
            shown(text(r, "host")), shown(text(r, "slot")), shown(text(r, "adapterSerial")),
            shown(text(r, "versionBefore")), shown(text(r, "updateVersion")), shown(result),
            shown(text(r, "port")) });
    }
    return TextColumns::lay(rows);
}

QByteArray RecordQuery::csv(const QList<QJsonObject> &records)
{
    QString out = csvFields().join(QLatin1Char(',')) + QStringLiteral("\r\n");
    for (const QJsonObject &r : records) {
        QStringList cells;
        for (const QString &f : csvFields())
            cells << csvCell(text(r, f.toLatin1().constData()));
        out += cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return out.toUtf8();
}

QByteArray RecordQuery::json(const QList<QJsonObject> &records)
{
    QJsonArray list;
    for (const QJsonObject &r : records)
        list.append(r);
    return QJsonDocument(list).toJson();
}
