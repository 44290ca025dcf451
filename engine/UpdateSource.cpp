#include "engine/UpdateSource.h"

#include "engine/JobPayload.h"
#include "payload/PayloadDir.h"
#include "payload/Settings.h"
#include "payload/ShownText.h"
#include "payload/TrustStore.h"

#include <QDir>
#include <QFileInfo>

UpdateSource UpdateSource::programFolder()
{
    // One rule for the window and its dialogs: beside the program, but
    // nothing for a program installed in a system folder.
    const QString dir = PayloadDir::besideProgram();
    if (dir.isEmpty())
        return UpdateSource();
    return open(dir);
}

UpdateSource UpdateSource::open(const QString &path)
{
    return open(path, TrustStore::standard({}));
}

namespace {

// The source's view of the keys and the policy, whatever it is.
UpdateSource withTrust(const QString &path, const TrustStore &trust)
{
    UpdateSource s;
    s.path = path;
    s.requireSigned = trust.requireSigned();
    s.policyFile = trust.policyFile();
    if (!s.policyFile.isEmpty())
        s.policyNotes = trust.warnings.filter(s.policyFile);
    s.warnings = trust.warnings;
    if (!trust.problems.isEmpty())
        s.keysProblem = { Problem::Keys, trust.problems.join(QStringLiteral("; ")) };
    return s;
}

} // namespace

UpdateSource UpdateSource::open(const QString &path, const TrustStore &trust)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    if (QFileInfo(path).isDir())
        return openFolder(absolute, trust);
    return openPackage(absolute, trust);
}

UpdateSource UpdateSource::openFolder(const QString &path, const TrustStore &trust)
{
    UpdateSource s = withTrust(path, trust);
    if (!s.requireSigned)
        s.warnings.prepend(QStringLiteral("The payload folder %1 is not a signed package: nothing "
                                          "shows that it is the update as released.")
                               .arg(QDir::toNativeSeparators(path)));
    return s;
}

UpdateSource UpdateSource::openPackage(const QString &path, const TrustStore &trust)
{
    UpdateSource s = withTrust(path, trust);
    s.isPackage = true;
    if (s.keysProblem) {
        s.problem = s.keysProblem;
        return s;
    }
    s.package = UpdatePackage::open(s.path, trust);
    s.problem = s.package.problem;
    s.warnings += s.package.warnings;
    // Refused on opening as a run of any mode it is for would be refused.
    for (const UpdateMode mode : { FirmwareAndImages, ImagesOnly, DeleteImages })
        if (!s.problem && s.package.manifest.modes.contains(UpdatePackage::modeName(mode)))
            s.problem = packageProblem(s.package, mode);
    return s;
}

Problem UpdateSource::packageProblem(const UpdatePackage &package, UpdateMode mode)
{
    const Problem bad = package.problemFor(mode);
    if (bad)
        return bad;
    const Problem images
        = JobPayload::imagesProblem(mode, package.settings.entryProblems, package.images);
    if (!images)
        return {};
    return images.reworded(
        QStringLiteral("%1: %2").arg(QFileInfo(package.path).fileName(), images.message));
}

Problem UpdateSource::problemFor(UpdateMode mode) const
{
    if (problem)
        return problem;
    if (path.isEmpty() && mode != DeleteImages)
        return { Problem::NoUpdate,
            QStringLiteral("No update is open: open an update first (an installed zq-updater "
                           "does not look for one beside itself).") };
    if (isPackage)
        return packageProblem(package, mode);
    if (mode == DeleteImages)
        return {};
    if (keysProblem)
        return keysProblem;
    if (requireSigned)
        return { Problem::Unsigned,
            QStringLiteral("The payload folder %1 is not a signed package, and the policy %2 "
                           "requires signed packages%3. Use a signed package (.zqpkg): \"Open "
                           "update\" in the window, --package with zq-update.")
                .arg(QDir::toNativeSeparators(path), QDir::toNativeSeparators(policyFile),
                    policyNotes.isEmpty()
                        ? QString()
                        : QStringLiteral(" (%1)").arg(policyNotes.join(QStringLiteral("; ")))) };
    return {};
}

QString UpdateSource::summary() const
{
    if (!isPackage && path.isEmpty())
        return QStringLiteral("No update is open: open one with \"Open update…\".");
    if (!isPackage) {
        const Settings settings = Settings::read(path + QStringLiteral("/settings.json"));
        // A folder without a usable settings.json holds no update to name.
        if (!settings.problem.isEmpty())
            return QStringLiteral("No update in the folder %1: %2.")
                .arg(QDir::toNativeSeparators(path), settings.problem);
        QStringList files;
        for (const char *name : { "fw1.bin", "settings.json" })
            if (QFileInfo::exists(path + QLatin1Char('/') + QLatin1String(name)))
                files << QLatin1String(name);
        for (const SettingsImage &image : settings.images)
            files << image.fileName;
        return QStringLiteral("Update %1 from the folder %2\nunsigned\nFiles: %3")
            .arg(ShownText::of(settings.version), ShownText::of(QDir::toNativeSeparators(path)),
                ShownText::of(files.join(QStringLiteral(", "))));
    }
    QStringList files;
    for (const PackageManifest::File &f : package.manifest.files)
        files << f.path;
    return QStringLiteral("Update %1 from %2\n%3\nFiles: %4")
        .arg(ShownText::of(package.manifest.version), ShownText::of(QFileInfo(path).fileName()),
            package.isSigned ? QStringLiteral("Signed by key %1").arg(package.signerId)
                             : QStringLiteral("unsigned"),
            ShownText::of(files.join(QStringLiteral(", "))));
}
