// What a POSIX system tells of a serial device: its owning group, whether this
// user may open it, and which processes hold it (Linux: their descriptors in
// /proc; else the lock file a Qt program leaves in /var/lock or /run/lock).
#include "engine/PortProblem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString processName(const QString &pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    if (!comm.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLocal8Bit(comm.readAll()).trimmed();
}

QString holderText(const QString &pid)
{
    const QString name = processName(pid);
    return name.isEmpty() ? pid : QStringLiteral("%1 (%2)").arg(pid, name);
}

QStringList holdersInProc(const QString &path)
{
    QStringList found;
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
        for (const QString &fd : entries) {
            if (QFileInfo(fds.filePath(fd)).symLinkTarget() == path) {
                found << holderText(pid);
                break;
            }
        }
    }
    return found;
}

// A Qt program's lock file ("LCK..ttyUSB0", "LCK..pts_3") starts with its process id.
QStringList holdersByLockFile(const QString &path)
{
    QString name = path;
    if (name.startsWith(QLatin1String("/dev/")))
        name = name.mid(5);
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *dir : { "/var/lock", "/run/lock" }) {
        QFile lock(QStringLiteral("%1/LCK..%2").arg(QLatin1String(dir), name));
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const QString pid = QString::fromLocal8Bit(lock.readLine()).trimmed();
        bool number = false;
        const int value = pid.toInt(&number);
        if (number && value > 0 && value != ::getpid() && QFileInfo::exists(QStringLiteral("/proc/") + pid))
            return { holderText(pid) };
    }
    return {};
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

} // namespace

QString PortProblem::devicePath(const QString &nameOrPath)
{
    const QString full
        = nameOrPath.startsWith(QLatin1Char('/')) ? nameOrPath : QStringLiteral("/dev/") + nameOrPath;
    const QString canonical = QFileInfo(full).canonicalFilePath();
    return canonical.isEmpty() ? full : canonical;
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
    p.denied = ::access(path.constData(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM);
    if (p.denied)
        p.ruleInstalled = deviceRuleInstalled();
    if (!p.denied) {
        p.holders = holdersByLockFile(devicePath);
        if (p.holders.isEmpty() && scanProcesses)
            p.holders = holdersInProc(devicePath);
    }
    return p;
}
