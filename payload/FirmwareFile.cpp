#include "payload/FirmwareFile.h"

#include "payload/FileRead.h"
#include "payload/ReadLimits.h"

#include <QFileInfo>

namespace {

Problem openProblem(const QString &path, const QString &error)
{
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return { Problem::NotFound, QStringLiteral("%1 is missing").arg(path) };
    return { Problem::Unreadable, QStringLiteral("%1 cannot be read (%2)").arg(path, error) };
}

} // namespace

Problem FirmwareFile::read(const QString &path, QByteArray &bytes)
{
    bytes.clear();
    qint64 size = 0;
    QString error;
    if (!FileRead::regularFile(path, size, error))
        return openProblem(path, error);
    Problem problem = sizeProblem(path, size);
    if (problem)
        return problem;
    // One byte over the flash is enough to tell it grew too large meanwhile.
    if (!FileRead::read(path, ReadLimits::kFirmwareBytes + 1, bytes, error))
        return openProblem(path, error);
    problem = sizeProblem(path, bytes.size());
    if (problem)
        bytes.clear();
    return problem;
}

Problem FirmwareFile::sizeProblem(const QString &name, qint64 size)
{
    if (size <= kFirstAddress)
        return { Problem::Firmware,
            QStringLiteral("%1 holds no firmware past address 0x1000 (%2 bytes)")
                .arg(name)
                .arg(size) };
    if (size > kEndAddress)
        return { Problem::Firmware,
            QStringLiteral("%1 is larger than the unit's flash (%2 bytes, at most %3)")
                .arg(name)
                .arg(size)
                .arg(kEndAddress) };
    return {};
}
