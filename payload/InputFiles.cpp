#include "payload/InputFiles.h"

#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex lock;
QStringList noted;

} // namespace

void InputFiles::note(const QString &path)
{
    if (path.isEmpty())
        return;
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QMutexLocker locker(&lock);
    if (!noted.contains(absolute))
        noted.append(absolute);
}

QStringList InputFiles::all()
{
    const QMutexLocker locker(&lock);
    return noted;
}
