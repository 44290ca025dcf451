#include "payload/PackageArchive.h"

#include "payload/PackageLimits.h"

#include <archive.h>
#include <archive_entry.h>
#include <memory>

namespace {

struct ArchiveCloser {
    void operator()(archive *a) const
    {
        archive_read_free(a);
    }
};

QString archiveError(archive *a)
{
    const char *text = archive_error_string(a);
    return text ? QString::fromUtf8(text) : QStringLiteral("unknown error");
}

} // namespace

QString PackageArchive::pathProblem(const QString &path)
{
    if (path.isEmpty())
        return QStringLiteral("has an empty name");
    if (path.startsWith(QLatin1Char('/')) || (path.size() >= 2 && path[1] == QLatin1Char(':')))
        return QStringLiteral("has an absolute path");
    if (path.contains(QLatin1Char('\\')) || path.contains(QLatin1Char('\0')))
        return QStringLiteral("has a backslash or a null in its name");
    const QStringList parts = path.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return QStringLiteral("leaves the package (its path holds \"..\")");
        if (part.isEmpty() || part == QLatin1String("."))
            return QStringLiteral("is not a plain relative path (an empty or \".\" part)");
    }
    return QString();
}

bool PackageArchive::read(const QByteArray &bytes, PackageArchive &out, QString &error)
{
    std::unique_ptr<archive, ArchiveCloser> a(archive_read_new());
    // A plain tar, nothing else: no compression filter, no other format.
    archive_read_support_format_tar(a.get());
    if (archive_read_open_memory(a.get(), bytes.constData(), static_cast<size_t>(bytes.size()))
        != ARCHIVE_OK) {
        error = QStringLiteral("is not a tar file (%1)").arg(archiveError(a.get()));
        return false;
    }
    int count = 0;
    qint64 total = 0; // the bytes of the files read so far
    for (;;) {
        archive_entry *entry = nullptr;
        const int r = archive_read_next_header(a.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r != ARCHIVE_OK) {
            error = count == 0 ? QStringLiteral("is not a tar file (%1)").arg(archiveError(a.get()))
                               : QStringLiteral("is damaged or truncated after %1 entries (%2)")
                                     .arg(count)
                                     .arg(archiveError(a.get()));
            return false;
        }
        if (++count > PackageLimits::kMaxEntries) {
            error = QStringLiteral("holds more than %1 entries").arg(PackageLimits::kMaxEntries);
            return false;
        }
        const char *rawName = archive_entry_pathname(entry);
        QString path = QString::fromUtf8(rawName ? rawName : "");
        const QString quoted = QLatin1Char('"') + path + QLatin1Char('"');
        const auto type = archive_entry_filetype(entry);
        if (type == AE_IFDIR && path.endsWith(QLatin1Char('/')))
            path.chop(1);
        const QString bad = pathProblem(path);
        if (!bad.isEmpty()) {
            error = QStringLiteral("entry %1 %2").arg(quoted, bad);
            return false;
        }
        if (type == AE_IFLNK || archive_entry_hardlink(entry)) {
            error = QStringLiteral("entry %1 is a link; a package holds files only").arg(quoted);
            return false;
        }
        if (type != AE_IFREG && type != AE_IFDIR) {
            error
                = QStringLiteral("entry %1 is a device, FIFO or socket; a package holds files only")
                      .arg(quoted);
            return false;
        }
        if (out.files.contains(path) || out.folders.contains(path)) {
            error = QStringLiteral("entry %1 appears twice").arg(quoted);
            return false;
        }
        if (type == AE_IFDIR) {
            out.folders.insert(path);
            continue;
        }
        const la_int64_t size = archive_entry_size(entry);
        if (size > PackageLimits::kMaxEntryBytes) {
            error = QStringLiteral("entry %1 is larger than a file in a package may be (%2 bytes, "
                                   "at most %3)")
                        .arg(quoted)
                        .arg(size)
                        .arg(PackageLimits::kMaxEntryBytes);
            return false;
        }
        if (archive_entry_sparse_count(entry) > 0) {
            error = QStringLiteral("entry %1 is a sparse file; a package holds plain files only")
                        .arg(quoted);
            return false;
        }
        // Each entry's bytes come out of the package, so together they can't
        // be more than a package may hold.
        total += qMax<la_int64_t>(size, 0);
        if (total > PackageLimits::kMaxPackageBytes) {
            error = QStringLiteral("entry %1 takes its files past %2 bytes, more than a package "
                                   "may hold")
                        .arg(quoted)
                        .arg(PackageLimits::kMaxPackageBytes);
            return false;
        }
        QByteArray data(static_cast<int>(qMax<la_int64_t>(size, 0)), Qt::Uninitialized);
        qint64 got = 0;
        while (got < data.size()) {
            const la_ssize_t n = archive_read_data(
                a.get(), data.data() + got, static_cast<size_t>(data.size() - got));
            if (n <= 0) {
                error = QStringLiteral("is damaged or truncated in entry %1 (%2)")
                            .arg(quoted,
                                n < 0 ? archiveError(a.get()) : QStringLiteral("it ends early"));
                return false;
            }
            got += n;
        }
        out.files.insert(path, data);
    }
    return true;
}
