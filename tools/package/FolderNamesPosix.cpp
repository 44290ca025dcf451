// The folder read with opendir(3) and readdir(3), whose names are bytes.
#include "FolderNames.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// raw with every byte outside printable ASCII shown as \xNN.
QString shown(const QByteArray &raw)
{
    QString out;
    for (const char c : raw) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F)
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x%1").arg(byte, 2, 16, QLatin1Char('0'));
    }
    return out;
}

void walk(const QByteArray &folder, const QByteArray &relative, QStringList &bad, int depth)
{
    DIR *dir = ::opendir(folder.constData());
    if (dir == nullptr || depth > 64) {
        if (dir != nullptr)
            ::closedir(dir);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray rel = relative.isEmpty() ? name : relative + '/' + name;
        if (QString::fromUtf8(name).toUtf8() != name) {
            bad << shown(rel);
            continue;
        }
        struct stat st {};
        const QByteArray path = folder + '/' + name;
        if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            walk(path, rel, bad, depth + 1);
    }
    ::closedir(dir);
}

} // namespace

QStringList FolderNames::notUtf8(const QString &dir)
{
    QStringList bad;
    walk(QFile::encodeName(dir), QByteArray(), bad, 0);
    bad.sort();
    return bad;
}
