// Whole writes on POSIX systems: lstat(2) for the link check, mkstemp(2),
// fsync(2) and rename(2) for the report, O_APPEND | O_NONBLOCK and ftruncate(2)
// for the log.
#include "engine/FileWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
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

// Who besides the user and root may change what the folder dir holds, run as
// root: empty when no one may.
QString folderControl(const QString &dir, const struct stat &st)
{
    if (::geteuid() != 0)
        return QString();
    if (st.st_uid != 0)
        return QStringLiteral("the folder %1 belongs to another user (uid %2); run as root, the "
                              "tool writes nowhere another user controls. Name another folder")
            .arg(dir)
            .arg(st.st_uid);
    const bool othersWrite
        = (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != 0);
    if (othersWrite && (st.st_mode & S_ISVTX) == 0)
        return QStringLiteral("the folder %1 may be changed by other users (mode %2, no sticky "
                              "bit); run as root, the tool writes nowhere another user controls. "
                              "Name another folder")
            .arg(dir)
            .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return QString();
}

// Why the folders on the way to path must not be written through: one is
// missing or no folder, a link among them is owned by another user than root,
// or (run as root) one is controlled by another user. Links are followed part
// by part, as the system follows them; the last part is not looked at.
QString folderProblem(const QString &path)
{
    const uid_t me = ::geteuid();
    QStringList todo = QFileInfo(path).absoluteFilePath().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString at; // the folder reached, without links; empty for "/"
    int links = 0;
    while (todo.size() > 1) {
        const QString part = todo.takeFirst();
        if (part == QLatin1String("."))
            continue;
        if (part == QLatin1String("..")) {
            at.truncate(std::max(0, static_cast<int>(at.lastIndexOf(QLatin1Char('/')))));
            continue;
        }
        const QString next = at + QLatin1Char('/') + part;
        const QByteArray name = QFile::encodeName(next);
        struct stat st {};
        if (::lstat(name.constData(), &st) != 0)
            return errno == ENOENT
                ? QStringLiteral("the folder %1 does not exist (no folder is made)").arg(next)
                : QStringLiteral("%1: %2").arg(next, systemError());
        if (S_ISLNK(st.st_mode)) {
            if (st.st_uid != 0 && st.st_uid != me)
                return QStringLiteral("%1 on the way to %2 is a symbolic link owned by another "
                                      "user (uid %3); the tool does not write through it")
                    .arg(next, path)
                    .arg(st.st_uid);
            QByteArray target(4096, '\0');
            const ssize_t n = ::readlink(name.constData(), target.data(), static_cast<size_t>(target.size()));
            if (n <= 0 || n >= target.size() || ++links > 40)
                return QStringLiteral("%1: the link cannot be followed").arg(next);
            target.truncate(static_cast<int>(n));
            if (target.startsWith('/'))
                at.clear();
            todo = QFile::decodeName(target).split(QLatin1Char('/'), Qt::SkipEmptyParts) + todo;
            continue;
        }
        if (!S_ISDIR(st.st_mode))
            return QStringLiteral("%1 on the way to %2 is no folder").arg(next, path);
        const QString control = folderControl(next, st);
        if (!control.isEmpty())
            return control;
        at = next;
    }
    return QString();
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
    const QString folders = folderProblem(path);
    if (!folders.isEmpty())
        return folders;
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
        // The user's own link: the folders on the way to where it leads too.
        const QString beyond = folderProblem(resolved(path));
        if (!beyond.isEmpty())
            return beyond;
        if (::stat(name.constData(), &st) != 0)
            return errno == ENOENT ? QString()
                                   : QStringLiteral("%1: %2").arg(path, systemError());
    }
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("%1 is %2; name a regular file").arg(path, kindOf(st.st_mode));
    return QString();
}

QString FileWrite::outputProblem(const QString &path, Writing how)
{
    const QString problem = targetProblem(path);
    if (!problem.isEmpty())
        return problem;
    const QString target = resolved(path);
    const QByteArray file = QFile::encodeName(target);
    struct stat st {};
    const bool exists = ::stat(file.constData(), &st) == 0;
    const QString where = how == Writing::Append && exists ? target : QFileInfo(target).absolutePath();
    if (::faccessat(AT_FDCWD, QFile::encodeName(where).constData(),
            how == Writing::Append && exists ? W_OK : W_OK | X_OK, AT_EACCESS)
        != 0)
        return QStringLiteral("%1 cannot be written (%2)").arg(where, systemError());
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
