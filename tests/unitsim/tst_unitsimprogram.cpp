// The zq-unit-sim program as a bench user runs it: its options listed by
// --help, one path a line on stdout, the report written on SIGTERM.
#include "ToolSide.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QJsonObject readReport(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(f.readAll()).object();
}

} // namespace

class TestUnitSimProgram : public QObject
{
    Q_OBJECT

private slots:
    void helpListsTheOptions()
    {
        QProcess p;
        p.start(QStringLiteral(ZQ_UNIT_SIM), { QStringLiteral("--help") });
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QByteArray help = p.readAllStandardOutput();
        for (const char *option : { "--units", "--report", "--payload", "--seed", "--crlf",
                 "--pace", "--latency-ms", "--drop-lines", "--delay", "--unplug-after" })
            QVERIFY2(help.contains(option), option);
    }

    void servesUnitsAndReportsOnSigterm()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString reportPath = dir.filePath("report.json");
        QProcess p;
        p.start(ZQ_UNIT_SIM, { "--units", "2", "--version-text", "P.1", "--report", reportPath });
        QVERIFY(p.waitForStarted(10000));
        // One path a line, flushed at once.
        QStringList paths;
        QDeadlineTimer deadline(10000);
        while (paths.size() < 2 && !deadline.hasExpired()) {
            if (!p.canReadLine())
                p.waitForReadyRead(100);
            while (p.canReadLine())
                paths << QString::fromLocal8Bit(p.readLine()).trimmed();
        }
        QCOMPARE(paths.size(), 2);
        QVERIFY(paths.at(0) != paths.at(1));

        ToolSide tool;
        QVERIFY(tool.open(paths.at(0), 19200));
        QCOMPARE(tool.command("$MVER"), ToolSide::framed("$MVERR,P.1"));

        // SIGTERM ends it normally, with the report written.
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QJsonArray units = readReport(reportPath)["units"].toArray();
        QCOMPARE(units.size(), 2);
        QCOMPARE(units.at(0)["path"].toString(), paths.at(0));
        QCOMPARE(units.at(0)["stageReached"].toString(), QStringLiteral("version"));
        QCOMPARE(units.at(0)["commands"].toObject()["MVER"].toInt(), 1);
        QCOMPARE(units.at(1)["path"].toString(), paths.at(1));
        QCOMPARE(units.at(1)["commands"].toObject()["MVER"].toInt(), 0);
    }
};

QTEST_GUILESS_MAIN(TestUnitSimProgram)
#include "tst_unitsimprogram.moc"
