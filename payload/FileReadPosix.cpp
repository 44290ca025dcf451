// Reading given files on POSIX systems: open(2) with O_NONBLOCK, so a FIFO
// without a writer or a device answers at once, then fstat(2) on the opened
// file, so what is read is what was checked.
#include "payload/FileRead.h"

#include "payload/InputFiles.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode))
        return QStringLiteral("a character device");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a file");
}

// An open descriptor on a regular file, or -1 with error set.
int openRegular(const QString &path, qint64 &size, QString &error)
{
    const QByteArray name = QFile::encodeName(path);
    if (name.contains('\0')) {
        error = QStringLiteral("%1: the name holds a NUL character").arg(path);
        return -1;
    }
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = QStringLiteral("%1 is %2, not a regular file").arg(path, kindOf(st.st_mode));
        ::close(fd);
        return -1;
    }
    size = st.st_size;
    return fd;
}

} // namespace

bool FileRead::regularFile(const QString &path, qint64 &size, QString &error)
{
    InputFiles::note(path);
    const int fd = openRegular(path, size, error);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

bool FileRead::read(const QString &path, qint64 limit, QByteArray &bytes, QString &error)
{
    InputFiles::note(path);
    bytes.clear();
    qint64 size = 0;
    const int fd = openRegular(path, size, error);
    if (fd < 0)
        return false;
    const auto tooLarge = [&] {
        error = QStringLiteral("%1 is larger than %2 bytes, the most read of such a file")
                    .arg(path)
                    .arg(limit);
        ::close(fd);
        bytes.clear();
        return false;
    };
    if (size > limit)
        return tooLarge();
    // The file may grow while it is read: never past the limit.
    bytes.resize(static_cast<int>(std::min<qint64>(size, limit) + 1));
    qint64 got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > limit)
                return tooLarge();
            bytes.resize(static_cast<int>(std::min<qint64>(limit + 1, got * 2 + 4096)));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, static_cast<size_t>(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
            ::close(fd);
            bytes.clear();
            return false;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    if (got > limit)
        return tooLarge();
    bytes.resize(static_cast<int>(got));
    return true;
}
