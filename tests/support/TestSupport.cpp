#include "support/TestSupport.h"

#include "link/LineFrame.h"

#include <QCoreApplication>
#include <QCryptographicHash>
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

QJsonArray jsonLines(const QByteArray &bytes, bool *allParse)
{
    QJsonArray lines;
    if (allParse != nullptr)
        *allParse = true;
    for (const QByteArray &line : bytes.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError error {};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error == QJsonParseError::NoError && doc.isObject())
            lines.append(doc.object());
        else if (allParse != nullptr)
            *allParse = false;
    }
    return lines;
}

QString sha256(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

QProcessEnvironment toolEnvironment(const QStringList &settings)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ZQ_UPDATER_PORTS"), QString());
    for (const QString &s : settings)
        env.insert(s.section(QLatin1Char('='), 0, 0), s.section(QLatin1Char('='), 1));
    return env;
}

QByteArray framed(const QByteArray &text)
{
    char buf[kLineBufferSize] = {};
    std::memcpy(buf, text.constData(), size_t(qMin(text.size(), kLineBufferSize - 1)));
    return QByteArray(buf, CompleteLine(buf));
}

} // namespace TestSupport
