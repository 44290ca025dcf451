// Whole writes on Windows: QSaveFile's atomic replace for the report, a
// checked append cut back on failure for the log.
#include "engine/FileWrite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

QString FileWrite::targetProblem(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || path.contains(QChar(0)))
        return QStringLiteral("%1: not a usable file name").arg(path);
    if (info.exists() && !info.isFile())
        return QStringLiteral("%1 is not a regular file; name a regular file").arg(path);
    return QString();
}

QString FileWrite::outputProblem(const QString &path, Writing how)
{
    const QString problem = targetProblem(path);
    if (!problem.isEmpty())
        return problem;
    const QFileInfo info(path);
    const QFileInfo folder(info.absolutePath());
    if (!folder.isDir())
        return QStringLiteral("the folder %1 does not exist (no folder is made)").arg(folder.filePath());
    const bool writable = how == Writing::Append && info.exists() ? info.isWritable() : folder.isWritable();
    if (!writable)
        return QStringLiteral("%1 cannot be written").arg(how == Writing::Append && info.exists() ? path : folder.filePath());
    return QString();
}

bool FileWrite::replaceWhole(const QString &path, const QByteArray &bytes, QString &error)
{
    error = targetProblem(path);
    if (!error.isEmpty())
        return false;
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        error = QStringLiteral("%1; %2 was left as it was").arg(out.errorString(), path);
        out.cancelWriting();
        return false;
    }
    return true;
}

bool FileWrite::appendWhole(const QString &path, const QByteArray &record, QString &error)
{
    error = targetProblem(path);
    if (!error.isEmpty())
        return false;
    QFile out(path);
    if (!out.open(QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        error = out.errorString();
        return false;
    }
    const qint64 before = out.size();
    QByteArray bytes = record;
    if (before > 0 && out.seek(before - 1) && out.read(1) != "\n")
        bytes.prepend('\n');
    out.seek(before);
    const qint64 written = out.write(bytes);
    if (written != bytes.size() || !out.flush()) {
        out.resize(before);
        error = QStringLiteral("%1 (the log was cut back to its last whole record)")
                    .arg(out.errorString());
        return false;
    }
    return true;
}

bool FileWrite::sameFile(const QString &a, const QString &b)
{
    const QFileInfo ia(a);
    const QFileInfo ib(b);
    if (ia.exists() && ib.exists())
        return ia.canonicalFilePath().compare(ib.canonicalFilePath(), Qt::CaseInsensitive) == 0;
    return QDir::cleanPath(ia.absoluteFilePath()).compare(QDir::cleanPath(ib.absoluteFilePath()), Qt::CaseInsensitive) == 0;
}
