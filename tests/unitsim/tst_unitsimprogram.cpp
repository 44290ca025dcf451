// The zq-unit-sim program as a bench user runs it: one path a line on stdout,
// the report refreshed when a unit gets "$X" and written again on SIGTERM.
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

    void servesUnitsAndReports()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString reportPath = dir.filePath("report.json");
        QProcess p;
        p.start(ZQ_UNIT_SIM, { "--units", "2", "--restart-ms", "20", "--version-text", "P.1", "--report",
                                 reportPath, "--start-in-bootloader", "--fault-units", "2" });
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

        // Unit 1 runs its firmware; unit 2 (the only one the fault options
        // apply to) starts in its bootloader.
        ToolSide tool;
        QVERIFY(tool.open(paths.at(0), 19200));
        QCOMPARE(tool.command("$MVER"), ToolSide::framed("$MVERR,P.1"));
        QVERIFY(tool.open(paths.at(1), 921600));
        QCOMPARE(tool.waitLine("$Bootloader"), QByteArray("$Bootloader\n"));
        QVERIFY(tool.write("$G\n"));
        QCOMPARE(tool.waitLine("$GACK"), ToolSide::framed("$GACK"));
        QVERIFY(tool.send("$X"));

        // "$X" refreshes the report while the program goes on serving.
        auto unit = [&](int i) { return readReport(reportPath)["units"].toArray().at(i).toObject(); };
        QTRY_VERIFY_WITH_TIMEOUT(unit(1)["exitReceived"].toBool(), 10000);
        QCOMPARE(p.state(), QProcess::Running);

        // SIGTERM ends it normally, with the report written once more.
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QCOMPARE(readReport(reportPath)["units"].toArray().size(), 2);
        QCOMPARE(unit(0)["path"].toString(), paths.at(0));
        QCOMPARE(unit(0)["stageReached"].toString(), QStringLiteral("version"));
        QCOMPARE(unit(0)["versionText"].toString(), QStringLiteral("P.1"));
        QCOMPARE(unit(0)["commands"].toObject()["MVER"].toInt(), 1);
        QCOMPARE(unit(1)["stageReached"].toString(), QStringLiteral("exit"));
        QCOMPARE(unit(1)["commands"].toObject()["G"].toInt(), 1);
    }
};

QTEST_GUILESS_MAIN(TestUnitSimProgram)
#include "tst_unitsimprogram.moc"
