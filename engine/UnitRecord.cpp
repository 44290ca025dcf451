#include "engine/UnitRecord.h"

#include "engine/PortTest.h"
#include "engine/UpdateMode.h"
#include "payload/UpdatePackage.h"
#include "ToolVersion.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSysInfo>

// The digests are of the bytes the job sends, read once: fw1.bin's as the
// engine got them, each image's as the reader parsed it.
UnitRecord::Update UnitRecord::describe(UpdateMode mode, const QString &version,
    const QByteArray &firmware, const QString &dir, const QList<ImageRecord> &images)
{
    Update u;
    u.version = version;
    u.mode = mode;
    if (mode == FirmwareAndImages)
        u.firmware = { QStringLiteral("fw1.bin"), sha256(firmware) };
    if (mode != DeleteImages)
        for (const ImageRecord &image : images)
            u.images.append(
                { QDir(dir).relativeFilePath(image.fileName), QString::fromLatin1(image.sha256) });
    return u;
}

QString UnitRecord::sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QString UnitRecord::stageName(UnitStatus::Stage stage)
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

QString UnitRecord::resultOf(const UnitStatus &status, bool interrupted)
{
    if (interrupted)
        return QStringLiteral("interrupted");
    switch (status.stage) {
    case UnitStatus::Updated: return QStringLiteral("updated");
    case UnitStatus::ConnectionLost: return QStringLiteral("connection lost");
    default: return QStringLiteral("not updated");
    }
}

QString UnitRecord::confirmationOf(const UnitStatus &status)
{
    if (status.stage != UnitStatus::Updated)
        return QString();
    switch (status.confirmation) {
    case UnitStatus::Confirmed: return QStringLiteral("confirmed");
    case UnitStatus::NotConfirmed: return QStringLiteral("not confirmed");
    case UnitStatus::NotAsked: break;
    }
    return QString();
}

UnitRecord UnitRecord::of(const PortTest &port, const Update &update, bool interrupted)
{
    UnitRecord r;
    r.time = QDateTime::currentDateTimeUtc();
    r.host = QSysInfo::machineHostName();
    r.toolVersion = QStringLiteral(ZQ_VERSION);
    r.unitVersion = port.status.version;
    r.confirmation = confirmationOf(port.status);
    r.confirmedVersion = port.status.confirmedVersion;
    r.update = update;
    r.result = resultOf(port.status, interrupted);
    r.reason = port.status.stage == UnitStatus::Updated && !interrupted ? QString()
        : interrupted                                                    ? QStringLiteral("interrupted")
                                                                         : port.status.reason;
    const JobTiming &t = port.timing;
    r.linesSent = t.linesSent;
    r.resends = t.resends;
    r.replies = t.replyCount;
    r.averageReplyMs
        = t.replyCount > 0 ? static_cast<double>(t.replyNsTotal) / 1e6 / t.replyCount : 0.0;
    return r;
}

QString UnitRecord::resultText() const
{
    if (result == QLatin1String("not updated") && !reason.isEmpty())
        return result + QStringLiteral(": ") + reason;
    if (result == QLatin1String("updated") && confirmation == QLatin1String("not confirmed"))
        return QStringLiteral("updated, not confirmed");
    return result;
}

QJsonObject UnitRecord::json() const
{
    QJsonArray stageList;
    for (const Stage &s : stages)
        stageList.append(QJsonObject {
            { QStringLiteral("stage"), s.name }, { QStringLiteral("seconds"), s.seconds } });
    QJsonArray images;
    for (const File &f : update.images)
        images.append(QJsonObject { { QStringLiteral("file"), f.name },
            { QStringLiteral("sha256"), f.sha256 } });
    return QJsonObject {
        { QStringLiteral("time"), time.toString(Qt::ISODateWithMs) },
        { QStringLiteral("host"), host },
        { QStringLiteral("toolVersion"), toolVersion },
        { QStringLiteral("slot"), slot },
        { QStringLiteral("port"), port },
        { QStringLiteral("adapterSerial"), adapterSerial },
        { QStringLiteral("usbLocation"), usbLocation },
        { QStringLiteral("unitVersion"), unitVersion },
        { QStringLiteral("versionBefore"), unitVersion },
        { QStringLiteral("confirmation"), confirmation },
        { QStringLiteral("confirmedVersion"), confirmedVersion },
        { QStringLiteral("updateVersion"), update.version },
        { QStringLiteral("mode"), UpdatePackage::modeName(update.mode) },
        { QStringLiteral("firmwareSha256"), update.firmware.sha256 },
        { QStringLiteral("images"), images },
        { QStringLiteral("package"), update.package },
        { QStringLiteral("packageSha256"), update.packageSha256 },
        { QStringLiteral("signed"), !update.signer.isEmpty() },
        { QStringLiteral("signer"), update.signer },
        { QStringLiteral("result"), result },
        { QStringLiteral("reason"), reason },
        { QStringLiteral("stages"), stageList },
        { QStringLiteral("seconds"), seconds },
        { QStringLiteral("linesSent"), linesSent },
        { QStringLiteral("resends"), resends },
        { QStringLiteral("replies"), replies },
        { QStringLiteral("averageReplyMs"), averageReplyMs },
        { QStringLiteral("maximumReplyMs"), maximumReplyMs },
    };
}

QByteArray UnitRecord::line() const
{
    return QJsonDocument(json()).toJson(QJsonDocument::Compact) + '\n';
}
