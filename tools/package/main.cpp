// zq-make-package: makes an update package (NAME.zqpkg) from a payload folder:
// a plain tar of manifest.json, its minisign signature and the folder's files,
// the same bytes for the same folder and manifest (sorted entries, owner 0,
// time 0). The manifest is signed by running minisign with --sign, or made
// here, signed elsewhere and brought back with --manifest and --signature.
#include "PackageMaker.h"
#include "engine/FileWrite.h"
#include "payload/Settings.h"
#include "payload/UpdateMode.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QFileInfo>
#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "zq-make-package: %s\n", qPrintable(message));
    return 2;
}

// Why the file out must not be written: it would land in the payload folder
// dir (a firmware replaced, or a package packed into the next one), or
// FileWrite refuses it (a link, a folder another user controls...).
QString outputProblem(const QString &dir, const QString &out)
{
    const QString folder = QDir(dir).canonicalPath();
    const QFileInfo info(out);
    const QString outFolder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (!folder.isEmpty() && !outFolder.isEmpty()
        && (outFolder == folder || outFolder.startsWith(folder + QLatin1Char('/'))))
        return QStringLiteral("%1 is inside the payload folder %2: it would replace a file of the "
                              "update or be packed into the next package. Write it elsewhere")
            .arg(out, dir);
    return FileWrite::outputProblem(out, FileWrite::Writing::Replace);
}

bool readFile(const QString &path, QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bytes = file.readAll();
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zq-make-package"));
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Makes an update package from a payload folder (fw1.bin, settings.json, the images).\n"
        "Examples:\n"
        "  zq-make-package --sign service.key update/ update-D.03a.zqpkg\n"
        "  zq-make-package --write-manifest manifest.json update/        (sign it elsewhere)\n"
        "  zq-make-package --manifest manifest.json --signature manifest.json.minisig update/ "
        "update-D.03a.zqpkg"));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("DIR"), QStringLiteral("The payload folder."));
    parser.addPositionalArgument(
        QStringLiteral("PACKAGE"), QStringLiteral("The package to write."));
    const QCommandLineOption signOption(QStringLiteral("sign"),
        QStringLiteral("Sign with this minisign secret key (runs minisign -S -s KEY)."),
        QStringLiteral("key"));
    const QCommandLineOption manifestOption(QStringLiteral("manifest"),
        QStringLiteral("Use this manifest (made with --write-manifest) instead of making one."),
        QStringLiteral("file"));
    const QCommandLineOption signatureOption(QStringLiteral("signature"),
        QStringLiteral("The manifest's minisign signature, made elsewhere."),
        QStringLiteral("file"));
    const QCommandLineOption writeManifestOption(QStringLiteral("write-manifest"),
        QStringLiteral("Write the manifest to this file and stop (to sign it elsewhere)."),
        QStringLiteral("file"));
    const QCommandLineOption versionOption(QStringLiteral("update-version"),
        QStringLiteral("The update's version (default: settings.json's \"Version\")."),
        QStringLiteral("text"));
    const QCommandLineOption modesOption(QStringLiteral("modes"),
        QStringLiteral("The modes it is for, comma-separated (default: firmware-and-images,images "
                       "with fw1.bin, else images)."),
        QStringLiteral("list"));
    const QCommandLineOption unitVersionOption(QStringLiteral("unit-version"),
        QStringLiteral("The version the unit reports once it runs the update."),
        QStringLiteral("text"));
    const QCommandLineOption createdOption(QStringLiteral("created"),
        QStringLiteral("When it was made, ISO 8601 UTC (default: SOURCE_DATE_EPOCH, else now)."),
        QStringLiteral("time"));
    parser.addOptions({ signOption, manifestOption, signatureOption, writeManifestOption,
        versionOption, modesOption, unitVersionOption, createdOption });
    parser.process(app);

    const QStringList args = parser.positionalArguments();
    const bool manifestOnly = parser.isSet(writeManifestOption);
    if (args.size() != (manifestOnly ? 1 : 2))
        return fail(
            QStringLiteral("give the payload folder%1; see --help")
                .arg(manifestOnly ? QString() : QStringLiteral(" and the package to write")));
    if (parser.isSet(signOption) && parser.isSet(signatureOption))
        return fail(QStringLiteral("--sign and --signature both give the signature: use one"));

    const QString output = manifestOnly ? parser.value(writeManifestOption) : args[1];
    const QString outputRefused = outputProblem(args[0], output);
    if (!outputRefused.isEmpty())
        return fail(outputRefused);

    QString error;
    QList<TarEntry> files;
    if (!PackageMaker::collect(args[0], files, error))
        return fail(error);

    QByteArray manifest;
    if (parser.isSet(manifestOption)) {
        if (!readFile(parser.value(manifestOption), manifest))
            return fail(QStringLiteral("cannot read %1").arg(parser.value(manifestOption)));
        PackageManifest given;
        if (!PackageManifest::parse(manifest, given, error))
            return fail(QStringLiteral("%1 %2").arg(parser.value(manifestOption), error));
        const PackageManifest actual = PackageMaker::describe(
            files, given.version, given.created, given.modes, given.unitVersion);
        if (actual.toJson() != given.toJson())
            return fail(QStringLiteral("%1 does not describe the files in %2 (a file was changed, "
                                       "added or removed since it was made)")
                            .arg(parser.value(manifestOption), args[0]));
    } else {
        QString version = parser.value(versionOption);
        if (version.isEmpty()) {
            const QString settingsPath = QDir(args[0]).filePath(QStringLiteral("settings.json"));
            const Settings settings = Settings::read(settingsPath);
            if (!settings.problem.isEmpty() && QFileInfo::exists(settingsPath))
                return fail(QStringLiteral("settings.json cannot be used, so it gives no version "
                                           "(%1): mend it, or give --update-version")
                                .arg(settings.problem));
            version = settings.problem.isEmpty() ? settings.version : QString();
        }
        if (version.isEmpty())
            return fail(QStringLiteral("no version: give --update-version or a settings.json with "
                                       "\"Version\""));
        QDateTime created = QDateTime::currentDateTimeUtc();
        if (parser.isSet(createdOption))
            created = QDateTime::fromString(parser.value(createdOption), Qt::ISODate);
        else if (qEnvironmentVariableIsSet("SOURCE_DATE_EPOCH"))
            created = QDateTime::fromSecsSinceEpoch(
                qEnvironmentVariable("SOURCE_DATE_EPOCH").toLongLong())
                          .toUTC();
        if (!created.isValid())
            return fail(
                QStringLiteral("--created wants an ISO 8601 time, like 2026-12-08T09:00:00Z"));
        created = created.toUTC();
        created.setTime(
            QTime(created.time().hour(), created.time().minute(), created.time().second()));
        QStringList modes = parser.value(modesOption).split(QLatin1Char(','), Qt::SkipEmptyParts);
        const bool hasFirmware = std::any_of(files.cbegin(), files.cend(),
            [](const TarEntry &e) { return e.path == QLatin1String("fw1.bin"); });
        if (modes.isEmpty())
            modes = hasFirmware ? QStringList { UpdateModes::name(UpdateMode::FirmwareAndImages),
                UpdateModes::name(UpdateMode::ImagesOnly) }
                                : QStringList { UpdateModes::name(UpdateMode::ImagesOnly) };
        for (const QString &m : modes) {
            UpdateMode known = UpdateMode::FirmwareAndImages;
            if (!UpdateModes::fromName(m, known))
                return fail(QStringLiteral("unknown mode %1").arg(m));
        }
        manifest = PackageMaker::describe(
            files, version, created, modes, parser.value(unitVersionOption))
                       .toJson();
    }

    if (manifestOnly) {
        if (!FileWrite::replaceWhole(output, manifest, error))
            return fail(QStringLiteral("cannot write %1: %2").arg(output, error));
        return 0;
    }

    QByteArray signature;
    if (parser.isSet(signOption)) {
        signature = PackageMaker::sign(manifest, parser.value(signOption), error);
        if (signature.isEmpty())
            return fail(error);
    } else if (parser.isSet(signatureOption)) {
        if (!readFile(parser.value(signatureOption), signature))
            return fail(QStringLiteral("cannot read %1").arg(parser.value(signatureOption)));
    } else {
        std::fprintf(stderr,
            "zq-make-package: warning: the package is not signed (no --sign or "
            "--signature); a station whose policy requires signed packages refuses it\n");
    }

    const QByteArray package = PackageMaker::build(manifest, signature, files, error);
    if (package.isEmpty())
        return fail(QStringLiteral("cannot make the package: %1").arg(error));
    if (!FileWrite::replaceWhole(output, package, error))
        return fail(QStringLiteral("cannot write %1: %2").arg(output, error));
    std::printf("%s: %d files, %lld bytes, %s\n", qPrintable(args[1]), int(files.size()),
        static_cast<long long>(package.size()), signature.isEmpty() ? "unsigned" : "signed");
    return 0;
}
