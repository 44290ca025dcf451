#include "payload/FirmwareFile.h"

#include <QFile>
#include <QFileInfo>

QString FirmwareFile::problem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("%1 is missing").arg(path);
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        return QStringLiteral("%1 cannot be read (%2)").arg(path, file.errorString());
    const qint64 size = file.size();
    if (size <= kFirstAddress)
        return QStringLiteral("%1 holds no firmware past address 0x1000 (%2 bytes)")
            .arg(path)
            .arg(size);
    if (size > kEndAddress)
        return QStringLiteral("%1 is larger than the unit's flash (%2 bytes, at most %3)")
            .arg(path)
            .arg(size)
            .arg(kEndAddress);
    return QString();
}

QString FirmwareFile::sizeProblem(const QString &name, qint64 size)
{
    if (size <= kFirstAddress)
        return QStringLiteral("%1 holds no firmware past address 0x1000 (%2 bytes)")
            .arg(name)
            .arg(size);
    if (size > kEndAddress)
        return QStringLiteral("%1 is larger than the unit's flash (%2 bytes, at most %3)")
            .arg(name)
            .arg(size)
            .arg(kEndAddress);
    return QString();
}
