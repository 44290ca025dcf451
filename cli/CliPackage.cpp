#include "CliPackage.h"

#include "Console.h"

#include "payload/TrustStore.h"
#include "payload/UpdatePackage.h"
#include "engine/UpdateSource.h"

#include <QFileInfo>

JobPayload CliPackage::read(const CliOptions &options, UpdateSource &package)
{
    const TrustStore trust = TrustStore::standard(options.keyFiles);
    const UpdateMode mode = options.mode;
    if (options.packageFile.isEmpty()) {
        const QString fix = QStringLiteral(" Put the update's files in %1 or name their folder "
                                           "with --payload.")
                                .arg(options.payloadDir);
        JobPayload p = JobPayload::read(options.payloadDir, mode, JobPayload::Checked, fix);
        if (p.problem || mode == DeleteImages)
            return p;
        // The folder policy is UpdateSource's, as in the window.
        const UpdateSource folder = UpdateSource::openFolder(options.payloadDir, trust);
        p.problem = folder.problemFor(mode);
        if (!p.problem)
            p.warnings = folder.warnings + p.warnings;
        return p;
    }

    JobPayload refused;
    refused.inputs.mode = mode;
    refused.packageFile = options.packageFile;
    package = UpdateSource::openPackage(options.packageFile, trust);
    const UpdatePackage &opened = package.package;
    refused.problem = package.problemFor(mode);
    if (refused.problem)
        return refused;
    JobPayload p = JobPayload::fromPackage(opened, options.packageFile, mode);
    if (p.problem)
        return p;
    p.warnings = package.warnings;
    if (opened.isSigned)
        p.warnings.prepend(QStringLiteral("%1: update %2, signed by key %3.")
                               .arg(QFileInfo(opened.path).fileName(), opened.manifest.version,
                                   opened.signerId));
    return p;
}

Problem CliPackage::verify(const CliOptions &options)
{
    const UpdateSource source
        = UpdateSource::openPackage(options.packageFile, TrustStore::standard(options.keyFiles));
    if (source.problem)
        return source.problem;
    const UpdatePackage &package = source.package;
    // Every mode it names is checked on opening; a name no job has is refused here.
    const auto known = [](const QString &name) {
        for (const UpdateMode m : { FirmwareAndImages, ImagesOnly, DeleteImages })
            if (UpdatePackage::modeName(m) == name)
                return true;
        return false;
    };
    for (const QString &mode : package.manifest.modes)
        if (!known(mode))
            return { Problem::WrongMode,
                QStringLiteral("%1: the manifest names an unknown mode, %2")
                    .arg(QFileInfo(package.path).fileName(), mode) };
    for (const QString &warning : source.warnings)
        Console::writeErr(
            QStringLiteral("zq-update: %1\n").arg(Console::shown(warning)).toLocal8Bit());
    // The manifest's text as it is, control bytes and escape sequences as \xNN:
    // it must not wipe a warning off the screen or forge a line.
    const PackageManifest &m = package.manifest;
    QString out;
    out += QStringLiteral("Package:      %1\n").arg(Console::shown(package.path));
    out += QStringLiteral("SHA-256:      %1\n").arg(QString::fromLatin1(package.sha256));
    out += QStringLiteral("Update:       %1\n").arg(Console::shown(m.version));
    out += QStringLiteral("Made:         %1\n").arg(m.created.toString(Qt::ISODate));
    out += QStringLiteral("For:          %1\n")
               .arg(Console::shown(m.modes.join(QStringLiteral(", "))));
    if (!m.unitVersion.isEmpty())
        out += QStringLiteral("Unit reports: %1 once it runs the update\n")
                   .arg(Console::shown(m.unitVersion));
    out += package.isSigned ? QStringLiteral("Signed by:    key %1 (%2)\n")
                                  .arg(package.signerId, Console::shown(package.signerKeyFile))
                            : QStringLiteral("Signed by:    unsigned\n");
    out += QStringLiteral("Files:\n");
    for (const PackageManifest::File &f : m.files)
        out += QStringLiteral("  %1  %2  %3\n")
                   .arg(Console::shown(f.path), -24)
                   .arg(f.size, 9)
                   .arg(QString::fromLatin1(f.sha256));
    out += QStringLiteral("Every check passed; nothing was sent.\n");
    Console::writeOut(out.toLocal8Bit());
    return {};
}
