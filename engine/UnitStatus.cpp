#include "engine/UnitStatus.h"

QString UnitStatus::text() const
{
    switch (stage) {
    case Querying: return QStringLiteral("version query");
    case WaitingForBootloader: return QStringLiteral("waiting for the bootloader");
    case Firmware:
        return QStringLiteral("firmware, sector %1 of %2").arg(sector).arg(sectorCount);
    case Images: return QStringLiteral("image %1 of %2").arg(image).arg(imageCount);
    case Erasing: return QStringLiteral("erasing images");
    case Finishing: return QStringLiteral("finishing");
    case Updated:
        return confirmation == NotConfirmed ? QStringLiteral("updated, not confirmed")
                                            : QStringLiteral("updated");
    case NotUpdated: return QStringLiteral("not updated: %1").arg(reason);
    case ConnectionLost: return QStringLiteral("connection lost");
    }
    return QString();
}

QString UnitStatus::versionText() const
{
    if (confirmation == Confirmed)
        return QStringLiteral("%1, confirmed").arg(confirmedVersion);
    if (confirmation == NotConfirmed && !confirmedVersion.isEmpty())
        return QStringLiteral("%1, not confirmed").arg(confirmedVersion);
    if (confirmation == NotConfirmed)
        return version.isEmpty() ? QStringLiteral("not confirmed")
                                 : QStringLiteral("not confirmed (was %1)").arg(version);
    return version;
}
