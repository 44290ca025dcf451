#include "support/JobRig.h"

#include "ui_DialogBootload.h"
#include "engine/PortTest.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

JobRig::JobRig(int jobMode, const QList<SimConfig> &configs, const UpdateSource *source,
    const QString &expectedDir)
    : mode(jobMode)
{
    SimExpectation expected = SimExpectation::fromPayloadDir(
        expectedDir.isEmpty() ? QCoreApplication::applicationDirPath() : expectedDir);
    expected.hasFirmware = mode == FirmwareAndImages;
    expected.hasImages = mode != DeleteImages;
    QStringList paths;
    for (const SimConfig &config : configs) {
        units.push_back(std::make_unique<SimUnit>(config));
        if (!units.back()->open())
            return;
        units.back()->setExpectation(expected);
        paths << units.back()->path();
    }
    qputenv("ZQ_UPDATER_PORTS", paths.join(',').toLocal8Bit());
    dlg = std::make_unique<DialogBootload>(mode, nullptr, source);
    dlg->timer.setInterval(kTickMs);
}

bool JobRig::ready() const
{
    return dlg && dlg->ports.size() == static_cast<int>(units.size());
}

bool JobRig::ended(const PortTest *port)
{
    return port->jobState == Finish && port->tickCount >= 4;
}

bool JobRig::ended() const
{
    for (const PortTest *port : dlg->ports)
        if (!ended(port))
            return false;
    return true;
}

QString JobRig::log() const
{
    return dlg->ui->textEdit->toPlainText();
}

QByteArray JobRig::describe() const
{
    QByteArray text = "job log:\n" + log().toUtf8();
    for (const auto &unit : units)
        text += "\nunit: " + QJsonDocument(unit->report()).toJson(QJsonDocument::Compact);
    return text;
}

bool JobRig::unitUpdated(int i) const
{
    const SimUnit &unit = *units.at(static_cast<size_t>(i));
    const QJsonObject report = unit.report();
    if (!unit.exitReceived() || report["problemCount"].toInt() != 0)
        return false;
    if (mode == FirmwareAndImages && !report["flash"].toObject()["equal"].toBool())
        return false;
    if (mode != DeleteImages)
        return report["imagesEqual"].toBool();
    return unit.images().images().isEmpty();
}

SimConfig JobRig::quickUnit(quint32 seed)
{
    SimConfig config;
    config.seed = seed;
    config.restartMs = 50;
    config.eraseMs = 3 * kTickMs;
    return config;
}
