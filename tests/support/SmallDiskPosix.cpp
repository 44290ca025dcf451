#include "support/SmallDisk.h"

#include <QFile>
#include <sys/mount.h>

bool SmallDisk::mount(int kilobytes, unsigned long flags)
{
    const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
    mounted = dir.isValid()
        && ::mount("zq-test", QFile::encodeName(dir.path()).constData(), "tmpfs", flags, options.constData()) == 0;
    return mounted;
}

bool SmallDisk::fill()
{
    QFile filler(dir.filePath(QStringLiteral("filler")));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray block(512, 'f');
    while (filler.write(block) == block.size()) { }
    filler.close();
    return filler.size() > 0;
}

SmallDisk::~SmallDisk()
{
    if (mounted)
        ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
}
