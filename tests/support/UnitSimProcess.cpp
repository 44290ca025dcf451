#include "UnitSimProcess.h"

#include "TestSupport.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonObject>

bool UnitSimProcess::start(const QString &dir, int units, const QStringList &more)
{
    report = dir + QStringLiteral("/sim-report.json");
    return run(QStringList { "--units", QString::number(units), "--payload", dir, "--report",
                   report, "--restart-ms", "20", "--erase-ms", "300" }
            + more,
        units);
}

bool UnitSimProcess::startAdapters(const QString &payload, const QString &folder, const QStringList &plans,
    const QStringList &more)
{
    serialDir = folder + QStringLiteral("/serial");
    report = folder + QStringLiteral("/sim-report.json");
    QStringList args { "--payload", payload, "--report", report, "--restart-ms", "20", "--erase-ms", "300",
        "--serial-dir", serialDir };
    for (const QString &plan : plans)
        args << "--adapter" << plan;
    p.setStandardErrorFile(QProcess::nullDevice());
    return run(args + more, plans.size());
}

QString UnitSimProcess::device(int i) const
{
    return QFileInfo(paths.at(i)).canonicalFilePath();
}

bool UnitSimProcess::run(const QStringList &args, int count)
{
    p.start(QStringLiteral(ZQ_UNIT_SIM), args);
    // Only the deadline or its end stops the wait, not a second without output.
    QDeadlineTimer deadline(30000);
    while (paths.size() < count && !deadline.hasExpired()) {
        if (!p.waitForReadyRead(1000) && p.state() == QProcess::NotRunning)
            break;
        while (p.canReadLine())
            paths << QString::fromLocal8Bit(p.readLine()).trimmed();
    }
    return paths.size() == count;
}

QJsonArray UnitSimProcess::stop()
{
    p.terminate();
    p.waitForFinished(10000);
    return reportUnits(report);
}

QJsonArray reportUnits(const QString &path)
{
    return TestSupport::readJson(path).value(QStringLiteral("units")).toArray();
}

bool makePayload(const QString &dir, const QStringList &more)
{
    return QProcess::execute(QStringLiteral(ZQ_MAKE_PAYLOAD), QStringList { dir } + more) == 0;
}
