#include "engine/RecordLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

bool RecordLog::append(const QString &file, const QByteArray &line, QString &error)
{
    const QString dir = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(dir)) {
        error = QStringLiteral("cannot create the folder %1").arg(dir);
        return false;
    }
    QFile out(file);
    // Unbuffered: the line is one write() on an O_APPEND descriptor.
    if (!out.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        error = out.errorString();
        return false;
    }
    const qint64 written = out.write(line);
    if (written != line.size() || !out.flush()) {
        error = written < 0 ? out.errorString()
                            : QStringLiteral("only %1 of %2 bytes written").arg(written).arg(line.size());
        return false;
    }
    out.close();
    if (out.error() != QFileDevice::NoError) {
        error = out.errorString();
        return false;
    }
    return true;
}

QString RecordLog::historyFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        + QStringLiteral("/history.jsonl");
}
