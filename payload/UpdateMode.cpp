#include "payload/UpdateMode.h"

QString UpdateModes::name(UpdateMode mode)
{
    switch (mode) {
    case UpdateMode::FirmwareAndImages: return QStringLiteral("firmware-and-images");
    case UpdateMode::ImagesOnly: return QStringLiteral("images");
    case UpdateMode::DeleteImages: return QStringLiteral("erase-images");
    }
    return QString();
}

bool UpdateModes::fromName(const QString &text, UpdateMode &mode)
{
    for (const UpdateMode m : kAll) {
        if (text == name(m)) {
            mode = m;
            return true;
        }
    }
    return false;
}
