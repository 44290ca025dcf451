#pragma once
// zq-unit-sim as a child process, as the command-line tests drive it: its
// units' port paths once they are up, and its report once it is stopped; and
// the payload zq-make-payload writes, which the units compare with.
#include <QJsonArray>
#include <QProcess>
#include <QStringList>

class UnitSimProcess
{
public:
    // Starts zq-unit-sim with units units serving the payload in dir, short
    // restart and erase times, and more; true once every unit's path is read
    // (a loaded machine may take seconds to start it).
    bool start(const QString &dir, int units, const QStringList &more = {});
    // Starts zq-unit-sim with args; true once it has printed count paths, one
    // a line, within 30 s.
    bool run(const QStringList &args, int count);
    // Starts zq-unit-sim serving scheduled adapters (one --adapter a plan),
    // their stable names in folder/serial (serialDir), its report in folder;
    // paths are the adapters' by-id links.
    bool startAdapters(const QString &payload, const QString &folder, const QStringList &plans,
        const QStringList &more = {});
    // The device behind the i-th path.
    QString device(int i) const;
    // Stops it (SIGTERM: it writes its report) and returns the report's units.
    QJsonArray stop();

    QProcess p;
    QStringList paths;
    QString report;
    QString serialDir; // the adapters' stable-name folder
};

// The "units" array of a JSON report (zq-update's or zq-unit-sim's), or empty.
QJsonArray reportUnits(const QString &path);
// Writes zq-make-payload's payload (fw1.bin, settings.json, two images) into
// dir, with its further arguments more; true when it succeeded.
bool makePayload(const QString &dir, const QStringList &more = {});
