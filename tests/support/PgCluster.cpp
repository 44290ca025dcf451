#include "PgCluster.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <unistd.h>
#include <pwd.h>

namespace {

// A port of its own per cluster: the socket file's name carries it.
int freshPort()
{
    static int next = 0;
    return 20000 + static_cast<int>(::getpid() % 20000) + 7 * next++;
}

} // namespace

PgCluster::PgCluster()
{
    asPostgres = ::geteuid() == 0;
}

PgCluster::~PgCluster()
{
    stop();
}

QString PgCluster::binDir()
{
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("pg_ctl"));
    if (!onPath.isEmpty())
        return QFileInfo(onPath).canonicalPath();
    const QDir versions(QStringLiteral("/usr/lib/postgresql"));
    const QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name | QDir::Reversed);
    for (const QString &v : found)
        if (QFileInfo::exists(versions.filePath(v + QStringLiteral("/bin/pg_ctl"))))
            return versions.filePath(v + QStringLiteral("/bin"));
    return QString();
}

bool PgCluster::runTool(const QString &tool, const QStringList &args, QString &why, int timeoutMs) const
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    const QString program = binDir() + QLatin1Char('/') + tool;
    if (asPostgres)
        p.start("setpriv",
            QStringList { "--reuid=postgres", "--regid=postgres", "--init-groups", "--reset-env", program } + args);
    else
        p.start(program, args);
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        why = tool + QStringLiteral(": ") + QString::fromLocal8Bit(p.readAll()).right(2000);
        return false;
    }
    return true;
}

bool PgCluster::create(QString &why)
{
    if (!dir.isValid()) {
        why = QStringLiteral("no temporary folder");
        return false;
    }
    data = dir.filePath(QStringLiteral("data"));
    sockets = dir.filePath(QStringLiteral("sockets"));
    QDir().mkpath(sockets);
    if (asPostgres) {
        const passwd *pw = ::getpwnam("postgres");
        if (pw == nullptr) {
            why = QStringLiteral("no postgres user to run the server as");
            return false;
        }
        for (const QString &path : { dir.path(), sockets })
            if (::chown(QFile::encodeName(path).constData(), pw->pw_uid, pw->pw_gid) != 0) {
                why = QStringLiteral("cannot hand %1 to postgres").arg(path);
                return false;
            }
    }
    port = freshPort();
    return runTool("initdb",
               { "-D", data, "-U", "zq_owner", "-A", "trust", "--no-sync", "-E", "UTF8", "--locale=C" }, why, 120000)
        && start(why) && psql("CREATE DATABASE zq", nullptr, "postgres");
}

bool PgCluster::start(QString &why)
{
    if (isRunning)
        return true;
    const QString options = QStringLiteral("-k %1 -c listen_addresses='' -p %2 -c fsync=off").arg(sockets).arg(port);
    isRunning = runTool("pg_ctl",
        { "-D", data, "-o", options, "-l", dir.filePath("server.log"), "-w", "-t", "60", "start" }, why, 90000);
    return isRunning;
}

bool PgCluster::stop()
{
    if (!isRunning)
        return true;
    QString why;
    isRunning = !runTool("pg_ctl", { "-D", data, "-m", "fast", "-w", "stop" }, why, 90000);
    return !isRunning;
}

QString PgCluster::url(const QString &role) const
{
    return QStringLiteral("postgresql:///zq?host=%1&port=%2&user=%3")
        .arg(sockets)
        .arg(port)
        .arg(role.isEmpty() ? QStringLiteral("zq_owner") : role);
}

bool PgCluster::psql(const QString &sql, QString *out, const QString &database) const
{
    QProcess p;
    p.start("psql", { "-h", sockets, "-p", QString::number(port), "-U", "zq_owner", "-d",
                        database.isEmpty() ? QStringLiteral("zq") : database, "-X", "-A", "-t", "-v", "ON_ERROR_STOP=1",
                        "-c", sql });
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return false;
    if (out != nullptr)
        *out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return true;
}

QString PgCluster::value(const QString &sql) const
{
    QString out;
    return psql(sql, &out) ? out : QStringLiteral("?");
}
