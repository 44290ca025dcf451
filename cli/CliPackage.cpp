#include "CliPackage.h"

#include "payload/FirmwareFile.h"
#include "payload/SealedFile.h"
#include "payload/TrustStore.h"
#include "payload/UpdatePackage.h"

#include <QFileInfo>
#include <cstdio>

namespace {

QString trustProblem(const TrustStore &trust)
{
    return trust.problems.isEmpty() ? QString() : trust.problems.join(QStringLiteral("; "));
}

} // namespace

CliPayload CliPackage::read(const CliOptions &options, SealedFile &firmware)
{
    const TrustStore trust = TrustStore::standard(options.keyFiles);
    if (options.packageFile.isEmpty()) {
        CliPayload p = CliPayload::read(options.payloadDir, options.mode);
        if (!p.problem.isEmpty() || options.mode == DeleteImages)
            return p;
        if (!trustProblem(trust).isEmpty())
            p.problem = trustProblem(trust);
        else if (trust.requireSigned())
            p.problem
                = QStringLiteral("the payload folder %1 is not a signed package, and the "
                                 "policy %2 requires signed packages: give one with --package")
                      .arg(options.payloadDir, trust.policyFile());
        else
            p.warnings.prepend(
                QStringLiteral("The payload folder %1 is not a signed package: nothing "
                               "shows that it is the update as released.")
                    .arg(options.payloadDir));
        return p;
    }

    CliPayload p;
    p.inputs.mode = options.mode;
    p.packageFile = options.packageFile;
    if (!trustProblem(trust).isEmpty()) {
        p.problem = trustProblem(trust);
        return p;
    }
    const UpdatePackage package = UpdatePackage::open(options.packageFile, trust);
    p.problem = package.problemFor(options.mode);
    if (!p.problem.isEmpty())
        return p;
    p.packageSha256 = QString::fromLatin1(package.sha256);
    p.signer = package.signerId;
    for (const PackageManifest::File &f : package.manifest.files)
        p.packageHashes.insert(f.path, QString::fromLatin1(f.sha256));
    p.updateVersion = package.settings.version;
    p.inputs.images = package.images;
    p.inputs.settingsProblem = package.settings.problem;
    p.inputs.expectedVersion = package.manifest.unitVersion;
    for (const QString &warning : package.warnings)
        p.warnings << warning;
    for (const QString &warning : trust.warnings)
        p.warnings << warning;
    if (package.isSigned)
        p.warnings.prepend(QStringLiteral("%1: update %2, signed by key %3.")
                               .arg(QFileInfo(package.path).fileName(), package.manifest.version,
                                   package.signerId));
    if (options.mode == FirmwareAndImages) {
        QString error;
        if (!firmware.create(package.firmware, QStringLiteral("fw1.bin"), error)) {
            p.problem = QStringLiteral("fw1.bin of %1 %2").arg(options.packageFile, error);
            return p;
        }
        p.inputs.firmwarePath = firmware.path();
    }
    return p;
}

UnitRecord::Update CliPackage::describe(const CliOptions &options, const CliPayload &payload)
{
    UnitRecord::Update u;
    u.version = payload.updateVersion;
    u.mode = options.mode;
    u.package = payload.packageFile;
    u.packageSha256 = payload.packageSha256;
    u.signer = payload.signer;
    if (options.mode == FirmwareAndImages)
        u.firmware
            = { QStringLiteral("fw1.bin"), payload.packageHashes.value(QStringLiteral("fw1.bin")) };
    if (options.mode != DeleteImages)
        for (const ImageRecord &image : payload.inputs.images)
            u.images.append({ image.fileName, payload.packageHashes.value(image.fileName) });
    return u;
}

QString CliPackage::verify(const CliOptions &options)
{
    const TrustStore trust = TrustStore::standard(options.keyFiles);
    if (!trustProblem(trust).isEmpty())
        return trustProblem(trust);
    const UpdatePackage package = UpdatePackage::open(options.packageFile, trust);
    if (!package.problem.isEmpty())
        return package.problem;
    for (const QString &mode : package.manifest.modes) {
        int m = -1;
        for (int i = FirmwareAndImages; i <= DeleteImages; ++i)
            if (UpdatePackage::modeName(i) == mode)
                m = i;
        const QString bad = m < 0 ? QStringLiteral("%1: the manifest names an unknown mode, %2")
                                        .arg(QFileInfo(package.path).fileName(), mode)
                                  : package.problemFor(m);
        if (!bad.isEmpty())
            return bad;
    }
    for (const QString &warning : package.warnings + trust.warnings)
        std::fprintf(stderr, "zq-update: %s\n", qPrintable(warning));
    const PackageManifest &m = package.manifest;
    QString out;
    out += QStringLiteral("Package:      %1\n").arg(package.path);
    out += QStringLiteral("SHA-256:      %1\n").arg(QString::fromLatin1(package.sha256));
    out += QStringLiteral("Update:       %1\n").arg(m.version);
    out += QStringLiteral("Made:         %1\n").arg(m.created.toString(Qt::ISODate));
    out += QStringLiteral("For:          %1\n").arg(m.modes.join(QStringLiteral(", ")));
    if (!m.unitVersion.isEmpty())
        out += QStringLiteral("Unit reports: %1 once it runs the update\n").arg(m.unitVersion);
    out += package.isSigned
        ? QStringLiteral("Signed by:    key %1 (%2)\n").arg(package.signerId, package.signerKeyFile)
        : QStringLiteral("Signed by:    unsigned\n");
    out += QStringLiteral("Files:\n");
    for (const PackageManifest::File &f : m.files)
        out += QStringLiteral("  %1  %2  %3\n")
                   .arg(f.path, -24)
                   .arg(f.size, 9)
                   .arg(QString::fromLatin1(f.sha256));
    out += QStringLiteral("Every check passed; nothing was sent.\n");
    std::fputs(qPrintable(out), stdout);
    return QString();
}
