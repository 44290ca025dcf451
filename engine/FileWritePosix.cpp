// Whole writes on POSIX systems: lstat(2) for the link check, mkstemp(2),
// fsync(2) and rename(2) for the report, O_APPEND | O_NONBLOCK and ftruncate(2)
// for the log.
#include "engine/FileWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int code = errno)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    return QStringLiteral("not a regular file");
}

// Writes all of bytes to fd; false with errno set on a failure or no progress.
bool writeAll(int fd, const char *data, qint64 size, qint64 &written)
{
    written = 0;
    while (written < size) {
        const ssize_t n = ::write(fd, data + written, static_cast<size_t>(size - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        written += n;
    }
    return true;
}

// Where the bytes for path go: path itself, or the target of a link the user
// may write through.
QString resolved(const QString &path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    const QString target = info.canonicalFilePath();
    return target.isEmpty() ? info.symLinkTarget() : target;
}

} // namespace

QString FileWrite::targetProblem(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (path.isEmpty() || name.contains('\0'))
        return QStringLiteral("%1: not a usable file name").arg(path);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0)
        return QString(); // nothing there yet: writing it says what stands in the way
    if (S_ISLNK(st.st_mode)) {
        if (::geteuid() == 0)
            return QStringLiteral("%1 is a symbolic link; run as root, the tool writes through "
                                  "none. Name the file itself")
                .arg(path);
        if (st.st_uid != ::geteuid())
            return QStringLiteral("%1 is a symbolic link owned by another user (uid %2); the "
                                  "tool does not write through it. Name the file itself")
                .arg(path)
                .arg(st.st_uid);
        if (::stat(name.constData(), &st) != 0)
            return errno == ENOENT ? QString()
                                   : QStringLiteral("%1: %2").arg(path, systemError());
    }
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1 is %2; name a regular file").arg(path, kindOf(st.st_mode));
    return QString();
}

bool FileWrite::replaceWhole(const QString &path, const QByteArray &bytes, QString &error)
{
    error = targetProblem(path);
    if (!error.isEmpty())
        return false;
    const QString target = resolved(path);
    const QFileInfo info(target);
    QByteArray temp = QFile::encodeName(
        info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = QStringLiteral("cannot create a temporary file beside %1: %2").arg(path, systemError());
        return false;
    }
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    // The new file keeps the old one's permissions and owner; a new one gets
    // the usual 0666 less the umask.
    struct stat old {};
    const QByteArray targetName = QFile::encodeName(target);
    if (::stat(targetName.constData(), &old) == 0) {
        ::fchmod(fd, old.st_mode & 07777);
        if (::geteuid() == 0)
            [[maybe_unused]] const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    qint64 written = 0;
    bool ok = writeAll(fd, bytes.constData(), bytes.size(), written) && ::fsync(fd) == 0;
    int code = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok && ::rename(temp.constData(), targetName.constData()) != 0) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        ::unlink(temp.constData());
        error = QStringLiteral("%1 (%2 of %3 bytes written); %4 was left as it was")
                    .arg(systemError(code))
                    .arg(written)
                    .arg(bytes.size())
                    .arg(path);
        return false;
    }
    // The rename itself outlives a power cut once the folder is synced.
    const int dir = ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

bool FileWrite::appendWhole(const QString &path, const QByteArray &record, QString &error)
{
    error = targetProblem(path);
    if (!error.isEmpty())
        return false;
    const QFileInfo info(path);
    const QByteArray name = QFile::encodeName(path);
    // Read and write: the last byte is looked at before the record goes on.
    int flags = O_RDWR | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    if (!info.isSymLink())
        flags |= O_NOFOLLOW; // a link put there since the check is not followed
    const int fd = ::open(name.constData(), flags, 0666);
    if (fd < 0) {
        error = QStringLiteral("%1: %2").arg(path, systemError());
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        error = QStringLiteral("%1 is %2; name a regular file").arg(path, kindOf(st.st_mode));
        ::close(fd);
        return false;
    }
    const off_t before = st.st_size;
    QByteArray bytes = record;
    char last = '\n';
    if (before > 0 && ::pread(fd, &last, 1, before - 1) == 1 && last != '\n')
        bytes.prepend('\n'); // the half line before stays a line of its own
    qint64 written = 0;
    const bool ok = writeAll(fd, bytes.constData(), bytes.size(), written) && ::fsync(fd) == 0;
    const int code = errno;
    if (!ok) {
        // Only what this write added is cut, and only if nothing came after it.
        if (written > 0 && ::fstat(fd, &st) == 0 && st.st_size == before + written)
            [[maybe_unused]] const int ignored = ::ftruncate(fd, before);
        ::close(fd);
        error = QStringLiteral("%1 (only %2 of %3 bytes could be written; the log was cut back "
                               "to its last whole record)")
                    .arg(systemError(code))
                    .arg(written)
                    .arg(bytes.size());
        return false;
    }
    if (::close(fd) != 0) {
        error = QStringLiteral("%1: %2").arg(path, systemError());
        return false;
    }
    return true;
}

bool FileWrite::sameFile(const QString &a, const QString &b)
{
    struct stat sa {};
    struct stat sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) == 0
        && ::stat(QFile::encodeName(b).constData(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    const auto absolute = [](const QString &path) {
        const QFileInfo info(path);
        const QString dir = QFileInfo(info.absolutePath()).canonicalFilePath();
        return QDir::cleanPath((dir.isEmpty() ? info.absolutePath() : dir) + QLatin1Char('/')
            + info.fileName());
    };
    return absolute(a) == absolute(b);
}
