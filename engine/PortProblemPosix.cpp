// What a POSIX system tells of a serial device: its owning group, whether this
// user may open it, and which processes hold it (Linux: their descriptors in
// /proc; else the lock file a Qt program leaves in /var/lock or /run/lock).
#include "engine/PortProblem.h"

#include "payload/FileRead.h"
#include "payload/ReadLimits.h"

#include <QElapsedTimer>
#include <QHash>
#include <QSet>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <sys/sysmacros.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString processName(const QString &pid)
{
    QByteArray comm;
    QString error;
    if (!FileRead::read(
            QStringLiteral("/proc/%1/comm").arg(pid), ReadLimits::kKernelFileBytes, comm, error))
        return QString();
    return QString::fromLocal8Bit(comm).trimmed();
}

QString holderText(const QString &pid)
{
    const QString name = processName(pid);
    return name.isEmpty() ? pid : QStringLiteral("%1 (%2)").arg(pid, name);
}

// Every process's open devices, from one walk of /proc: device path -> the
// processes that hold it. Taken once and kept kProcScanMs, so a run that can
// open none of thousands of ports walks /proc a few times, not once a port.
constexpr qint64 kProcScanMs = 1000;

const QHash<QString, QStringList> &openDevices()
{
    static QHash<QString, QStringList> byDevice;
    static QElapsedTimer age;
    if (age.isValid() && age.elapsed() < kProcScanMs)
        return byDevice;
    byDevice.clear();
    const QString own = QString::number(::getpid());
    const QDir proc(QStringLiteral("/proc"));
    const QStringList pids = proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : pids) {
        bool number = false;
        pid.toInt(&number);
        if (!number || pid == own)
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        QSet<QString> seen;
        for (const QString &fd : entries) {
            const QString target = QFileInfo(fds.filePath(fd)).symLinkTarget();
            if (target.startsWith(QLatin1String("/dev/")) && !seen.contains(target)) {
                seen.insert(target);
                byDevice[target] << pid;
            }
        }
    }
    age.start();
    return byDevice;
}

QStringList holdersInProc(const QString &path)
{
    QStringList found;
    for (const QString &pid : openDevices().value(path))
        found << holderText(pid);
    return found;
}

// The lock files a port may have: "LCK..ttyUSB0", "LCK..pts_3".
QStringList lockFiles(const QString &path)
{
    QString name = path;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    QStringList files;
    for (const char *dir : { "/var/lock", "/run/lock" })
        files << QStringLiteral("%1/LCK..%2").arg(QLatin1String(dir), name);
    return files;
}

// The process id a lock file ("LCK..ttyUSB0", "LCK..pts_3") starts with, as
// a Qt program or a terminal program writes it; 0 when it holds none, -1 when
// it can't be read (nothing is known then). Anyone may put a file there: it is
// read without blocking, only when it is a regular file, and only its first bytes.
int lockPid(const QString &file)
{
    QByteArray bytes;
    QString error;
    if (!FileRead::read(file, ReadLimits::kLockFileBytes, bytes, error))
        return -1;
    bool number = false;
    const int value = bytes.left(bytes.indexOf('\n')).trimmed().toInt(&number);
    return number && value > 0 ? value : 0;
}

// Whether process pid has the device open: 1 yes, 0 no, -1 not known (its
// descriptors are another user's to see).
int usesDevice(int pid, const QString &devicePath)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    if (!fds.isReadable())
        return -1;
    const QStringList entries = fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString &fd : entries)
        if (QFileInfo(fds.filePath(fd)).symLinkTarget() == devicePath)
            return 1;
    return 0;
}

bool running(int pid)
{
    return QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
}

// The process that holds the port by its lock file: one that runs and, where
// the system shows it, has the port open.
QStringList holdersByLockFile(const QString &path)
{
    for (const QString &file : lockFiles(path)) {
        const int pid = QFileInfo::exists(file) ? lockPid(file) : 0;
        if (pid > 0 && pid != ::getpid() && running(pid) && usesDevice(pid, path) != 0)
            return { holderText(QString::number(pid)) + QStringLiteral(", which holds its lock file ") + file };
    }
    return {};
}

// Whether the device sits on a USB bus (an adapter), as Linux's device
// tree shows it; true where the system does not tell.
bool onUsb(dev_t device)
{
    const QString node = QStringLiteral("/sys/dev/char/%1:%2").arg(::major(device)).arg(::minor(device));
    if (!QFileInfo::exists(node))
        return true;
    const QString real = QFileInfo(node).canonicalFilePath();
    return real.contains(QLatin1String("/usb")) || real.contains(QLatin1String("/virtual/"));
}

// The udev rule the Debian package installs (TAG+="uaccess" on the FTDI
// adapters), where udev reads rules; ZQ_UDEV_RULES (colon-separated files)
// names others.
bool deviceRuleInstalled()
{
    QStringList files = qEnvironmentVariable("ZQ_UDEV_RULES").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (!qEnvironmentVariableIsSet("ZQ_UDEV_RULES"))
        for (const char *dir : { "/etc/udev/rules.d", "/usr/lib/udev/rules.d", "/lib/udev/rules.d" })
            files << QLatin1String(dir) + QStringLiteral("/70-zq-updater.rules");
    for (const QString &file : std::as_const(files))
        if (QFileInfo::exists(file))
            return true;
    return false;
}

// Whether a character device is a terminal (a serial port, a pseudo-terminal),
// told without opening it: Linux lists every terminal but the pseudo-terminals'
// ends under the tty class. Elsewhere every character device may be one.
bool isTerminalDevice(dev_t device)
{
    const unsigned major = ::major(device);
    if (major >= 136 && major <= 143) // Unix98 pseudo-terminal ends
        return true;
    if (!QFileInfo::exists(QStringLiteral("/sys/dev/char")))
        return true;
    const QString subsystem
        = QFileInfo(QStringLiteral("/sys/dev/char/%1:%2/subsystem").arg(major).arg(::minor(device)))
              .symLinkTarget();
    return subsystem.endsWith(QLatin1String("/tty"));
}

} // namespace

QString PortProblem::devicePath(const QString &nameOrPath)
{
    const QString full
        = nameOrPath.startsWith(QLatin1Char('/')) ? nameOrPath : QStringLiteral("/dev/") + nameOrPath;
    const QString canonical = QFileInfo(full).canonicalFilePath();
    return canonical.isEmpty() ? full : canonical;
}

QString PortProblem::lockFileProblem(const QString &devicePath)
{
    for (const QString &file : lockFiles(devicePath)) {
        struct stat st {};
        if (::lstat(QFile::encodeName(file).constData(), &st) != 0)
            continue;
        if (!S_ISREG(st.st_mode))
            return QStringLiteral("its lock file %1 is no regular file (anyone may put one there), "
                                  "and opening the port would wait on it for ever. Remove it "
                                  "(rm %1) and try again")
                .arg(file);
        // A lock counts only for a program that runs: one naming none, or a
        // process seen not to use the port, locks it for nobody. (A process
        // that no longer runs left a stale lock, which opening the port removes.)
        const int pid = lockPid(file);
        if (pid == 0)
            return QStringLiteral("its lock file %1 holds no process id, so the port counts as "
                                  "locked, although no program named holds it (anyone may put a "
                                  "file there). Remove it (rm %1) and try again")
                .arg(file);
        if (pid != ::getpid() && running(pid) && usesDevice(pid, devicePath) == 0)
            return QStringLiteral("its lock file %1 names process %2, which does not use the "
                                  "port (anyone may put a file there). Remove the lock file "
                                  "(rm %1) and try again")
                .arg(file, holderText(QString::number(pid)));
    }
    return QString();
}

QString PortProblem::staleLockFile(const QString &devicePath)
{
    for (const QString &file : lockFiles(devicePath)) {
        const int pid = QFileInfo::exists(file) ? lockPid(file) : 0;
        if (pid > 0 && !running(pid))
            return QStringLiteral("its lock file %1 names process %2, which no longer runs, and "
                                  "could not be removed. Remove it (rm %1) and try again")
                .arg(file)
                .arg(pid);
    }
    return QString();
}

PortProblem::Probe PortProblem::probe(const QString &devicePath, bool scanProcesses)
{
    Probe p;
    const QByteArray path = QFile::encodeName(devicePath);
    struct stat st {};
    if (::stat(path.constData(), &st) != 0) {
        p.exists = false;
        return p;
    }
    if (const group *g = ::getgrgid(st.st_gid))
        p.group = QString::fromLocal8Bit(g->gr_name);
    if (const passwd *pw = ::getpwuid(::getuid()))
        p.user = QString::fromLocal8Bit(pw->pw_name);
    if (const passwd *pw = ::getpwuid(st.st_uid))
        p.owner = QString::fromLocal8Bit(pw->pw_name);
    p.denied = ::access(path.constData(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM);
    if (p.denied)
        p.ruleInstalled = deviceRuleInstalled();
    p.groupMayUse = (st.st_mode & 060) == 060 && st.st_gid != 0;
    p.adapter = S_ISCHR(st.st_mode) && onUsb(st.st_rdev);
    if (!S_ISCHR(st.st_mode)) {
        p.notSerial = true;
        return p;
    }
    if (!isTerminalDevice(st.st_rdev)) {
        p.notSerial = true;
        return p;
    }
    if (!p.denied) {
        p.holders = holdersByLockFile(devicePath);
        if (p.holders.isEmpty() && scanProcesses)
            p.holders = holdersInProc(devicePath);
    }
    return p;
}
