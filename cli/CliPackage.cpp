#include "CliPackage.h"

#include "Console.h"

#include "payload/FirmwareFile.h"
#include "payload/TrustStore.h"
#include "payload/UpdatePackage.h"
#include "engine/UpdateSource.h"

#include <QFileInfo>

namespace {

QString trustProblem(const TrustStore &trust)
{
    return trust.problems.isEmpty() ? QString() : trust.problems.join(QStringLiteral("; "));
}

} // namespace

JobPayload CliPackage::read(const CliOptions &options, UpdateSource &package)
{
    const TrustStore trust = TrustStore::standard(options.keyFiles);
    const UpdateMode mode = options.mode;
    if (options.packageFile.isEmpty()) {
        const QString fix = QStringLiteral(" Put the update's files in %1 or name their folder "
                                           "with --payload.")
                                .arg(options.payloadDir);
        JobPayload p = JobPayload::read(options.payloadDir, mode, JobPayload::Checked, fix);
        if (!p.problem.isEmpty() || mode == UpdateMode::DeleteImages)
            return p;
        if (!trustProblem(trust).isEmpty())
            p.problem = trustProblem(trust);
        else if (trust.requireSigned())
            p.problem
                = QStringLiteral("the payload folder %1 is not a signed package, and the "
                                 "policy %2 requires signed packages: give one with --package%3")
                      .arg(options.payloadDir, trust.policyFile(),
                          trust.warnings.filter(trust.policyFile()).isEmpty()
                              ? QString()
                              : QStringLiteral(" (%1)").arg(
                                  trust.warnings.filter(trust.policyFile()).join(QStringLiteral("; "))));
        else
            p.warnings.prepend(
                QStringLiteral("The payload folder %1 is not a signed package: nothing "
                               "shows that it is the update as released.")
                    .arg(options.payloadDir));
        return p;
    }

    JobPayload refused;
    refused.inputs.mode = mode;
    refused.packageFile = options.packageFile;
    refused.problem = trustProblem(trust);
    if (!refused.problem.isEmpty())
        return refused;
    package = UpdateSource::openPackage(options.packageFile, trust);
    const UpdatePackage &opened = package.package;
    refused.problem = package.problemFor(mode);
    if (!refused.problem.isEmpty())
        return refused;
    JobPayload p = JobPayload::fromPackage(opened, options.packageFile, mode);
    if (!p.problem.isEmpty())
        return p;
    p.warnings = opened.warnings + trust.warnings;
    if (opened.isSigned)
        p.warnings.prepend(QStringLiteral("%1: update %2, signed by key %3.")
                               .arg(QFileInfo(opened.path).fileName(), opened.manifest.version,
                                   opened.signerId));
    return p;
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
        QString bad = QStringLiteral("%1: the manifest names an unknown mode, %2")
                          .arg(QFileInfo(package.path).fileName(), mode);
        UpdateMode m = UpdateMode::FirmwareAndImages;
        if (UpdateModes::fromName(mode, m))
            bad = UpdateSource::packageProblem(package, m);
        if (!bad.isEmpty())
            return bad;
    }
    for (const QString &warning : package.warnings + trust.warnings)
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
    return QString();
}
