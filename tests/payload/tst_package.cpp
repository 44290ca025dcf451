// Update packages: a package as zq-make-package makes it opens to the payload
// it was made from, signed with minisign's default (prehashed) or legacy form;
// every hostile package is refused with a message of its own; an unsigned one
// is taken with a warning only while no key is trusted and no policy requires
// signatures; a manifest holding a key twice is refused; the policy fails
// closed; keys come from files and folders. The keys are made by minisign at
// test time.
#include "PackageMaker.h"
#include "PayloadWriter.h"
#include "payload/FirmwareFile.h"
#include "payload/MinisignKey.h"
#include "payload/PackageLimits.h"
#include "payload/PackageManifest.h"
#include "payload/TrustStore.h"
#include "payload/UpdatePackage.h"
#include "support/MinisignPair.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QtTest>
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

enum Tamper {
    AddEntry, // the row's entry added to the package, the manifest made without it
    FlipFirmwareByte, ShortFirmware, EditManifest, EditTrustedComment, UntrustedKey,
    OtherKeyWithTrustedId, FilesTwice, SignatureOfAnotherFile, GarbledSignature, Truncated, NotATar,
    ManifestNamesMissingFile, FolderWhereFileBelongs, ManifestNamesDotDot, NoManifest,
    ManifestNotJson, PackageOverLimit, TooManyEntries, ManifestOverLimit, SignatureOverLimit,
    HugeSizeInManifest
};

} // namespace

Q_DECLARE_METATYPE(Tamper)
Q_DECLARE_METATYPE(TarEntry)

Q_DECLARE_METATYPE(Problem::Kind)

class TestPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    MinisignPair kept, other; // the trusted key and another, as minisign made them
    MinisignKey trustedKey, otherKey; // as the reader reads them
    QList<TarEntry> files;

    // The trusted key (when key), and the policy that requires signatures
    // (when requireSigned).
    TrustStore trusted(bool key = true, bool requireSigned = true) const
    {
        TrustStore trust;
        if (key)
            trust.addKeyFile(kept.publicKey);
        if (requireSigned)
            trust.readPolicy(tmp.filePath(QStringLiteral("policy.json")));
        return trust;
    }

    QByteArray manifestOf(const QList<TarEntry> &list) const
    {
        return PackageMaker::describe(list, QStringLiteral("D.03a"),
            QDateTime(QDate(2026, 12, 8), QTime(9, 0), Qt::UTC),
            { QStringLiteral("firmware-and-images"), QStringLiteral("images") },
            QStringLiteral("D.03a"))
            .toJson();
    }

    QByteArray build(
        const QByteArray &manifest, const QByteArray &sig, const QList<TarEntry> &list) const
    {
        QString error;
        const QByteArray bytes = PackageMaker::build(manifest, sig, list, error);
        if (bytes.isEmpty())
            qWarning() << "tar:" << error;
        return bytes;
    }

private slots:
    void initTestCase()
    {
        if (!MinisignPair::available())
            QSKIP("minisign is not installed (Debian: apt install minisign; scripts/setup installs "
                  "it): the package tests make their keys with it");
        QVERIFY(tmp.isValid());
        QVERIFY(kept.make(tmp.filePath("trusted")) && other.make(tmp.filePath("other")));
        QString error;
        QVERIFY(MinisignKey::read(kept.publicKey, trustedKey, error));
        QVERIFY(MinisignKey::read(other.publicKey, otherKey, error));
        QVERIFY(PayloadWriter::writeDemoPayload(tmp.filePath("payload"), 7));
        QVERIFY2(PackageMaker::collect(tmp.filePath("payload"), files, error), qPrintable(error));
        QCOMPARE(files.size(), 4);
        QCOMPARE(files[0].path, QStringLiteral("fw1.bin")); // sorted: the firmware first
        QVERIFY(PayloadWriter::writeFile(tmp.filePath("policy.json"), "{\"requireSigned\": true}"));
    }

    // A package opens to the folder's payload, in either signature form.
    void signedPackage_data()
    {
        QTest::addColumn<bool>("legacy");
        QTest::newRow("prehashed (ED)") << false;
        QTest::newRow("legacy (Ed)") << true;
    }
    void signedPackage()
    {
        QFETCH(bool, legacy);
        const QByteArray manifest = manifestOf(files);
        QString error;
        const QByteArray sig = PackageMaker::sign(manifest, kept.secretKey, error, legacy);
        QVERIFY2(!sig.isEmpty(), qPrintable(error));
        QCOMPARE(QByteArray::fromBase64(sig.split('\n').value(1)).left(2),
            QByteArray(legacy ? "Ed" : "ED"));
        const UpdatePackage p = UpdatePackage::check(
            build(manifest, sig, files), QStringLiteral("u.zqpkg"), trusted());
        QVERIFY2(!p.problem, qPrintable(p.problem.message));
        QVERIFY(p.isSigned);
        QCOMPARE(p.signerId, trustedKey.idText());
        QCOMPARE(p.signerId, kept.id); // as minisign's key comment names it
        QCOMPARE(p.manifest.version, QStringLiteral("D.03a"));
        QCOMPARE(p.firmware, PayloadWriter::firmware(PayloadWriter::FirmwareSize, 7));
        QCOMPARE(p.images.size(), 2);
        for (const ImageRecord &image : p.images)
            QVERIFY2(image.problem.isEmpty() && !image.pixels.isEmpty(), qPrintable(image.problem));
        QCOMPARE(p.images[0].pixels, PayloadWriter::pixels(340, 230, 8));
        QCOMPARE(p.warnings, QStringList());
        QCOMPARE(p.problemFor(UpdateMode::FirmwareAndImages).kind, Problem::None);
        QCOMPARE(p.problemFor(UpdateMode::ImagesOnly).kind, Problem::None);
        QCOMPARE(p.problemFor(UpdateMode::DeleteImages).kind, Problem::WrongMode);
        QVERIFY(p.problemFor(UpdateMode::DeleteImages)
                    .message.contains(QStringLiteral("not for erase-images")));
    }

    // Rows: how the package is spoilt, the words of its refusal and its kind.
    void hostile_data()
    {
        QTest::addColumn<Tamper>("tamper");
        QTest::addColumn<QString>("message");
        QTest::addColumn<Problem::Kind>("kind");
        QTest::addColumn<TarEntry>("entry"); // AddEntry's
        const auto row = [](const char *name, Tamper tamper, const char *message,
                             Problem::Kind kind = Problem::Damaged) {
            QTest::newRow(name) << tamper << QString::fromUtf8(message) << kind << TarEntry();
        };
        const auto added = [](const char *name, const TarEntry &entry, const char *message) {
            QTest::newRow(name) << AddEntry << QString::fromUtf8(message) << Problem::Damaged
                                << entry;
        };
        row("one byte changed in fw1.bin", FlipFirmwareByte,
            "u.zqpkg: \"fw1.bin\" differs from the manifest");
        row("fw1.bin one byte short", ShortFirmware,
            "\"fw1.bin\" holds 913407 bytes, the manifest says 913408");
        row("manifest edited after signing", EditManifest,
            "manifest.json does not match its signature: it was changed after it was signed",
            Problem::Signature);
        row("trusted comment edited", EditTrustedComment,
            "the trusted comment of manifest.json.minisig was changed", Problem::Signature);
        row("untrusted key", UntrustedKey,
            "manifest.json.minisig is made with key %OTHER%, which is not trusted here",
            Problem::Signature);
        row("another key's signature carrying the trusted key's id", OtherKeyWithTrustedId,
            "manifest.json.minisig carries the id of the trusted key %TRUSTED%, but it does "
            "not verify with that key", Problem::Signature);
        row("manifest names \"files\" twice, signed", FilesTwice,
            "u.zqpkg: manifest.json holds the key \"files\" twice");
        row("signature of another file", SignatureOfAnotherFile,
            "manifest.json.minisig is the signature of another file (fw1.bin)", Problem::Signature);
        row("garbled signature", GarbledSignature,
            "manifest.json.minisig is not a minisign signature");
        row("truncated tar", Truncated, "u.zqpkg is damaged or truncated");
        row("not a tar", NotATar, "u.zqpkg is not a tar file");
        added("path with ..", { "../evil.c", "x" }, "entry \"../evil.c\" leaves the package");
        added("absolute path", { "/etc/evil", "x" }, "entry \"/etc/evil\" has an absolute path");
        added("symlink", { "fw2.bin", {}, TarEntry::Symlink, "/etc/passwd" },
            "entry \"fw2.bin\" is a link");
        added("hard link", { "fw2.bin", {}, TarEntry::Hardlink, "fw1.bin" },
            "entry \"fw2.bin\" is a link");
        added("device", { "tty", {}, TarEntry::CharDevice },
            "entry \"tty\" is a device, FIFO or socket");
        added("fifo", { "pipe", {}, TarEntry::Fifo }, "entry \"pipe\" is a device, FIFO or socket");
        added("duplicate entry", { "settings.json", "{}" },
            "entry \"settings.json\" appears twice");
        const qint64 max = PackageLimits::kMaxEntryBytes;
        added("entry over the size limit", { "big.bin", {}, TarEntry::File, {}, max + 1 },
            "entry \"big.bin\" is larger than a file in a package may be");
        added("file not in manifest", { "extra.txt", "x" },
            "\"extra.txt\" is in the package but not in the manifest");
        row("manifest names a missing file", ManifestNamesMissingFile,
            "\"fw1.bin\" is named in the manifest but missing from the package");
        row("folder where a file belongs", FolderWhereFileBelongs,
            "\"docs\" is a folder, but the manifest names a file there");
        row("manifest names a path with ..", ManifestNamesDotDot,
            "manifest.json names \"../fw1.bin\", which leaves the package");
        row("no manifest", NoManifest, "u.zqpkg holds no manifest.json");
        row("manifest not JSON", ManifestNotJson, "u.zqpkg: manifest.json is not a JSON object");
        row("package over the size limit", PackageOverLimit,
            "u.zqpkg is larger than a package may be", Problem::TooLarge);
        row("too many entries", TooManyEntries, "u.zqpkg holds more than 512 entries");
        row("manifest over the size limit", ManifestOverLimit,
            "u.zqpkg: manifest.json is larger than a manifest may be", Problem::TooLarge);
        row("signature over the size limit", SignatureOverLimit,
            "manifest.json.minisig is larger than a signature may be", Problem::TooLarge);
        row("size past any integer in the manifest", HugeSizeInManifest,
            "u.zqpkg: manifest.json has a file entry without a path, a whole size and a SHA-256 "
            "(entry 1)");
        added("sparse entry", { "holes.bin", QByteArray(512, 'h'), TarEntry::Sparse, {}, max },
            "entry \"holes.bin\" is a sparse file");
    }
    void hostile()
    {
        QFETCH(Tamper, tamper);
        QFETCH(QString, message);
        QFETCH(Problem::Kind, kind);
        QFETCH(TarEntry, entry);
        QString error;
        QList<TarEntry> list = files;
        QByteArray manifest = manifestOf(list);
        QByteArray sig = PackageMaker::sign(manifest, kept.secretKey, error);
        QVERIFY2(!sig.isEmpty(), qPrintable(error));
        const QByteArray signedManifest = manifest;
        QByteArray bytes;
        switch (tamper) {
        case AddEntry: list.append(entry); break;
        case FlipFirmwareByte: list[0].data[0x1234] = static_cast<char>(list[0].data.at(0x1234) ^ 0x01); break;
        case ShortFirmware: list[0].data.chop(1); break;
        case EditManifest: manifest.replace("D.03a", "D.03b"); break;
        case EditTrustedComment: sig.replace("trusted comment: ", "trusted comment: x"); break;
        case UntrustedKey:
            sig = PackageMaker::sign(manifest, other.secretKey, error);
            message.replace(QStringLiteral("%OTHER%"), otherKey.idText());
            break;
        case OtherKeyWithTrustedId: {
            // Made with the other key, then given the trusted key's id: the
            // id is no part of what is signed.
            sig = PackageMaker::sign(manifest, other.secretKey, error);
            QList<QByteArray> lines = sig.split('\n');
            QByteArray raw = QByteArray::fromBase64(lines[1]);
            QCOMPARE(raw.size(), 74);
            raw.replace(2, 8, trustedKey.id);
            lines[1] = raw.toBase64();
            sig = lines.join('\n');
            message.replace(QStringLiteral("%TRUSTED%"), trustedKey.idText());
            break;
        }
        case FilesTwice:
            // A first "files" naming nothing: QJsonDocument keeps the last one,
            // a reader keeping the first would see a package of no files.
            manifest.replace(manifest.indexOf('{'), 1, "{\n    \"files\": [],");
            break;
        case SignatureOfAnotherFile: { // fw1.bin's own signature, as minisign makes it
            const QString fw = tmp.filePath("fw1.bin");
            QVERIFY(PayloadWriter::writeFile(fw, list[0].data));
            QVERIFY(MinisignPair::run({ "-S", "-s", kept.secretKey, "-m", fw }));
            sig = TestSupport::readFile(fw + ".minisig");
            break;
        }
        case GarbledSignature:
            sig = sig.left(sig.indexOf('\n') + 20) + "\n" + sig.mid(sig.indexOf("trusted comment"));
            break;
        case ManifestNamesMissingFile: list.removeFirst(); break;
        case FolderWhereFileBelongs:
            list.append({ QStringLiteral("docs"), "x" });
            manifest = manifestOf(list);
            list.last() = TarEntry { QStringLiteral("docs"), QByteArray(), TarEntry::Folder };
            break;
        case ManifestNamesDotDot: manifest.replace("\"fw1.bin\"", "\"../fw1.bin\""); break;
        case NoManifest: bytes = TarWriter::write(list, error); break;
        case NotATar: bytes = QByteArray(4096, 'z'); break;
        case ManifestNotJson: manifest = "{ not json"; break;
        case TooManyEntries:
            for (int i = 0; i < PackageLimits::kMaxEntries; ++i)
                list.append({ QStringLiteral("many/%1").arg(i), "x" });
            manifest = manifestOf(list);
            break;
        case ManifestOverLimit:
            manifest.insert(
                manifest.lastIndexOf('}'), QByteArray(PackageLimits::kMaxManifestBytes, ' '));
            break;
        case SignatureOverLimit:
            sig.append(QByteArray(PackageLimits::kMaxSignatureBytes, '\n'));
            break;
        case HugeSizeInManifest:
            manifest.replace(
                "\"size\": " + QByteArray::number(list[0].data.size()), "\"size\": 1e300");
            break;
        case PackageOverLimit:
        case Truncated: break;
        }
        // A manifest changed on purpose is signed again; the edit after signing is not.
        if (manifest != signedManifest && tamper != EditManifest)
            sig = PackageMaker::sign(manifest, kept.secretKey, error);
        if (bytes.isEmpty())
            bytes = build(manifest, sig, list);
        if (tamper == Truncated)
            bytes.truncate(bytes.size() / 2);
        if (tamper == PackageOverLimit) // a tar may end in any number of zero bytes
            bytes.append(QByteArray(int(PackageLimits::kMaxPackageBytes - bytes.size() + 1), '\0'));
        QVERIFY(!bytes.isEmpty());
        const UpdatePackage p = UpdatePackage::check(bytes, QStringLiteral("u.zqpkg"), trusted());
        QCOMPARE(p.problem.kind, kind);
        QVERIFY2(p.problem.message.contains(message), qPrintable(p.problem.message));
        QVERIFY(p.firmware.isEmpty());
        for (const UpdateMode mode : UpdateModes::kAll)
            QCOMPARE(p.problemFor(mode).message, p.problem.message);
    }

    // A signed package stripped of its signature, fw1.bin changed and the
    // manifest's digest changed to match: taken, with a warning, only while
    // no key is trusted and no policy requires signatures.
    void unsignedPackage_data()
    {
        QTest::addColumn<bool>("key");
        QTest::addColumn<bool>("policy");
        QTest::addColumn<QStringList>("says"); // the refusal; empty: taken
        QTest::newRow("no key, no policy: taken") << false << false << QStringList();
        QTest::newRow("a trusted key: refused")
            << true << false
            << QStringList { "u.zqpkg is not signed (it holds no manifest.json.minisig), and this "
                             "station trusts signing keys, so it takes signed packages only",
                   "trusted keys: %KEY% from " };
        QTest::newRow("the policy: refused")
            << false << true
            << QStringList { "u.zqpkg is not signed (it holds no manifest.json.minisig), and the "
                             "policy " };
        QTest::newRow("both: refused, the keys named")
            << true << true << QStringList { "requires signed packages", "trusted keys: %KEY%" };
    }
    void unsignedPackage()
    {
        QFETCH(bool, key);
        QFETCH(bool, policy);
        QFETCH(QStringList, says);
        QList<TarEntry> changed = files;
        changed[0].data[0x2000] = static_cast<char>(changed[0].data.at(0x2000) ^ 0x5A); // fw1.bin
        const UpdatePackage p = UpdatePackage::check(build(manifestOf(changed), {}, changed),
            QStringLiteral("u.zqpkg"), trusted(key, policy));
        QVERIFY(!p.isSigned);
        QVERIFY(p.signerId.isEmpty());
        if (says.isEmpty()) {
            QCOMPARE(p.problem.kind, Problem::None);
            QCOMPARE(p.warnings.size(), 1);
            QVERIFY(p.warnings.first().contains(QStringLiteral("is not signed")));
            return;
        }
        for (QString text : says) {
            text.replace(QStringLiteral("%KEY%"), trustedKey.idText());
            QVERIFY2(p.problem.message.contains(text), qPrintable(p.problem.message));
        }
        QCOMPARE(p.problem.kind, Problem::Unsigned);
        QVERIFY(p.firmware.isEmpty());
        for (const UpdateMode mode : UpdateModes::kAll)
            QCOMPARE(p.problemFor(mode).message, p.problem.message);
    }

    // A key twice in one object of the manifest, at any depth and however it
    // is spelt, is refused; the same key in two objects, or as a value, is not.
    void manifestKeys_data()
    {
        QTest::addColumn<QByteArray>("from"); // replaced in the manifest's text ...
        QTest::addColumn<QByteArray>("to"); // ... by this
        QTest::addColumn<QString>("says"); // empty: it parses
        const auto row = [](const char *name, const char *from, const char *to, const char *says) {
            QTest::newRow(name) << QByteArray(from) << QByteArray(to) << QString::fromUtf8(says);
        };
        row("\"files\" twice",
            "\"files\": [", "\"files\": [], \"files\": [", "holds the key \"files\" twice");
        row("\"version\" twice, the second escaped", "\"version\":",
            "\"version\": \"D.03b\", \"\\u0076ersion\":", "holds the key \"version\" twice");
        row("\"sha256\" twice in a file entry",
            "\"sha256\":", "\"sha256\": \"x\", \"sha256\":", "holds the key \"sha256\" twice");
        row("the empty key twice, in a nested object",
            "\"format\":", "\"x\": {\"\": 1, \"\": [2]}, \"format\":", "holds the key \"\" twice");
        row("a key twice with a control character, shown", "\"format\":",
            "\"a\\u001b\": 1, \"a\\u001b\": 2, \"format\":", "holds the key \"a\\x1b\" twice");
        row("one key in two objects", "\"format\":",
            "\"x\": {\"k\": 1}, \"y\": {\"k\": [{\"k\": 2}]}, \"format\":", "");
        row("a key's name as a value, quotes escaped", "\"format\":",
            "\"x\": \"\\\"files\\\": [\", \"y\": [\"files\", \"files\"], \"format\":", "");
    }

    void manifestKeys()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, says);
        QByteArray text = manifestOf(files);
        const int at = text.indexOf(from);
        QVERIFY(at >= 0);
        text.replace(at, from.size(), to);
        QJsonParseError error {};
        QJsonDocument::fromJson(text, &error);
        QCOMPARE(error.error, QJsonParseError::NoError); // valid JSON all the same
        PackageManifest manifest;
        QString why;
        QCOMPARE(PackageManifest::parse(text, manifest, why), says.isEmpty());
        QVERIFY2(why.contains(says), qPrintable(why));
    }

    // A key file in a keys folder that this user may not read: the refusal
    // names it, not a missing key. Root reads any file: the folder is read
    // as another user then (setresuid, and back).
    void unreadableKey()
    {
#ifndef Q_OS_UNIX
        QSKIP("file modes and user ids are POSIX's");
#else
        QTemporaryDir keys;
        const QString key = keys.filePath(QStringLiteral("service.pub"));
        QVERIFY(QFile::copy(kept.publicKey, key));
        const bool root = ::geteuid() == 0;
        // Root's key closed to the user it reads as, another's to its owner;
        // the folder open to all.
        QCOMPARE(::chmod(QFile::encodeName(key).constData(), root ? 0600 : 0200), 0);
        QCOMPARE(::chmod(QFile::encodeName(keys.path()).constData(), 0755), 0);
        QVERIFY(!root || ::setresuid(65534, 65534, 0) == 0); // root kept as the saved id
        TrustStore trust;
        trust.addKeyFolder(keys.path());
        QVERIFY(!root || ::setresuid(0, 0, 0) == 0);
        QString error;
        const QByteArray manifest = manifestOf(files);
        const QByteArray sig = PackageMaker::sign(manifest, kept.secretKey, error);
        const UpdatePackage p = UpdatePackage::check(build(manifest, sig, files), QStringLiteral("u.zqpkg"), trust);
        QCOMPARE(p.problem.kind, Problem::Keys);
        QVERIFY2(p.problem.message.contains("cannot be read by this user: " + key + " ("),
            qPrintable(p.problem.message));
#endif
    }

    // Keys from a folder (a file that is no key is passed over with a warning,
    // a named key file that is no key is a problem); the policy's forms.
    void trustStore_data()
    {
        QTest::addColumn<QByteArray>("policy");
        QTest::addColumn<bool>("requireSigned");
        QTest::addColumn<QString>("warns"); // a warning naming the policy says this
        const auto row = [](const char *name, const char *policy, bool require,
                             const char *warns = "") {
            QTest::newRow(name) << QByteArray(policy) << require << QString(warns);
        };
        row("requires", "{\"requireSigned\": true}", true);
        row("does not require", "{\"requireSigned\": false}", false);
        row("says nothing", "{}", false);
        row("unreadable: requires", "{ broken", true, "is not a JSON object");
        // Fails closed: anything but false requires.
        const char *notBool = "a value that is not true or false";
        row("\"true\" as text", "{\"requireSigned\": \"true\"}", true, notBool);
        row("1", "{\"requireSigned\": 1}", true, notBool);
        row("\"yes\"", "{\"requireSigned\": \"yes\"}", true, notBool);
        row("null", "{\"requireSigned\": null}", true, notBool);
        row("\"false\" as text", "{\"requireSigned\": \"false\"}", true, notBool);
        row("misspelt key: named, requires", "{\"requireSinged\": false}", true,
            "holds \"requireSinged\", which this program does not know");
        row("false and an unknown key: named", "{\"requireSigned\": false, \"keys\": 2}", false,
            "holds \"keys\", which this program does not know");
    }

    void trustStore()
    {
        QFETCH(QByteArray, policy);
        QFETCH(bool, requireSigned);
        QFETCH(QString, warns);
        QTemporaryDir keys;
        QVERIFY(QFile::copy(other.publicKey, keys.filePath(QStringLiteral("other.pub"))));
        QVERIFY(PayloadWriter::writeFile(keys.filePath(QStringLiteral("junk.pub")), "not a key"));
        QVERIFY(PayloadWriter::writeFile(keys.filePath(QStringLiteral("policy.json")), policy));
        TrustStore trust;
        trust.addKeyFolder(keys.path());
        trust.addKeyFile(keys.filePath(QStringLiteral("junk.pub")));
        trust.readPolicy(keys.filePath(QStringLiteral("policy.json")));
        QCOMPARE(trust.keys().size(), 1);
        QVERIFY(trust.find(otherKey.id));
        QCOMPARE(trust.problems.size(), 1);
        QVERIFY(trust.warnings.first().contains(QStringLiteral("junk.pub")));
        QCOMPARE(trust.requireSigned(), requireSigned);
        const QStringList aboutPolicy = trust.warnings.filter(QStringLiteral("policy.json"));
        QCOMPARE(aboutPolicy.size(), warns.isEmpty() ? 0 : 1);
        QVERIFY2(aboutPolicy.value(0).contains(warns), qPrintable(aboutPolicy.value(0)));
    }

    // A FIFO as a named key file, as the policy or as the package: each is
    // named at once (no reader waits for a writer), and the policy then
    // requires signatures; one in a keys folder is passed over.
    void fifosNamedAtOnce()
    {
#ifdef Q_OS_UNIX
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("keys")));
        for (const char *name : { "named.pub", "keys/folder.pub", "policy.json", "u.zqpkg" })
            QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath(QLatin1String(name))).constData(), 0644), 0);
        TrustStore trust;
        trust.addKeyFile(dir.filePath(QStringLiteral("named.pub")));
        trust.addKeyFolder(dir.filePath(QStringLiteral("keys")));
        trust.readPolicy(dir.filePath(QStringLiteral("policy.json")));
        QCOMPARE(trust.problems.size(), 1);
        QVERIFY2(trust.problems.first().contains(QStringLiteral("named.pub is a FIFO")),
            qPrintable(trust.problems.first()));
        const QString warnings = trust.warnings.join(QLatin1Char('\n'));
        // A keys folder's FIFO is no file to its listing: passed over unread.
        QVERIFY(trust.keys().isEmpty());
        QVERIFY2(warnings.contains(QStringLiteral("policy.json is a FIFO")), qPrintable(warnings));
        QVERIFY(trust.requireSigned());
        const UpdatePackage p = UpdatePackage::open(dir.filePath(QStringLiteral("u.zqpkg")), TrustStore());
        QVERIFY2(p.problem.message.contains(QStringLiteral("u.zqpkg")), qPrintable(p.problem.message));
#else
        QSKIP("FIFOs are a POSIX matter");
#endif
    }

    // fw1.bin from a folder: what is wrong with it, by kind, in the words the
    // job log shows; the bytes only when it can be written.
    void firmwareFileProblems_data()
    {
        QTest::addColumn<int>("size"); // -1: no file; -2: a folder
        QTest::addColumn<Problem::Kind>("kind");
        QTest::addColumn<QString>("says");
        QTest::newRow("missing") << -1 << Problem::NotFound << "fw1.bin is missing";
        QTest::newRow("a folder") << -2 << Problem::Unreadable << "fw1.bin cannot be read (";
        QTest::newRow("nothing past 0x1000") << 0x1000 << Problem::Firmware
            << "fw1.bin holds no firmware past address 0x1000 (4096 bytes)";
        QTest::newRow("larger than the flash") << 0xE0001 << Problem::Firmware
            << "fw1.bin is larger than the unit's flash (917505 bytes, at most 917504)";
        QTest::newRow("one byte past 0x1000") << 0x1001 << Problem::None << QString();
        QTest::newRow("the whole flash") << 0xE0000 << Problem::None << QString();
    }
    void firmwareFileProblems()
    {
        QFETCH(int, size);
        QFETCH(Problem::Kind, kind);
        QFETCH(QString, says);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString fw = dir.filePath(QStringLiteral("fw1.bin"));
        if (size == -2)
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("fw1.bin")));
        else if (size >= 0)
            QVERIFY(PayloadWriter::writeFile(fw, QByteArray(size, '\x5a')));
        QByteArray bytes("left over");
        const Problem problem = FirmwareFile::read(fw, bytes);
        QCOMPARE(problem.kind, kind);
        QVERIFY2(problem.message.contains(says), qPrintable(problem.message));
        QCOMPARE(bytes.size(), kind == Problem::None ? size : 0);
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"
