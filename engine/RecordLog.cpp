#include "engine/RecordLog.h"

#include "engine/FileWrite.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

bool RecordLog::append(const QString &file, const QByteArray &line, QString &error)
{
    const QString dir = QFileInfo(file).absolutePath();
    if (!QDir().mkpath(dir)) {
        error = QStringLiteral("cannot create the folder %1").arg(dir);
        return false;
    }
    return FileWrite::appendWhole(file, line, error);
}

QString RecordLog::historyFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        + QStringLiteral("/history.jsonl");
}
