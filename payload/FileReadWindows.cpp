// Reading given files on Windows: a named pipe or a device is no regular file
// to QFileInfo, so it is refused before it is opened.
#include "payload/FileRead.h"

#include "payload/InputFiles.h"

#include <QFile>
#include <QFileInfo>

bool FileRead::regularFile(const QString &path, qint64 &size, QString &error)
{
    InputFiles::note(path);
    const QFileInfo info(path);
    if (!info.exists()) {
        error = QStringLiteral("%1: No such file or directory").arg(path);
        return false;
    }
    if (!info.isFile()) {
        error = QStringLiteral("%1 is %2, not a regular file")
                    .arg(path, info.isDir() ? QStringLiteral("a folder") : QStringLiteral("not a file"));
        return false;
    }
    size = info.size();
    return true;
}

bool FileRead::read(const QString &path, qint64 limit, QByteArray &bytes, QString &error)
{
    InputFiles::note(path);
    bytes.clear();
    qint64 size = 0;
    if (!regularFile(path, size, error))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    bytes = file.read(limit + 1);
    if (bytes.size() > limit) {
        bytes.clear();
        error = QStringLiteral("%1 is larger than %2 bytes, the most read of such a file")
                    .arg(path)
                    .arg(limit);
        return false;
    }
    return true;
}
