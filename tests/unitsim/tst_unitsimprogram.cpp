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

    void refusesABadShare()
    {
        QProcess p;
        p.start(
            QStringLiteral(ZQ_UNIT_SIM), { QStringLiteral("--drop-lines"), QStringLiteral("2") });
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("--drop-lines"));
    }

    void reportGoesToStdoutWithoutAFile()
    {
        QProcess p;
        p.start(QStringLiteral(ZQ_UNIT_SIM), QStringList());
        QVERIFY(p.waitForStarted(10000));
        QDeadlineTimer deadline(10000);
        while (!p.canReadLine() && !deadline.hasExpired())
            p.waitForReadyRead(100);
        const QString path = QString::fromLocal8Bit(p.readLine()).trimmed();
        QVERIFY(path.startsWith(QStringLiteral("/dev/")));
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        const QJsonArray units = QJsonDocument::fromJson(p.readAllStandardOutput())
                                     .object()
                                     .value(QStringLiteral("units"))
                                     .toArray();
        QCOMPARE(units.size(), 1);
        QCOMPARE(units.at(0).toObject().value(QStringLiteral("path")).toString(), path);
    }

    void servesUnitsAndReports()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString reportPath = dir.filePath(QStringLiteral("report.json"));
        QProcess p;
        p.start(QStringLiteral(ZQ_UNIT_SIM),
            { QStringLiteral("--units"), QStringLiteral("2"), QStringLiteral("--restart-ms"),
                QStringLiteral("20"), QStringLiteral("--version-text"), QStringLiteral("P.1"),
                QStringLiteral("--report"), reportPath, QStringLiteral("--start-in-bootloader"),
                QStringLiteral("--fault-units"), QStringLiteral("2") });
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
        tool.close();
        QVERIFY(tool.open(paths.at(1), 921600));
        QCOMPARE(tool.waitLine("$Bootloader"), QByteArray("$Bootloader\n"));
        QVERIFY(tool.write("$G\n"));
        QCOMPARE(tool.waitLine("$GACK"), ToolSide::framed("$GACK"));
        QVERIFY(tool.send("$X"));

        // "$X" refreshes the report while the program goes on serving.
        QTRY_VERIFY_WITH_TIMEOUT(readReport(reportPath)
                                     .value(QStringLiteral("units"))
                                     .toArray()
                                     .at(1)
                                     .toObject()
                                     .value(QStringLiteral("exitReceived"))
                                     .toBool(),
            10000);
        QCOMPARE(p.state(), QProcess::Running);

        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        const QJsonArray units = readReport(reportPath).value(QStringLiteral("units")).toArray();
        QCOMPARE(units.size(), 2);
        QCOMPARE(units.at(0).toObject().value(QStringLiteral("path")).toString(), paths.at(0));
        const QJsonObject first = units.at(0).toObject();
        QCOMPARE(first.value(QStringLiteral("stageReached")).toString(), QStringLiteral("version"));
        QCOMPARE(first.value(QStringLiteral("versionText")).toString(), QStringLiteral("P.1"));
        QCOMPARE(first.value(QStringLiteral("commands"))
                     .toObject()
                     .value(QStringLiteral("MVER"))
                     .toInt(),
            1);
        const QJsonObject second = units.at(1).toObject();
        QCOMPARE(second.value(QStringLiteral("stageReached")).toString(), QStringLiteral("exit"));
        QCOMPARE(
            second.value(QStringLiteral("commands")).toObject().value(QStringLiteral("G")).toInt(),
            1);
    }
};

QTEST_GUILESS_MAIN(TestUnitSimProgram)
#include "tst_unitsimprogram.moc"
