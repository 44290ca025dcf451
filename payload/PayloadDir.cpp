#include "payload/PayloadDir.h"

#include <QCoreApplication>
#include <QDir>

#ifndef ZQ_INSTALL_BINDIR
#define ZQ_INSTALL_BINDIR "/usr/bin"
#endif

bool PayloadDir::isSystemFolder(const QString &programDir)
{
    const QString dir = QDir::cleanPath(programDir);
    for (const char *system : { "/usr/bin", "/usr/local/bin", "/bin", "/usr/sbin", "/sbin",
             "/usr/games", ZQ_INSTALL_BINDIR })
        if (dir == QDir::cleanPath(QLatin1String(system)))
            return true;
    return false;
}

QString PayloadDir::besideProgram()
{
    const QString dir = QCoreApplication::applicationDirPath();
    return isSystemFolder(dir) ? QString() : dir;
}
