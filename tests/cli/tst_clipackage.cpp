// Update packages through zq-update as a user runs it: zq-make-package makes
// the same bytes twice and signs with minisign; a signed package runs a whole
// job on a simulated unit (flash and images equal, the package and its signer
// in the report and the unit log); "verify" shows the signer, and the
// manifest's text with its control characters as \xNN; a tampered or
// untrusted package, or one stripped of its signature where a key is trusted,
// is refused (exit 2) before any port is opened, the refusal in the report and
// the events, and the unit hears nothing.
#include "support/MinisignPair.h"
#include "support/TestSupport.h"
#include "support/UnitSimProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

constexpr int kJobMs = 120000;

using TestSupport::readFile;
using TestSupport::readJson;
using TestSupport::writeFile;

// The user's configuration folder the programs see (its zq-updater/keys is a
// trust folder): a test's own, empty unless a test puts a key there.
QString configHome;

bool run(const QString &program, const QStringList &args, QByteArray *out = nullptr,
    int *code = nullptr, const QString &workDir = QString())
{
    QProcess p;
    p.setWorkingDirectory(workDir);
    p.setProcessEnvironment(TestSupport::toolEnvironment({ "XDG_CONFIG_HOME=" + configHome }));
    p.start(program, args);
    if (!p.waitForFinished(kJobMs))
        return false;
    if (out)
        *out = p.readAllStandardOutput() + p.readAllStandardError();
    if (code)
        *code = p.exitCode();
    return p.exitStatus() == QProcess::NormalExit && (code || p.exitCode() == 0);
}

} // namespace

class TestCliPackage : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    QString payload, package, publicKey, otherPublic, keyId;
    QString stripped; // another fw1.bin, its digest in the manifest, no signature

    QString path(const char *name) const
    {
        return tmp.filePath(QString::fromLatin1(name));
    }

private slots:
    void initTestCase()
    {
        if (!MinisignPair::available())
            QSKIP("minisign is not installed (Debian: apt install minisign; scripts/setup installs it)");
        QVERIFY(tmp.isValid());
        configHome = path("config");
        payload = path("payload");
        package = path("update.zqpkg");
        MinisignPair service, other;
        QVERIFY(service.make(path("service")) && other.make(path("other")));
        publicKey = service.publicKey;
        otherPublic = other.publicKey;
        keyId = service.id;
        QVERIFY(makePayload(payload));
        QByteArray out;
        QVERIFY(run(ZQ_MAKE_PACKAGE, { "--sign", path("service.key"), "--unit-version", "D.03-demo", payload, package }, &out));
        QVERIFY2(out.contains("signed"), out.constData());
        stripped = path("stripped.zqpkg");
        QVERIFY(makePayload(path("other-payload"), { "--seed", "2" }));
        QVERIFY(run(QStringLiteral(ZQ_MAKE_PACKAGE), { path("other-payload"), stripped }));
        QVERIFY(readFile(stripped).size() > 900000);
    }

    // The same folder and manifest give the same bytes, signed elsewhere or not.
    void reproducible()
    {
        QVERIFY(run(ZQ_MAKE_PACKAGE, { "--write-manifest", path("manifest.json"), "--created", "2026-12-08T09:00:00Z", payload }));
        QVERIFY(run("minisign", { "-S", "-s", path("service.key"), "-m", path("manifest.json") }));
        // Once with the folder named from its parent: the same names inside.
        QVERIFY(run(ZQ_MAKE_PACKAGE, { "--manifest", path("manifest.json"), "--signature", path("manifest.json.minisig"),
                                         payload, path("a.zqpkg") }));
        QVERIFY(run(ZQ_MAKE_PACKAGE, { "--manifest", "manifest.json", "--signature", "manifest.json.minisig", "payload",
                                         "b.zqpkg" }, nullptr, nullptr, tmp.path()));
        QCOMPARE(readFile(path("a.zqpkg")), readFile(path("b.zqpkg")));
        QVERIFY(readFile(path("a.zqpkg")).size() > 900000);
        // A manifest that no longer describes the folder is not packed.
        QVERIFY(writeFile(payload + "/extra.txt", "x"));
        int code = 0;
        QByteArray out;
        QVERIFY(run(ZQ_MAKE_PACKAGE, { "--manifest", path("manifest.json"), payload, path("c.zqpkg") }, &out, &code));
        QFile::remove(payload + "/extra.txt");
        QCOMPARE(code, 2);
        QVERIFY2(out.contains("does not describe the files"), out.constData());
        // verify shows the signer and the files.
        QVERIFY(run(QStringLiteral(ZQ_UPDATE), { "verify", path("a.zqpkg"), "--key", publicKey }, &out));
        QVERIFY2(out.contains("Signed by:    key " + keyId.toLatin1()), out.constData());
        QVERIFY2(out.contains("fw1.bin"), out.constData());
        QVERIFY2(out.contains("Every check passed; nothing was sent."), out.constData());
    }

    // The manifest's text is shown with its control characters as \xNN: a
    // version can't wipe the "not signed" warning off the screen.
    void verifyShowsTextEscaped()
    {
        const QString dir = path("odd-payload");
        QVERIFY(makePayload(dir));
        QVERIFY(writeFile(dir + "/note\x1b[2J.txt", "x"));
        const QString odd = path("odd.zqpkg");
        QVERIFY(run(ZQ_MAKE_PACKAGE,
            { "--update-version", "D.03\x1b[1A\x1b[2K\r", "--unit-version", "D.03\x1b]0;owned\x07", dir, odd }));
        QByteArray out;
        QVERIFY(run(QStringLiteral(ZQ_UPDATE), { "verify", odd }, &out));
        QVERIFY2(out.contains("is not signed"), out.constData());
        QVERIFY2(out.contains("Update:       D.03\\x1b[1A\\x1b[2K\\x0d\n"), out.constData());
        QVERIFY2(out.contains("Unit reports: D.03\\x1b]0;owned\\x07 once"), out.constData());
        QVERIFY2(out.contains("  note\\x1b[2J.txt "), out.constData());
        QVERIFY2(!out.contains('\x1b') && !out.contains('\r') && !out.contains('\x07'), out.constData());
    }

    // A whole job from the signed package: the unit holds what the folder held.
    void wholeJob()
    {
        UnitSimProcess sim;
        QVERIFY(sim.start(payload, 1));
        const QString report = path("report.json"), log = path("units.jsonl");
        QByteArray out;
        QVERIFY2(run(ZQ_UPDATE, { "--package", package, "--key", publicKey, "--port", sim.paths[0], "--report", report,
                                    "--log", log }, &out),
            out.constData());
        QVERIFY2(out.contains("signed by key " + keyId.toLatin1()), out.constData());
        const QJsonArray units = sim.stop();
        QCOMPARE(units.size(), 1);
        QVERIFY(units[0]["exitReceived"].toBool());
        QVERIFY(units[0]["flash"]["equal"].toBool());
        QVERIFY(units[0]["imagesEqual"].toBool());
        const QJsonObject r = readJson(report);
        QCOMPARE(r["package"].toString(), package);
        QCOMPARE(r["signed"].toBool(), true);
        QCOMPARE(r["signer"].toString(), keyId);
        QCOMPARE(r["packageSha256"].toString().size(), 64);
        QCOMPARE(r["units"][0]["result"].toString(), QStringLiteral("updated"));
        const QJsonObject line = QJsonDocument::fromJson(readFile(log).trimmed()).object();
        QCOMPARE(line["signer"].toString(), keyId);
        QCOMPARE(line["packageSha256"].toString(), r["packageSha256"].toString());
        QCOMPARE(line["firmwareSha256"].toString().size(), 64);
        // After "$X" the unit runs the version the manifest names.
        for (const QJsonObject &o : { r["units"][0].toObject(), line }) {
            QCOMPARE(o["confirmation"].toString(), QStringLiteral("confirmed"));
            QCOMPARE(o["confirmedVersion"].toString(), QStringLiteral("D.03-demo"));
            QCOMPARE(o["versionBefore"].toString(), QStringLiteral("D.02m"));
        }
    }

    // Rows: how the run is spoilt and the words of the refusal.
    void refused_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("says");
        QTest::newRow("one byte changed in fw1.bin") << "flip" << "\"fw1.bin\" differs from the manifest";
        QTest::newRow("untrusted key") << "other key" << "which is not trusted here";
        QTest::newRow("no trusted key at all") << "no key" << "no trusted key was found";
        QTest::newRow("key file is no key") << "junk key" << "is not a minisign public key";
        QTest::newRow("verify a changed package") << "verify flip" << "\"fw1.bin\" differs from the manifest";
        // Stripped of its signature, another fw1.bin and its digest in the
        // manifest: refused wherever the trusted key was found.
        QTest::newRow("stripped, --key") << "stripped"
            << "stripped.zqpkg is not signed (it holds no manifest.json.minisig), and this station trusts "
               "signing keys, so it takes signed packages only (trusted keys: %KEY%";
        QTest::newRow("stripped, key in the user's keys folder") << "stripped folder key"
            << "it takes signed packages only (trusted keys: %KEY% from " + configHome + "/zq-updater/keys/service.pub)";
        QTest::newRow("verify stripped") << "verify stripped" << "stripped.zqpkg is not signed";
    }
    void refused()
    {
        QFETCH(QString, how);
        QFETCH(QString, says);
        says.replace(QStringLiteral("%KEY%"), keyId);
        const bool strip = how.contains("stripped");
        const QString keysFolder = configHome + "/zq-updater/keys";
        QDir(keysFolder).removeRecursively();
        if (how.endsWith("folder key")) {
            QVERIFY(QDir().mkpath(keysFolder));
            QVERIFY(QFile::copy(publicKey, keysFolder + "/service.pub"));
        }
        QByteArray bytes = readFile(strip ? stripped : package);
        if (how.endsWith("flip")) {
            const QByteArray firmware = readFile(payload + "/fw1.bin");
            const int at = bytes.indexOf(firmware.left(4096));
            QVERIFY(at > 0);
            bytes[at + 0x2345] = char(bytes[at + 0x2345] ^ 0x40);
        }
        const QString spoilt = strip ? stripped : path("spoilt.zqpkg");
        QVERIFY(writeFile(spoilt, bytes));
        QVERIFY(writeFile(path("junk.pub"), "untrusted comment: none\nnot base64 at all\n"));
        const QString key = how == "other key" ? otherPublic : how == "junk key" ? path("junk.pub") : publicKey;
        UnitSimProcess sim;
        QVERIFY(sim.start(payload, 1));
        const QString report = path("refused.json");
        QFile::remove(report);
        // verify opens no port and writes no report: it takes only --key.
        const bool verify = how.startsWith("verify");
        QStringList args = verify ? QStringList { "verify", spoilt }
                                  : QStringList { "--package", spoilt, "--port", sim.paths[0], "--report", report, "--events" };
        if (how != "no key" && !how.endsWith("folder key"))
            args << "--key" << key;
        QByteArray out;
        int code = -1;
        QVERIFY(run(QStringLiteral(ZQ_UPDATE), args, &out, &code));
        QCOMPARE(code, 2);
        QVERIFY2(out.contains(says.toUtf8()), out.constData());
        if (!verify) {
            QVERIFY2(out.contains("\"refused\""), out.constData()); // the event
            const QJsonObject r = readJson(report);
            QVERIFY(r["refused"].toBool());
            QVERIFY2(r["reason"].toString().contains(says), qPrintable(r["reason"].toString()));
        }
        // Refused before any port was opened: the unit got no line.
        const QJsonArray units = sim.stop();
        QDir(keysFolder).removeRecursively();
        QCOMPARE(units.size(), 1);
        QCOMPARE(units[0]["lines"]["fromTool"].toInt(), 0);
        QCOMPARE(units[0]["commands"].toObject().size(), 0);
    }

    // With no key anywhere and no policy, the stripped package is taken, with
    // the warning that it is not signed.
    void unsignedWithoutKey()
    {
        QByteArray out;
        int code = -1;
        QVERIFY(run(QStringLiteral(ZQ_UPDATE), { "--check", "--package", stripped }, &out, &code));
        QCOMPARE(code, 0);
        QVERIFY2(out.contains("stripped.zqpkg is not signed (it holds no manifest.json.minisig): "
                              "nothing shows that it is the update as released"),
            out.constData());
    }

    // A package's settings.json is checked as a folder's is, by --check and
    // verify alike, before any port is opened: an image number the protocol
    // can't carry, an image it names that the package lacks.
    void packageSettingsChecked_data()
    {
        QTest::addColumn<QString>("settings");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("says");
        const QString over = R"({"Version": "D.03a", "Images": [{"FileName": "splash_340x230.c",
            "ImageName": 300, "ImageVersion": 1}]})";
        const QString gone = R"({"Version": "D.03a", "Images": [{"FileName": "splash_340x230.c",
            "ImageName": 1, "ImageVersion": 1}, {"FileName": "gone.c", "ImageName": 2,
            "ImageVersion": 1}]})";
        const QString number = "ImageName 300 is not a whole number from 0 to 255";
        const QString missing = "Image file gone.c is missing from settings.zqpkg";
        QTest::newRow("ImageName 300, --check") << over << "--check" << number;
        QTest::newRow("ImageName 300, verify") << over << "verify" << number;
        QTest::newRow("image missing, --check") << gone << "--check" << missing;
        QTest::newRow("image missing, verify") << gone << "verify" << missing;
    }
    void packageSettingsChecked()
    {
        QFETCH(QString, settings);
        QFETCH(QString, command);
        QFETCH(QString, says);
        const QString folder = path("settings-payload");
        QVERIFY(makePayload(folder));
        QVERIFY(writeFile(folder + "/settings.json", settings.toUtf8()));
        const QString made = path("settings.zqpkg");
        QFile::remove(made);
        QByteArray out;
        QVERIFY2(run(ZQ_MAKE_PACKAGE, { "--sign", path("service.key"), folder, made }, &out), out.constData());
        const QStringList args = command == "verify"
            ? QStringList { "verify", made, "--key", publicKey }
            : QStringList { "--package", made, "--key", publicKey, "--check" };
        int code = -1;
        QVERIFY(run(QStringLiteral(ZQ_UPDATE), args, &out, &code));
        QCOMPARE(code, 2);
        QVERIFY2(out.contains(says.toUtf8()), out.constData());
        QVERIFY2(!out.contains("can be used") && !out.contains("Every check passed"), out.constData());
    }
};

QTEST_GUILESS_MAIN(TestCliPackage)
#include "tst_clipackage.moc"
