#pragma once
// The sizes an update package (NAME.zqpkg) and its parts may have. A package
// over any of them is refused before it is read further: the whole package is
// held in memory while it is checked, so these bound what a hostile file costs.
#include <QtGlobal>

namespace PackageLimits {

constexpr qint64 kMaxPackageBytes = 64 * 1024 * 1024; // the .zqpkg file
constexpr qint64 kMaxEntryBytes = 16 * 1024 * 1024; // one file in it (fw1.bin is under 1 MiB)
constexpr int kMaxEntries = 512; // files in one package
constexpr qint64 kMaxManifestBytes = 1024 * 1024; // manifest.json
constexpr qint64 kMaxSignatureBytes = 4096; // manifest.json.minisig
constexpr qint64 kMaxKeyFileBytes = 4096; // a minisign .pub file
constexpr qint64 kMaxPolicyBytes = 64 * 1024; // policy.json
constexpr int kMaxKeyFiles = 256; // .pub files read from one keys folder

} // namespace PackageLimits
