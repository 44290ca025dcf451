#include "CliReport.h"

#include "CliOptions.h"
#include "Console.h"
#include "engine/FileWrite.h"
#include "engine/UnitRunner.h"
#include "payload/RawNames.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <vector>

QString CliReport::stageName(UnitStatus::Stage stage)
{
    switch (stage) {
    case UnitStatus::Querying: return QStringLiteral("versionQuery");
    case UnitStatus::WaitingForBootloader: return QStringLiteral("waitingForBootloader");
    case UnitStatus::Firmware: return QStringLiteral("firmware");
    case UnitStatus::Images: return QStringLiteral("images");
    case UnitStatus::Erasing: return QStringLiteral("erasingImages");
    case UnitStatus::Finishing: return QStringLiteral("finishing");
    case UnitStatus::Updated: return QStringLiteral("updated");
    case UnitStatus::NotUpdated: return QStringLiteral("notUpdated");
    case UnitStatus::ConnectionLost: return QStringLiteral("connectionLost");
    }
    return QString();
}

QString CliReport::resultText(const Unit &unit)
{
    if (unit.result == QLatin1String("not updated") && !unit.reason.isEmpty())
        return unit.result + QStringLiteral(": ") + unit.reason;
    if (unit.result == QLatin1String("updated")
        && unit.confirmation == QLatin1String("not confirmed"))
        return QStringLiteral("updated, not confirmed");
    return unit.result;
}

QString CliReport::table() const
{
    const QStringList header { QStringLiteral("PORT"), QStringLiteral("UNIT VERSION"),
        QStringLiteral("RESULT"), QStringLiteral("TIME"), QStringLiteral("RESENDS"),
        QStringLiteral("REPLY MS") };
    std::vector<QStringList> rows { header };
    bool withSlots = false;
    for (const Unit &u : units)
        withSlots = withSlots || !u.slot.isEmpty();
    // Names and texts from outside, shown on a terminal: escaped.
    for (const Unit &u : units)
        rows.push_back({ Console::shown(u.port),
            u.unitVersion.isEmpty() ? QStringLiteral("-") : Console::shown(u.unitVersion),
            Console::shown(resultText(u)), QStringLiteral("%1 s").arg(u.seconds, 0, 'f', 1),
            QString::number(u.resends), QString::number(u.averageReplyMs, 'f', 2) });
    // With a station, the slot comes first.
    if (withSlots) {
        rows[0].prepend(QStringLiteral("SLOT"));
        for (int i = 0; i < units.size(); ++i)
            rows[i + 1].prepend(
                units.at(i).slot.isEmpty() ? QStringLiteral("-") : Console::shown(units.at(i).slot));
    }
    const int firstFigure = withSlots ? 4 : 3;
    std::vector<int> width(rows[0].size(), 0);
    for (const QStringList &row : rows)
        for (int c = 0; c < row.size(); ++c)
            width[c] = std::max(width[c], static_cast<int>(row.at(c).size()));
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (int c = 0; c < row.size(); ++c) {
            // Text columns to the left, figures to the right.
            const bool figure = c >= firstFigure;
            line += figure ? row.at(c).rightJustified(width[c]) : row.at(c).leftJustified(width[c]);
            if (c + 1 < row.size())
                line += QStringLiteral("  ");
        }
        text += line.trimmed() + QLatin1Char('\n');
    }
    return text;
}

QByteArray CliReport::json() const
{
    QJsonArray list;
    for (const Unit &u : units) {
        QJsonArray stages;
        for (const Stage &s : u.stages)
            stages.append(QJsonObject {
                { QStringLiteral("stage"), s.name }, { QStringLiteral("seconds"), s.seconds } });
        list.append(QJsonObject {
            { QStringLiteral("port"), u.port },
            { QStringLiteral("slot"), u.slot },
            { QStringLiteral("adapterSerial"), u.adapterSerial },
            { QStringLiteral("usbLocation"), u.usbLocation },
            { QStringLiteral("unitVersion"), u.unitVersion },
            { QStringLiteral("versionBefore"), u.unitVersion },
            { QStringLiteral("confirmation"), u.confirmation },
            { QStringLiteral("confirmedVersion"), u.confirmedVersion },
            { QStringLiteral("updateVersion"), updateVersion },
            { QStringLiteral("mode"), mode },
            { QStringLiteral("result"), u.result },
            { QStringLiteral("reason"), u.reason },
            { QStringLiteral("stages"), stages },
            { QStringLiteral("seconds"), u.seconds },
            { QStringLiteral("linesSent"), u.linesSent },
            { QStringLiteral("resends"), u.resends },
            { QStringLiteral("replies"), u.replies },
            { QStringLiteral("averageReplyMs"), u.averageReplyMs },
            { QStringLiteral("maximumReplyMs"), u.maximumReplyMs },
        });
    }
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

CliReport::Unit CliReport::unitOf(const UnitRunner &runner, int index, const QList<Stage> &stages)
{
    const UnitRunner::Unit &unit = runner.unit(index);
    const UnitStatus &s = runner.status(index);
    const UnitRunner::Figures f = runner.figures(index);
    Unit r;
    r.stages = stages;
    r.port = unit.path;
    r.slot = unit.target.slot;
    r.adapterSerial = unit.target.serial;
    r.usbLocation = unit.target.location;
    r.unitVersion = s.version;
    r.result = UnitRecord::resultOf(s, unit.interrupted);
    r.reason = s.stage == UnitStatus::Updated ? QString() : s.reason;
    r.confirmation = UnitRecord::confirmationOf(s);
    r.confirmedVersion = s.confirmedVersion;
    r.seconds = runner.seconds(index);
    r.linesSent = f.linesSent;
    r.resends = f.resends;
    r.replies = f.replies;
    r.averageReplyMs = f.averageReplyMs;
    r.maximumReplyMs = f.maximumReplyMs;
    return r;
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
