#include "payload/SealedFile.h"

#include <QFile>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

struct SealedFile::Handle {
    int fd = -1;
    std::unique_ptr<QTemporaryFile> fallback; // where memfd is missing (not Linux)
    ~Handle()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

SealedFile::SealedFile() = default;
SealedFile::~SealedFile() = default;

bool SealedFile::create(const QByteArray &bytes, const QString &name, QString &error)
{
    handle = std::make_unique<Handle>();
#if defined(__linux__) && defined(MFD_ALLOW_SEALING)
    handle->fd = ::memfd_create(name.toUtf8().constData(), MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (handle->fd < 0) {
        error = QStringLiteral("cannot hold %1 in memory (%2)")
                    .arg(name, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t n
            = ::write(handle->fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            error = QStringLiteral("cannot hold %1 in memory (%2)")
                        .arg(name, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        written += n;
    }
    // From here on the bytes can't change: not written, shrunk or grown.
    if (::fcntl(handle->fd, F_ADD_SEALS, F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL)
        != 0) {
        error = QStringLiteral("cannot seal %1 in memory (%2)")
                    .arg(name, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    filePath = QStringLiteral("/proc/self/fd/%1").arg(handle->fd);
    QFile check(filePath);
    if (check.open(QIODevice::ReadOnly) && check.size() == bytes.size())
        return true;
    // No /proc to reach it by (a bare container): a temporary file instead.
    ::close(handle->fd);
    handle->fd = -1;
#endif
    handle->fallback = std::make_unique<QTemporaryFile>();
    if (!handle->fallback->open() || handle->fallback->write(bytes) != bytes.size()
        || !handle->fallback->flush()) {
        error = QStringLiteral("cannot hold %1 (%2)").arg(name, handle->fallback->errorString());
        return false;
    }
    filePath = handle->fallback->fileName();
    return true;
}
