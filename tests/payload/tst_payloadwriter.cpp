// The demo payload the generator writes: what the image reader reads back from
// it is exactly the generated images, and the zq-make-payload program writes it.
#include "PayloadWriter.h"
#include "payload/ImageReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestPayloadWriter : public QObject
{
    Q_OBJECT

private slots:
    void demoPayloadReadsBack();
    void makePayloadProgram();
};

void TestPayloadWriter::demoPayloadReadsBack()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(PayloadWriter::writeDemoPayload(dir.path(), 11));
    QCOMPARE(readFile(dir.filePath("fw1.bin")).size(), 913408);

    const QJsonArray images = QJsonDocument::fromJson(readFile(dir.filePath("settings.json")))
                                  .object()["Images"]
                                  .toArray();
    QCOMPARE(images.size(), 2);
    const struct {
        int width, height, imageName;
    } expected[] = { { 340, 230, 1 }, { 220, 165, 2 } };
    for (int i = 0; i < 2; ++i) {
        const QJsonObject entry = images.at(i).toObject();
        QCOMPARE(entry["ImageName"].toInt(-1), expected[i].imageName);
        const ImageRecord record
            = ImageReader::loadImage(dir.filePath(entry["FileName"].toString()), 0, 0);
        QVERIFY2(record.problem.isEmpty(), qPrintable(record.problem));
        QCOMPARE(record.width, expected[i].width);
        QCOMPARE(record.height, expected[i].height);
        QVERIFY(record.pixels
            == PayloadWriter::pixels(expected[i].width, expected[i].height, quint32(12 + i)));
    }
}

void TestPayloadWriter::makePayloadProgram()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QProcess program;
    program.start(ZQ_MAKE_PAYLOAD, { dir.path() + "/out", "--seed", "7" });
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 0);
    QCOMPARE(readFile(dir.path() + "/out/fw1.bin").size(), 913408);
    QVERIFY(QFile::exists(dir.path() + "/out/settings.json"));

    program.start(ZQ_MAKE_PAYLOAD, { dir.path() + "/bad", "--seed", "seven" });
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitCode(), 2);
    QVERIFY(!QFile::exists(dir.path() + "/bad"));
}

QTEST_GUILESS_MAIN(TestPayloadWriter)
#include "tst_payloadwriter.moc"
