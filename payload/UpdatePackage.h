#pragma once
// An update package (NAME.zqpkg) opened and checked: a plain tar holding
// manifest.json, its minisign signature manifest.json.minisig and the files
// the manifest lists. Everything is checked in memory before any port is
// opened: the sizes (PackageLimits), every tar entry (PackageArchive), the
// signature against the trusted keys (TrustStore), and every file's size and
// SHA-256 against the manifest. What passes is the payload a job sends: the
// bytes of fw1.bin, settings.json read, and the display images it names.
#include "payload/ImageRecord.h"
#include "payload/PackageManifest.h"
#include "payload/Problem.h"
#include "payload/Settings.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

class TrustStore;

struct UpdatePackage {
    static constexpr const char *kManifestName = "manifest.json";
    static constexpr const char *kSignatureName = "manifest.json.minisig";

    QString path; // the package file
    QByteArray sha256; // the package file's SHA-256, hex
    PackageManifest manifest;
    bool isSigned = false; // a trusted key's signature verified
    QString signerId; // that key's id (MinisignKey::idText); empty when unsigned
    QString signerKeyFile; // where the key was found
    QMap<QString, QByteArray> files; // the payload files, path -> bytes

    // The payload, read from files once every check passed.
    QByteArray firmware; // fw1.bin; empty when the package holds none
    bool hasFirmware = false;
    Settings settings; // settings.json
    QList<ImageRecord> images; // one per image settings.json names, in order

    QStringList warnings; // unsigned and taken, ...
    Problem problem; // why the package is refused; none when it can be used

    // Opens and checks the package at path against trust.
    static UpdatePackage open(const QString &path, const TrustStore &trust);
    // The same for a package's bytes; name is used in messages.
    static UpdatePackage check(
        const QByteArray &bytes, const QString &name, const TrustStore &trust);

    // Why the package can't be used for mode (an UpdateMode): its problem, not
    // one of the manifest's modes (WrongMode), no usable fw1.bin (Firmware),
    // settings.json (Settings) or image (Images); none when it can.
    Problem problemFor(int mode) const;

    // The manifest's mode names for an UpdateMode.
    static QString modeName(int mode);
};
