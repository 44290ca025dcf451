#pragma once
// manifest.json, the part of an update package that is signed: what the
// update is (its version, when it was made, the modes it is for, the version
// the unit reports once it runs it) and every file it holds, with its size
// and SHA-256.
#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

struct PackageManifest {
    static constexpr int kFormat = 1; // "format": the one this program reads

    struct File {
        QString path; // relative, "/"-separated, as in the package
        qint64 size = 0;
        QByteArray sha256; // 64 lower-case hex digits
    };

    int format = kFormat;
    QString version; // "version": the update's version
    QDateTime created; // "created": UTC
    QStringList modes; // "modes": "firmware-and-images", "images", "erase-images"
    QString unitVersion; // "unitVersion": what the unit reports running it; optional
    QList<File> files; // "files"

    // Reads manifest.json's bytes. False with error set (what is wrong, for a
    // message naming manifest.json) when a field is missing or malformed.
    static bool parse(const QByteArray &bytes, PackageManifest &manifest, QString &error);
    // The manifest as indented JSON, keys and files in a fixed order.
    QByteArray toJson() const;
    // The entry for path, or nullptr.
    const File *file(const QString &path) const;
};
