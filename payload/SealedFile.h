#pragma once
// Bytes checked in memory, handed to code that reads a file by its path (the
// job engine reads fw1.bin so) without writing them to disk. On Linux a sealed
// memory file (memfd), which nothing can change once made, reached through
// /proc/self/fd; elsewhere a temporary file the program keeps open.
#include <QByteArray>
#include <QString>

#include <memory>

class SealedFile
{
public:
    SealedFile();
    ~SealedFile();
    SealedFile(const SealedFile &) = delete;
    SealedFile &operator=(const SealedFile &) = delete;

    // Makes the file hold bytes; false with error set when it can't.
    bool create(const QByteArray &bytes, const QString &name, QString &error);
    // The path the bytes can be read from while this object lives.
    QString path() const
    {
        return filePath;
    }

private:
    struct Handle;
    std::unique_ptr<Handle> handle;
    QString filePath;
};
