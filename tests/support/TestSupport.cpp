#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace TestSupport {

QString appFile(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

bool writeAppFile(const QString &name, const QByteArray &bytes)
{
    const QString path = appFile(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

void removeAppFiles(const QStringList &names)
{
    for (const QString &name : names) {
        const QString path = appFile(name);
        if (QFileInfo(path).isDir())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
    }
}

int readAvailable(int fd, QByteArray &into)
{
    char buf[4096];
    int total = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<int>(n));
            total += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EIO)
            return total > 0 ? total : -1;
        return total;
    }
}

bool pumpUntil(
    int fd, QByteArray &into, const std::function<bool(const QByteArray &)> &done, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done(into)) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        pollfd p { fd, POLLIN, 0 };
        ::poll(&p, 1, 5);
        readAvailable(fd, into);
    }
    return true;
}

} // namespace TestSupport
