// The main window's update: a package or a payload folder opened (by
// openUpdate, as "Open update…", the command line and a drop do), shown with
// its version, signer or "unsigned" and files before a job starts; a package
// that fails a check refused with its message and nothing changed; the last
// one remembered; a job's dialog fed from the package; a package not made for
// a job refused before the dialog opens; a whole job from a signed package
// against the simulated unit, the package and its signer in the history; an
// unsigned package refused at once where a key is trusted; the manifest's text
// shown with its control characters as \xNN and never read as markup.
#include "PackageMaker.h"
#include "PayloadWriter.h"
#include "engine/RecordLog.h"
#include "payload/UpdateMode.h"
#include "payload/TrustStore.h"
#include "support/JobRig.h"
#include "support/MinisignPair.h"
#include "support/ModalAnswer.h"
#include "support/TestSupport.h"
#include "window/DialogBootload.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QtTest>
#include <sys/stat.h>

namespace {

// The button that runs the firmware-and-images job.
QPushButton *fullUpdate(const MainWindow &window)
{
    return window.findChild<QPushButton *>(QStringLiteral("pushButton"));
}

} // namespace

class TestOpenUpdate : public QObject
{
    Q_OBJECT

    QTemporaryDir tmp;
    QString folder, unsignedPackage, signedPackage, imagesOnly, spoilt, keyId;
    QByteArray kitKey; // kit.pub's text; empty without minisign

    // kit.pub in keys/ beside the program (as an update kit has it), or not:
    // while it is trusted, an unsigned package is refused.
    void trustKit(bool trusted)
    {
        if (trusted && !kitKey.isEmpty())
            QVERIFY(TestSupport::writeAppFile(QStringLiteral("keys/kit.pub"), kitKey));
        else
            TestSupport::removeAppFiles({ QStringLiteral("keys") });
    }

    // A package of the payload in from (the payload folder when empty).
    QString make(const char *name, const QByteArray &signature = QByteArray(),
        const QStringList &modes = { "firmware-and-images", "images" }, const QString &version = "D.03a",
        const QString &from = QString())
    {
        QList<TarEntry> files;
        QString error;
        if (!PackageMaker::collect(from.isEmpty() ? folder : from, files, error))
            return QString();
        const QByteArray manifest
            = PackageMaker::describe(files, version, QDateTime::currentDateTimeUtc(), modes, QString()).toJson();
        const QByteArray sig
            = signature.isEmpty() ? QByteArray() : PackageMaker::sign(manifest, QString::fromLatin1(signature), error);
        const QString path = tmp.filePath(QString::fromLatin1(name));
        return PayloadWriter::writeFile(path, PackageMaker::build(manifest, sig, files, error)) ? path : QString();
    }

private slots:
    void initTestCase()
    {
        // QSettings, the user's keys folder and the unit history in folders of
        // the test's own: a shared test folder is written by other runs meanwhile.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(tmp.filePath(QStringLiteral("config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(tmp.filePath(QStringLiteral("data"))));
        qunsetenv("ZQ_UPDATER_PORTS");
        QVERIFY(tmp.isValid());
        folder = tmp.filePath(QStringLiteral("payload"));
        QVERIFY(PayloadWriter::writeDemoPayload(folder, 3));
        unsignedPackage = make("unsigned.zqpkg");
        imagesOnly = make("images.zqpkg", QByteArray(), { QStringLiteral("images") });
        QVERIFY(!unsignedPackage.isEmpty() && !imagesOnly.isEmpty());
        QByteArray bytes = TestSupport::readFile(unsignedPackage);
        const QByteArray fw = PayloadWriter::firmware(PayloadWriter::FirmwareSize, 3);
        const int at = bytes.indexOf(fw.left(4096));
        QVERIFY(at > 0);
        bytes[at + 0x3000] = char(bytes[at + 0x3000] ^ 1);
        spoilt = tmp.filePath(QStringLiteral("spoilt.zqpkg"));
        QVERIFY(PayloadWriter::writeFile(spoilt, bytes));

        // A signed one, its key in keys/ beside the program (as an update kit has it).
        MinisignPair kit;
        if (!MinisignPair::available())
            return;
        QVERIFY(kit.make(tmp.filePath(QStringLiteral("kit"))));
        keyId = kit.id;
        kitKey = kit.publicText;
        signedPackage = make("signed.zqpkg", kit.secretKey.toUtf8());
        QVERIFY(!signedPackage.isEmpty());
    }

    // Every test trusts the key itself when it needs it.
    void cleanup()
    {
        trustKit(false);
    }

    // Rows: what is opened and what the window shows of it.
    void shows_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("signed package") << "signed" << QStringList { "Update D.03a from signed.zqpkg",
            "Signed by key", "Files: fw1.bin, icon_220x165.c, settings.json, splash_340x230.c" };
        QTest::newRow("unsigned package, dropped on the window")
            << "unsigned" << QStringList { "Update D.03a from unsigned.zqpkg", "\nunsigned\n" };
        QTest::newRow("payload folder") << "folder" << QStringList { "from the folder", "\nunsigned\n",
            "Files: fw1.bin, settings.json, splash_340x230.c, icon_220x165.c" };
    }
    void shows()
    {
        QFETCH(QString, which);
        QFETCH(QStringList, shown);
        if (which == "signed" && signedPackage.isEmpty())
            QSKIP("minisign is not installed (Debian: apt install minisign): no signed package");
        trustKit(which == "signed");
        const QString path = which == "signed" ? signedPackage : which == "unsigned" ? unsignedPackage : folder;
        MainWindow window;
        if (which == "unsigned") { // as a file manager drops it
            QMimeData mime;
            mime.setUrls({ QUrl::fromLocalFile(path) });
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&window, &enter);
            QVERIFY(enter.isAccepted());
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(&window, &drop);
        } else {
            QVERIFY(window.openUpdate(path));
        }
        QVERIFY(window.opened());
        QCOMPARE(window.opened()->path, QFileInfo(path).absoluteFilePath());
        for (const QString &text : shown + QStringList(which == "signed" ? keyId : QString()))
            QVERIFY2(window.loadedText().contains(text), qPrintable(window.loadedText()));

        // Remembered for the next start.
        MainWindow next;
        next.openLast();
        QVERIFY(next.opened());
        QCOMPARE(next.opened()->path, window.opened()->path);
    }

    // A package that fails a check is refused when it is opened, with its
    // message: one byte changed, or unsigned while kit.pub is trusted (naming
    // the key). The update open before stays, as shown.
    void refusedPackage_data()
    {
        QTest::addColumn<bool>("trusted");
        QTest::addColumn<QString>("says");
        QTest::newRow("damaged") << false << "spoilt.zqpkg: \"fw1.bin\" differs from the manifest";
        QTest::newRow("unsigned, a key trusted")
            << true << "unsigned.zqpkg is not signed (it holds no manifest.json.minisig)";
    }
    void refusedPackage()
    {
        QFETCH(bool, trusted);
        QFETCH(QString, says);
        if (trusted && signedPackage.isEmpty())
            QSKIP("minisign is not installed (Debian: apt install minisign): no key");
        trustKit(trusted);
        MainWindow window;
        QVERIFY(window.openUpdate(folder));
        const QString shown = window.loadedText();
        bool opened = true;
        const QString message
            = TestSupport::dismissModal([&] { opened = window.openUpdate(trusted ? unsignedPackage : spoilt); });
        QVERIFY(!opened);
        QVERIFY2(message.contains(says), qPrintable(message));
        QVERIFY2(!trusted || message.contains(QStringLiteral("trusted keys: ") + keyId), qPrintable(message));
        QCOMPARE(window.loadedText(), shown);
        QCOMPARE(window.opened()->path, QFileInfo(folder).absoluteFilePath());
    }

    // The dialog takes the package's payload: its version, images and fw1.bin from memory.
    void dialogFromPackage()
    {
        MainWindow window;
        QVERIFY(window.openUpdate(unsignedPackage));
        int images = 0;
        QByteArray firmware; // the package's bytes, not the folder it was made from
        TestSupport::answerModal([&] { QTest::mouseClick(fullUpdate(window), Qt::LeftButton); }, [&](QWidget *modal) {
            if (auto *d = qobject_cast<DialogBootload *>(modal))
                std::tie(images, firmware) = std::pair(int(d->images().size()), d->jobs().sequencer.inputs.firmware);
            modal->close();
        });
        QCOMPARE(images, 2);
        QVERIFY(firmware == PayloadWriter::firmware(PayloadWriter::FirmwareSize, 3));
    }

    // A whole job from the signed package (the program's folder holds no payload).
    void wholeJobFromPackage()
    {
        if (signedPackage.isEmpty())
            QSKIP("minisign is not installed (Debian: apt install minisign): no signed package");
        trustKit(true);
        const UpdateSource source = UpdateSource::open(signedPackage);
        QVERIFY2(!source.problem, qPrintable(source.problem.message));
        QFile::remove(RecordLog::historyFile());
        {
            JobRig rig(UpdateMode::FirmwareAndImages, { JobRig::quickUnit(1) }, &source, folder, JobRig::Dialog);
            QVERIFY(rig.ready());
            QTRY_VERIFY_WITH_TIMEOUT(rig.ended(), JobRig::kTimeoutMs);
            QVERIFY2(rig.unitUpdated(0), rig.describe().constData());
            QVERIFY(rig.log().contains(QStringLiteral("Update D.03a from signed.zqpkg, signed by key ") + keyId));
            QCOMPARE(rig.log().count(QStringLiteral("Bootload Complete")), 1);
        }
        const QJsonObject record = QJsonDocument::fromJson(
            TestSupport::readFile(RecordLog::historyFile()).trimmed().split('\n').last()).object();
        QVERIFY(record["signed"].toBool());
        for (const auto &[key, value] : { std::pair<QString, QString>("package", signedPackage), { "signer", keyId },
                 { "packageSha256", QString::fromLatin1(source.package.sha256) }, { "result", "updated" } })
            QCOMPARE(record[key].toString(), value);
    }

    // A policy that requires signatures: a folder and an unsigned package are
    // refused (erasing needs no payload), a signed package is taken.
    void policyRequiresSignatures()
    {
        QVERIFY(PayloadWriter::writeFile(tmp.filePath(QStringLiteral("policy.json")), "{\"requireSigned\": true}"));
        TrustStore trust;
        trust.readPolicy(tmp.filePath(QStringLiteral("policy.json")));
        const UpdateSource fromFolder = UpdateSource::open(folder, trust);
        QVERIFY(!fromFolder.problem);
        QCOMPARE(fromFolder.problemFor(UpdateMode::DeleteImages).kind, Problem::None);
        const UpdateSource unsignedOne = UpdateSource::open(unsignedPackage, trust);
        for (const Problem &refused : { fromFolder.problemFor(UpdateMode::FirmwareAndImages),
                 fromFolder.problemFor(UpdateMode::ImagesOnly), unsignedOne.problem }) {
            QCOMPARE(refused.kind, Problem::Unsigned);
            QVERIFY2(refused.message.contains("requires signed packages"), qPrintable(refused.message));
        }
        if (signedPackage.isEmpty())
            return;
        trust.addKeyFile(tmp.filePath(QStringLiteral("kit.pub")));
        const UpdateSource signedOne = UpdateSource::open(signedPackage, trust);
        QCOMPARE(signedOne.problemFor(UpdateMode::FirmwareAndImages).kind, Problem::None);
        // Without the policy a folder is taken, with a warning, a key trusted or not.
        TrustStore keyOnly;
        keyOnly.addKeyFile(tmp.filePath(QStringLiteral("kit.pub")));
        for (const TrustStore &t : { TrustStore(), keyOnly }) {
            const UpdateSource free = UpdateSource::open(folder, t);
            QCOMPARE(free.problemFor(UpdateMode::FirmwareAndImages).kind, Problem::None);
            QVERIFY(free.warnings.join(QLatin1Char(' ')).contains(QStringLiteral("is not a signed package")));
        }
    }

    // The manifest's version as it is: an escape sequence as \xNN, a tag as
    // text, in the main window and in the job log.
    void manifestTextShown()
    {
        const QString odd = make("odd.zqpkg", QByteArray(), { "firmware-and-images", "images" },
            QStringLiteral("D.03\x1b[2K<b>bold</b>"));
        QVERIFY(!odd.isEmpty());
        const QString shown = QStringLiteral("D.03\\x1b[2K<b>bold</b>");
        MainWindow window;
        QVERIFY(window.openUpdate(odd));
        QVERIFY2(window.loadedText().contains("Update " + shown + " from odd.zqpkg"), qPrintable(window.loadedText()));
        QString log;
        TestSupport::answerModal([&] { QTest::mouseClick(fullUpdate(window), Qt::LeftButton); }, [&](QWidget *modal) {
            log = modal->findChild<QTextEdit *>(QStringLiteral("textEdit"))->toPlainText();
            qobject_cast<QDialog *>(modal)->reject();
        });
        QVERIFY2(
            log.contains("Update " + shown + " from odd.zqpkg, unsigned") && !log.contains(QLatin1Char('\x1b')),
            qPrintable(log));
    }

    // A package made for images only: the firmware job is refused before a dialog opens.
    void notForThisJob()
    {
        MainWindow window;
        QVERIFY(window.openUpdate(imagesOnly));
        // A message box's text; a dialog would give its title.
        const QString message
            = TestSupport::dismissModal([&] { QTest::mouseClick(fullUpdate(window), Qt::LeftButton); });
        QVERIFY2(message.contains("images.zqpkg is for images, not for firmware-and-images"), qPrintable(message));
    }

    // A package whose settings.json the protocol can't carry, or that names
    // an image it lacks, is refused when it is opened, as a run would be.
    void payloadRefusedOnOpening_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<QString>("says");
        QTest::addColumn<int>("kind");
        QTest::newRow("ImageName 300")
            << QByteArray(R"({"Images": [{"FileName": "icon_220x165.c", "ImageName": 300}]})")
            << "ImageName 300 is not a whole number from 0 to 255" << int(Problem::Settings);
        QTest::newRow("image missing")
            << QByteArray(R"({"Images": [{"FileName": "gone.c", "ImageName": 1}]})")
            << "Image file gone.c is missing from bad.zqpkg" << int(Problem::Images);
    }
    void payloadRefusedOnOpening()
    {
        QFETCH(QByteArray, settings);
        QFETCH(QString, says);
        QFETCH(int, kind);
        const QString from = tmp.filePath(QStringLiteral("bad-payload"));
        QVERIFY(PayloadWriter::writeDemoPayload(from, 5));
        QVERIFY(PayloadWriter::writeFile(from + QStringLiteral("/settings.json"), settings));
        const QString bad = make("bad.zqpkg", QByteArray(), { "firmware-and-images", "images" }, "D.03a", from);
        QVERIFY(!bad.isEmpty());
        const UpdateSource opened = UpdateSource::open(bad, TrustStore());
        QCOMPARE(int(opened.problem.kind), kind);
        QVERIFY2(opened.problem.message.contains(says), qPrintable(opened.problem.message));
    }

    // The file the window remembers the last update in made a FIFO: the
    // window opens and opens updates, remembering nothing (no read waits).
    void rememberedInAFifo()
    {
        const QString ini = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
            + QStringLiteral("/zq-updater/zq-updater.ini");
        QVERIFY(QDir().mkpath(QFileInfo(ini).absolutePath()));
        QFile::remove(ini + QStringLiteral(".kept"));
        const bool had = QFile::rename(ini, ini + QStringLiteral(".kept"));
        QCOMPARE(::mkfifo(QFile::encodeName(ini).constData(), 0644), 0);
        {
            MainWindow window;
            window.openLast();
            QVERIFY(window.openUpdate(folder));
        }
        QVERIFY(QFile::remove(ini));
        QVERIFY(!had || QFile::rename(ini + QStringLiteral(".kept"), ini));
    }
};

QTEST_MAIN(TestOpenUpdate)
#include "tst_openupdate.moc"
