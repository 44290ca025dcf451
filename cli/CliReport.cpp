#include "CliReport.h"

#include "CliOptions.h"
#include "Console.h"
#include "engine/FileWrite.h"
#include "engine/TextColumns.h"
#include "payload/RawNames.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <vector>

QString CliReport::table() const
{
    const QStringList header { QStringLiteral("PORT"), QStringLiteral("UNIT VERSION"),
        QStringLiteral("RESULT"), QStringLiteral("TIME"), QStringLiteral("RESENDS"),
        QStringLiteral("REPLY MS") };
    std::vector<QStringList> rows { header };
    bool withSlots = false;
    for (const UnitRecord &u : units)
        withSlots = withSlots || !u.slot.isEmpty();
    // Names and texts from outside, shown on a terminal: escaped.
    for (const UnitRecord &u : units)
        rows.push_back({ Console::shown(u.port),
            u.unitVersion.isEmpty() ? QStringLiteral("-") : Console::shown(u.unitVersion),
            Console::shown(u.resultText()), QStringLiteral("%1 s").arg(u.seconds, 0, 'f', 1),
            QString::number(u.resends), QString::number(u.averageReplyMs, 'f', 2) });
    // With a station, the slot comes first.
    if (withSlots) {
        rows[0].prepend(QStringLiteral("SLOT"));
        for (int i = 0; i < units.size(); ++i)
            rows[i + 1].prepend(
                units.at(i).slot.isEmpty() ? QStringLiteral("-") : Console::shown(units.at(i).slot));
    }
    // Text columns to the left, figures to the right.
    return TextColumns::lay(rows, withSlots ? 4 : 3);
}

QByteArray CliReport::json() const
{
    QJsonArray list;
    for (const UnitRecord &u : units)
        list.append(u.json());
    const QJsonObject root {
        { QStringLiteral("tool"), QStringLiteral("zq-update") },
        { QStringLiteral("toolVersion"), toolVersion },
        { QStringLiteral("mode"), mode },
        { QStringLiteral("updateVersion"), updateVersion },
        { QStringLiteral("payload"), payloadDir },
        { QStringLiteral("package"), package },
        { QStringLiteral("packageSha256"), packageSha256 },
        { QStringLiteral("signed"), !signer.isEmpty() },
        { QStringLiteral("signer"), signer },
        { QStringLiteral("started"), started.toString(Qt::ISODateWithMs) },
        { QStringLiteral("ended"), ended.toString(Qt::ISODateWithMs) },
        { QStringLiteral("interrupted"), interrupted },
        { QStringLiteral("refused"), !refusal.isEmpty() },
        { QStringLiteral("reason"), refusal },
        { QStringLiteral("exitStatus"), exitStatus },
        { QStringLiteral("units"), list },
    };
    return QJsonDocument(root).toJson();
}

bool CliReport::write(const QString &file, QString &error) const
{
    return FileWrite::replaceWhole(file, json(), error);
}

CliReport CliReport::forRun(const CliOptions &options)
{
    CliReport r;
    r.toolVersion = QCoreApplication::applicationVersion();
    r.mode = UpdateModes::name(options.mode);
    // As given: a name that is not UTF-8 with \xNN, not the name it was reached by.
    r.payloadDir = options.packageFile.isEmpty() ? RawNames::shown(options.payloadDir) : QString();
    r.package = options.packageFile;
    return r;
}
