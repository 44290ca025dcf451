#include "payload/SealedFile.h"

#include <QTemporaryFile>

// Windows has no memory file a path reaches: a temporary file the program
// keeps open (and removes when done) holds the checked bytes.
struct SealedFile::Handle {
    QTemporaryFile file;
};

SealedFile::SealedFile() = default;
SealedFile::~SealedFile() = default;

bool SealedFile::create(const QByteArray &bytes, const QString &name, QString &error)
{
    handle = std::make_unique<Handle>();
    if (!handle->file.open() || handle->file.write(bytes) != bytes.size()
        || !handle->file.flush()) {
        error = QStringLiteral("cannot hold %1 (%2)").arg(name, handle->file.errorString());
        return false;
    }
    filePath = handle->file.fileName();
    return true;
}
