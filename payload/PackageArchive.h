#pragma once
// The files of an update package's tar, read in memory with libarchive. Every
// entry is checked as it is met: a plain relative path (no absolute path, no
// "..", no empty or "." part, no backslash or drive letter), a regular file or
// a folder (no link, device, FIFO, socket or sparse file), named once, within
// the sizes of PackageLimits. Nothing is written to disk.
#include <QByteArray>
#include <QMap>
#include <QSet>
#include <QString>

struct PackageArchive {
    QMap<QString, QByteArray> files; // path -> bytes
    QSet<QString> folders; // folder entries (allowed, but never where a file belongs)

    // Reads the tar in bytes. False with error set (naming the entry and what
    // is wrong with it) at the first entry that fails a check, or when the
    // tar is damaged or truncated.
    static bool read(const QByteArray &bytes, PackageArchive &archive, QString &error);

    // Why path is not a plain relative path; empty when it is.
    static QString pathProblem(const QString &path);
};
