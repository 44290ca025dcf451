#pragma once
// Simulated USB adapters that are plugged in and out on a schedule, each with
// a USB identity shown as Linux shows it: a folder with by-id and by-path
// links to the adapter's pseudo-terminal, which the tool is pointed at with
// ZQ_SERIAL_DIR. Each plug brings a fresh unit (a production line's next one)
// and each unplug closes its cable.
#include "SimConfig.h"
#include "SimExpectation.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <vector>

class QCommandLineParser;
class SimUnit;

class SimAdapters : public QObject
{
    Q_OBJECT

public:
    struct Plan {
        QString serial; // may be blank
        QString port = QStringLiteral("1"); // the USB port chain in the by-path name
        QList<QPair<qint64, qint64>> plugs; // [from, to) in ms since start; to -1: for good
    };

    // "serial=A10K1 port=1.2 plugs=0-6000,9000-": false with error set when it is no plan.
    static bool parsePlan(const QString &text, Plan &plan, QString &error);
    // The options this class adds to zq-unit-sim (--serial-dir, --adapter).
    static void addOptions(QCommandLineParser &parser);

    // configFor(k): the unit config of adapter k (from 1).
    SimAdapters(const QString &serialDir, const QList<Plan> &plans,
        std::function<SimConfig(int)> configFor, const SimExpectation &expected,
        QObject *parent = nullptr);
    ~SimAdapters() override;

    // Makes the folder and starts the schedule; false when the folder can't be made.
    bool start();
    // The by-id link of adapter k (from 1), present or not.
    QString byIdLink(int k) const;
    QString byPathLink(int k) const;
    // Every plug's unit report, with "serial" and "plug" (the plug's number from 1).
    QJsonArray report() const;

signals:
    // A unit received "$X" (for the report file).
    void unitFinished();

private:
    void tick();
    void plug(int k);
    void unplug(int k);

    QString dir;
    QList<Plan> plans;
    std::function<SimConfig(int)> configFor;
    SimExpectation expected;
    QElapsedTimer clock;
    QTimer timer;
    struct Plugged {
        int adapter = 0; // from 1
        int plug = 0; // from 1
        std::unique_ptr<SimUnit> unit;
        bool present = false;
    };
    std::vector<Plugged> plugs; // every plug so far, in order
    QList<int> pluggedIndex; // per adapter: its plug in `plugs` now, or -1
};
