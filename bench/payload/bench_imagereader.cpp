// Speed of the image reader on the two image files in use (about 0.94 and
// 0.44 MB of source text): loading one must take under 10 ms.
#include "PayloadWriter.h"
#include "payload/ImageReader.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>
#include <vector>

class BenchImageReader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void loadImage_data();
    void loadImage();
    void underTarget_data();
    void underTarget();

private:
    QTemporaryDir dir;
};

void BenchImageReader::initTestCase()
{
    // The reader's diagnostic lines would drown the figures.
    QLoggingCategory::setFilterRules(QStringLiteral("zq.job.debug=false"));
    QVERIFY(dir.isValid());
    QVERIFY(PayloadWriter::writeImageSource(
        dir.filePath("large.c"), "large", 340, 230, PayloadWriter::pixels(340, 230, 1)));
    QVERIFY(PayloadWriter::writeImageSource(
        dir.filePath("small.c"), "small", 220, 165, PayloadWriter::pixels(220, 165, 2)));
}

void BenchImageReader::loadImage_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("bytes");
    QTest::newRow("340 x 230") << QStringLiteral("large.c") << 156400;
    QTest::newRow("220 x 165") << QStringLiteral("small.c") << 72600;
}

void BenchImageReader::loadImage()
{
    QFETCH(QString, file);
    QFETCH(int, bytes);
    const QString path = dir.filePath(file);
    ImageRecord record;
    QBENCHMARK
    {
        record = ImageReader::loadImage(path, 1, 1);
    }
    QCOMPARE(record.pixels.size(), bytes);
}

void BenchImageReader::underTarget_data()
{
    loadImage_data();
}

void BenchImageReader::underTarget()
{
    QFETCH(QString, file);
    QFETCH(int, bytes);
    const QString path = dir.filePath(file);
    std::vector<qint64> times;
    for (int run = 0; run < 31; ++run) {
        QElapsedTimer timer;
        timer.start();
        const ImageRecord record = ImageReader::loadImage(path, 1, 1);
        times.push_back(timer.nsecsElapsed());
        QCOMPARE(record.pixels.size(), bytes);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2] / 1e6;
    qInfo("%s: median %.2f ms, fastest %.2f ms, slowest %.2f ms over %d runs", qPrintable(file),
        median, times.front() / 1e6, times.back() / 1e6, int(times.size()));
    QVERIFY2(median < 10.0, "loading an image file in use must take under 10 ms");
}

QTEST_GUILESS_MAIN(BenchImageReader)
#include "bench_imagereader.moc"
