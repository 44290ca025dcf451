#include "TarWriter.h"

#include <archive.h>
#include <archive_entry.h>

namespace {

la_ssize_t appendTo(archive *, void *target, const void *buffer, size_t length)
{
    static_cast<QByteArray *>(target)->append(static_cast<const char *>(buffer), int(length));
    return la_ssize_t(length);
}

int noop(archive *, void *)
{
    return ARCHIVE_OK;
}

} // namespace

QByteArray TarWriter::write(const QList<TarEntry> &entries, QString &error)
{
    QByteArray out;
    archive *a = archive_write_new();
    archive_write_set_format_pax_restricted(a);
    archive_write_add_filter_none(a);
    archive_write_set_bytes_in_last_block(a, 1); // no padding to 10 KiB
    if (archive_write_open(a, &out, noop, appendTo, noop) != ARCHIVE_OK) {
        error = QString::fromUtf8(archive_error_string(a));
        archive_write_free(a);
        return QByteArray();
    }
    bool ok = true;
    for (const TarEntry &e : entries) {
        archive_entry *entry = archive_entry_new();
        const QByteArray path = e.path.toUtf8();
        archive_entry_set_pathname(entry, path.constData());
        archive_entry_set_uid(entry, 0);
        archive_entry_set_gid(entry, 0);
        archive_entry_set_mtime(entry, 0, 0);
        const QByteArray target = e.linkTarget.toUtf8();
        switch (e.type) {
        case TarEntry::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            archive_entry_set_size(entry, e.declaredSize >= 0 ? e.declaredSize : e.data.size());
            break;
        case TarEntry::Sparse:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            archive_entry_set_size(entry, e.declaredSize);
            archive_entry_sparse_add_entry(entry, 0, e.data.size());
            break;
        case TarEntry::Folder:
            archive_entry_set_filetype(entry, AE_IFDIR);
            archive_entry_set_perm(entry, 0755);
            break;
        case TarEntry::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_perm(entry, 0777);
            archive_entry_set_symlink(entry, target.constData());
            break;
        case TarEntry::Hardlink:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_perm(entry, 0644);
            archive_entry_set_hardlink(entry, target.constData());
            break;
        case TarEntry::CharDevice:
            archive_entry_set_filetype(entry, AE_IFCHR);
            archive_entry_set_perm(entry, 0600);
            archive_entry_set_rdev(entry, 0x0501);
            break;
        case TarEntry::Fifo:
            archive_entry_set_filetype(entry, AE_IFIFO);
            archive_entry_set_perm(entry, 0600);
            break;
        }
        if (archive_write_header(a, entry) != ARCHIVE_OK) {
            error = QString::fromUtf8(archive_error_string(a));
            ok = false;
        } else if ((e.type == TarEntry::File || e.type == TarEntry::Sparse) && !e.data.isEmpty()
            && archive_write_data(a, e.data.constData(), size_t(e.data.size())) < 0) {
            error = QString::fromUtf8(archive_error_string(a));
            ok = false;
        }
        archive_entry_free(entry);
        if (!ok)
            break;
    }
    if (archive_write_close(a) != ARCHIVE_OK && ok) {
        error = QString::fromUtf8(archive_error_string(a));
        ok = false;
    }
    archive_write_free(a);
    return ok ? out : QByteArray();
}
