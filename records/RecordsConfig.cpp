#include "records/RecordsConfig.h"

#include "engine/Timeouts.h"
#include "payload/FileRead.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>

namespace {

constexpr qint64 kLongestConfig = 64 * 1024;

QString passwordRefusal()
{
    return QStringLiteral(
        "the connection string names a password; passwords are never taken from the "
        "command line or records.conf: put it in ~/.pgpass (or a service file named by "
        "PGSERVICEFILE), which the PostgreSQL client library reads itself");
}

// libpq's quoting: single quotes, backslash before ' and \.
QString quoted(const QString &keyword, QString value)
{
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QStringLiteral("%1='%2'").arg(keyword, value);
}

bool addOption(QStringList &options, const QString &keyword, const QString &value, QString &error)
{
    if (keyword.compare(QLatin1String("password"), Qt::CaseInsensitive) == 0) {
        error = passwordRefusal();
        return false;
    }
    static const QString allowed = QStringLiteral("abcdefghijklmnopqrstuvwxyz_");
    if (keyword.isEmpty()
        || std::any_of(keyword.cbegin(), keyword.cend(), [](QChar c) { return !allowed.contains(c); })) {
        error = QStringLiteral("\"%1\" is no connection parameter").arg(keyword.left(40));
        return false;
    }
    // The driver takes its options separated by ';'.
    if (value.contains(QLatin1Char(';'))) {
        error = QStringLiteral("the connection parameter %1 holds a ';', which can't be passed on")
                    .arg(keyword);
        return false;
    }
    options << quoted(keyword, value);
    return true;
}

} // namespace

QString RecordsConfig::defaultLocalFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        + QStringLiteral("/zq-updater/records.sqlite");
}

QString RecordsConfig::configFile()
{
    const QString named = qEnvironmentVariable("ZQ_RECORDS_CONF");
    if (!named.isEmpty())
        return named;
#ifdef Q_OS_WIN
    return QDir::fromNativeSeparators(qEnvironmentVariable("PROGRAMDATA"))
        + QStringLiteral("/zq-updater/records.conf");
#else
    return QStringLiteral("/etc/zq-updater/records.conf");
#endif
}

bool RecordsConfig::parseServer(const QString &conn, QStringList &options, QString &error)
{
    options.clear();
    const QString text = conn.trimmed();
    if (text.startsWith(QLatin1String("postgresql://")) || text.startsWith(QLatin1String("postgres://"))) {
        const QUrl url(text, QUrl::StrictMode);
        if (!url.isValid()) {
            error = QStringLiteral("the connection string is no valid URL: %1").arg(url.errorString());
            return false;
        }
        if (!url.password().isEmpty()) {
            error = passwordRefusal();
            return false;
        }
        const QString db = url.path().mid(1);
        if ((!url.host().isEmpty() && !addOption(options, QStringLiteral("host"), url.host(), error))
            || (url.port() > 0
                && !addOption(options, QStringLiteral("port"), QString::number(url.port()), error))
            || (!url.userName().isEmpty()
                && !addOption(options, QStringLiteral("user"), url.userName(), error))
            || (!db.isEmpty() && !addOption(options, QStringLiteral("dbname"), db, error)))
            return false;
        const auto items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
        for (const auto &item : items)
            if (!addOption(options, item.first, item.second, error))
                return false;
    } else {
        // keyword=value pairs separated by blanks (values without blanks or quotes).
        const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &word : words) {
            const int eq = word.indexOf(QLatin1Char('='));
            if (eq <= 0 || word.contains(QLatin1Char('\''))) {
                error = QStringLiteral("the connection string \"%1\" is neither a postgresql:// URL "
                                       "nor keyword=value pairs")
                            .arg(text.left(80));
                return false;
            }
            if (!addOption(options, word.left(eq), word.mid(eq + 1), error))
                return false;
        }
    }
    if (options.isEmpty()) {
        error = QStringLiteral("the connection string is empty");
        return false;
    }
    if (!options.filter(QRegularExpression(QStringLiteral("^connect_timeout="))).isEmpty())
        return true;
    options << quoted(QStringLiteral("connect_timeout"),
        QString::number(Timeouts::kRecordsConnectSeconds));
    return true;
}

bool RecordsConfig::load(const QString &url, RecordsConfig &config, QString &error)
{
    config.localFile = defaultLocalFile();
    QString conn = url;
    config.source = QStringLiteral("--records");
    if (conn.isEmpty()) {
        const QString file = configFile();
        QFile f(file);
        if (!f.exists())
            return true;
        qint64 size = 0;
        QString why;
        if (!FileRead::regularFile(file, size, why)) {
            error = why;
            return false;
        }
        if (f.size() > kLongestConfig || !f.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("%1 can't be read%2").arg(file,
                f.size() > kLongestConfig ? QStringLiteral(" (over 64 KiB)") : QString());
            return false;
        }
        const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        for (const QString &raw : lines) {
            const QString line = raw.trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
                continue;
            const int eq = line.indexOf(QLatin1Char('='));
            const QString key = line.left(eq).trimmed();
            if (eq <= 0 || key != QLatin1String("server")) {
                error = QStringLiteral("%1: \"%2\" is not understood; the file holds one line "
                                       "\"server = CONNECTION\"")
                            .arg(file, line.left(80));
                return false;
            }
            conn = line.mid(eq + 1).trimmed();
        }
        config.source = file;
    }
    if (conn.isEmpty())
        return true;
    if (!parseServer(conn, config.serverOptions, error)) {
        error = QStringLiteral("%1: %2").arg(config.source, error);
        return false;
    }
    config.server = conn;
    return true;
}
