#pragma once
// The steps of making an update package, used by zq-make-package and by the
// tests: collect a payload folder's files, describe them in a manifest, sign
// the manifest with the minisign program, and write the tar.
#include "TarWriter.h"
#include "payload/PackageManifest.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace PackageMaker {

// Every regular file under dir, paths relative and "/"-separated, sorted by
// path. False with error set at a link or anything else that is no file, a
// name that is not UTF-8, or a package (or its manifest or signature) left
// there by an earlier run.
bool collect(const QString &dir, QList<TarEntry> &files, QString &error);

// The manifest for files: each one's path, size and SHA-256.
PackageManifest describe(const QList<TarEntry> &files, const QString &version,
    const QDateTime &created, const QStringList &modes, const QString &unitVersion);

// manifest's signature, made by running minisign -S -s secretKey -m manifest.json
// in a temporary folder (minisign asks for the key's password, if it has one,
// on this program's terminal). Empty with error set when minisign fails.
// legacy: minisign's older form (-l), Ed25519 over the manifest itself.
QByteArray sign(
    const QByteArray &manifest, const QString &secretKey, QString &error, bool legacy = false);

// The package: manifest.json, its signature (when not empty), then files.
QByteArray build(const QByteArray &manifest, const QByteArray &signature,
    const QList<TarEntry> &files, QString &error);

} // namespace PackageMaker
