#pragma once
// Writes a plain (ustar/pax) tar in memory with libarchive, every entry with
// the same owner (0, no names), time (0) and mode (0644, folders 0755), so the
// same entries give the same bytes. The package maker writes regular files
// only; the tests also write the entries a hostile package would hold.
#include <QByteArray>
#include <QList>
#include <QString>

struct TarEntry {
    // Sparse: a file of declaredSize bytes whose data (at offset 0) is all
    // that is stored; the rest is a hole that reads as zeros.
    enum Type { File, Folder, Symlink, Hardlink, CharDevice, Fifo, Sparse };
    TarEntry() = default;
    TarEntry(const QString &p, const QByteArray &d = QByteArray(), Type t = File,
        const QString &target = QString(), qint64 size = -1)
        : path(p)
        , data(d)
        , type(t)
        , linkTarget(target)
        , declaredSize(size)
    {
    }
    QString path;
    QByteArray data; // a file's bytes
    Type type = File;
    QString linkTarget; // for links
    qint64 declaredSize = -1; // the size in the header when not data.size() (padded with zeros)
};

namespace TarWriter {

// The tar holding entries in the order given; an empty array when libarchive
// refuses one (error says why).
QByteArray write(const QList<TarEntry> &entries, QString &error);

} // namespace TarWriter
