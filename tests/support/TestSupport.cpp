#include "support/TestSupport.h"

#include "link/LineFrame.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <cstring>

namespace TestSupport {

QString appFile(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

bool writeAppFile(const QString &name, const QByteArray &bytes)
{
    const QString path = appFile(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return writeFile(path, bytes);
}

void removeAppFiles(const QStringList &names)
{
    for (const QString &name : names) {
        const QString path = appFile(name);
        if (QFileInfo(path).isDir())
            QDir(path).removeRecursively();
        else
            QFile::remove(path);
    }
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QJsonObject readJson(const QString &path)
{
    return QJsonDocument::fromJson(readFile(path)).object();
}

QByteArray framed(const QByteArray &text)
{
    char buf[kLineBufferSize] = {};
    std::memcpy(buf, text.constData(), size_t(qMin(text.size(), kLineBufferSize - 1)));
    return QByteArray(buf, CompleteLine(buf));
}

} // namespace TestSupport
