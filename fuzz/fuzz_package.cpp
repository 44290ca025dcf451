// Fuzz target: any bytes as an update package, through the checks the program
// runs before a port is opened (the tar entries, the manifest, the signature,
// every file against the manifest), and the first byte's low bits choose to
// feed the rest to the manifest parser or the signature reader alone. No key
// is trusted, so a package that passes is unsigned. Whatever passes must hold exactly the files its manifest
// names, each of the size and SHA-256 it gives, under plain relative paths.
#include "payload/MinisignKey.h"
#include "payload/MinisignSignature.h"
#include "payload/PackageArchive.h"
#include "payload/PackageLimits.h"
#include "payload/PackageManifest.h"
#include "payload/TrustStore.h"
#include "payload/UpdatePackage.h"

#include <QCryptographicHash>
#include <cstdint>
#include <cstdlib>

namespace {

// No key is trusted: the input can't carry a signature that counts.
const TrustStore &trust()
{
    static const TrustStore store;
    return store;
}

void package(const QByteArray &bytes)
{
    const UpdatePackage p = UpdatePackage::check(bytes, QStringLiteral("f.zqpkg"), trust());
    if (p.problem) {
        if (!p.files.isEmpty() || !p.firmware.isEmpty() || p.isSigned)
            std::abort(); // a refused package gives nothing to send
        if (p.problem.message.isEmpty())
            std::abort(); // and says why
        return;
    }
    if (p.isSigned || p.warnings.isEmpty())
        std::abort(); // no key is trusted: only an unsigned package passes, with a warning
    if (p.files.size() != p.manifest.files.size())
        std::abort();
    for (const PackageManifest::File &f : p.manifest.files) {
        if (!PackageArchive::pathProblem(f.path).isEmpty() || !p.files.contains(f.path))
            std::abort();
        const QByteArray &data = p.files[f.path];
        if (data.size() != f.size || data.size() > PackageLimits::kMaxEntryBytes
            || QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex() != f.sha256)
            std::abort();
    }
    if (p.hasFirmware != p.files.contains(QStringLiteral("fw1.bin")))
        std::abort();
}

void manifest(const QByteArray &bytes)
{
    PackageManifest m;
    QString error;
    if (!PackageManifest::parse(bytes, m, error)) {
        if (error.isEmpty())
            std::abort();
        return;
    }
    // What parses writes back to the same manifest.
    PackageManifest again;
    if (!PackageManifest::parse(m.toJson(), again, error) || again.toJson() != m.toJson())
        std::abort();
}

void signature(const QByteArray &bytes)
{
    MinisignSignature sig;
    QString error;
    if (!MinisignSignature::parse(bytes, sig, error))
        return;
    if (sig.keyId.size() != 8 || sig.signature.size() != 64 || sig.globalSignature.size() != 64)
        std::abort();
    MinisignKey key;
    key.id = sig.keyId;
    key.publicKey = QByteArray(32, '\x5a');
    if (sig.verify("manifest", key) == MinisignSignature::Valid)
        std::abort(); // the fuzzer can't forge Ed25519
    sig.signedFileName();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data) + 1, static_cast<int>(size - 1));
    switch (data[0] & 3) {
    case 1: manifest(rest); break;
    case 2: signature(rest); break;
    default: package(rest); break;
    }
    return 0;
}
