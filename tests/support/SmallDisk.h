#pragma once
// A tmpfs of a few kilobytes mounted on a folder of its own: a disk that fills
// up, or a read-only one. Mounting needs root; callers skip without it.
#include <QTemporaryDir>

struct SmallDisk {
    QTemporaryDir dir;
    bool mounted = false;
    // Mounts a tmpfs of kilobytes on dir with the mount flags (MS_RDONLY).
    bool mount(int kilobytes, unsigned long flags = 0);
    // Fills the disk with a file "filler"; true when some of it was written.
    bool fill();
    ~SmallDisk();
};
