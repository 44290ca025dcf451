#include "support/JobRig.h"

#include "engine/Adapter.h"
#include "engine/JobPayload.h"
#include "engine/PortDiscovery.h"
#include "engine/UnitJob.h"
#include "engine/UpdateSource.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextEdit>

JobRig::JobRig(UpdateMode jobMode, const QList<SimConfig> &configs, const UpdateSource *source,
    const QString &expectedDir, Front front)
    : mode(jobMode)
{
    SimExpectation expected = SimExpectation::fromPayloadDir(
        expectedDir.isEmpty() ? QCoreApplication::applicationDirPath() : expectedDir);
    expected.hasFirmware = mode == UpdateMode::FirmwareAndImages;
    expected.hasImages = mode != UpdateMode::DeleteImages;
    QStringList paths;
    for (const SimConfig &config : configs) {
        units.push_back(std::make_unique<SimUnit>(config));
        if (!units.back()->open())
            return;
        units.back()->setExpectation(expected);
        paths << units.back()->path();
    }
    qputenv("ZQ_UPDATER_PORTS", paths.join(',').toLocal8Bit());
    if (front == Dialog) {
        dlg = std::make_unique<DialogBootload>(mode, nullptr, source);
        dlg->jobs().setTickMs(kTickMs);
    } else {
        startRunner(source);
    }
}

JobRig::~JobRig() = default;

// The job as the front ends set it up: the payload beside the program (or
// the package), each unit's version asked again after "$X".
void JobRig::startRunner(const UpdateSource *source)
{
    runner = std::make_unique<UnitRunner>(*this);
    const JobPayload payload = source && source->isPackage
        ? JobPayload::fromPackage(source->package, source->path, mode)
        : JobPayload::read(QCoreApplication::applicationDirPath(), mode);
    runner->sequencer.inputs = payload.inputs;
    runner->sequencer.inputs.confirmVersion = true;
    for (const UnitTarget &target : PortDiscovery::unasked(Adapter::scan()))
        runner->addUnit(target);
    runner->setTickMs(kTickMs);
    runner->start();
}

void JobRig::runAgain()
{
    runner.reset();
    lines.clear();
    versions.clear();
    startRunner(nullptr);
}

const UnitRunner &JobRig::jobs() const
{
    return dlg ? dlg->jobs() : *runner;
}

bool JobRig::ready() const
{
    return (dlg || runner) && jobs().count() == static_cast<int>(units.size());
}

bool JobRig::ended() const
{
    for (int i = 0; i < jobs().count(); ++i)
        if (!jobs().port(i)->finished())
            return false;
    return true;
}

QString JobRig::log() const
{
    return dlg ? dlg->findChild<QTextEdit *>(QStringLiteral("textEdit"))->toPlainText() : lines.join(QLatin1Char('\n'));
}

QByteArray JobRig::describe() const
{
    QByteArray text = "job log:\n" + log().toUtf8();
    for (const auto &unit : units)
        text += "\nunit: " + QJsonDocument(unit->report()).toJson(QJsonDocument::Compact);
    return text;
}

bool JobRig::unitUpdated(int i, bool exitMayBeLost) const
{
    const SimUnit &unit = *units.at(static_cast<size_t>(i));
    const QJsonObject report = unit.report();
    if ((!exitMayBeLost && !unit.exitReceived()) || report["problemCount"].toInt() != 0)
        return false;
    if (mode == UpdateMode::FirmwareAndImages && !report["flash"].toObject()["equal"].toBool())
        return false;
    if (mode != UpdateMode::DeleteImages)
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
