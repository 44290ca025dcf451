#pragma once
// --watch: follows the adapters as they are plugged in and out. A few times a
// second it reads the stable-name folder (a cheap look: two folders of links);
// when that changed, it scans the ports again, starts a job for every slot
// (or adapter) that appeared and tells the job of every one that went. One job
// per plug: a slot's unit is updated again only after its adapter was removed.
// A slot whose adapter can't be told from another starts no job, and says so
// every kRepeatMs, until that is put right; the other slots go on.
#include "CliStation.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTimer>

class CliJob;

class CliWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int kPollMs = 250;
    static constexpr int kRepeatMs = 10000;
    // Jobs started in one pass of the event loop: with thousands of ports that
    // appear at once, the rest follow in the next passes, and a signal in
    // between is answered at once.
    static constexpr int kStartsPerPass = 32;

    // Slots from station; without slots, the plain ports named (while their
    // device exists), or without those every adapter the tool takes.
    CliWatch(CliJob &job, const CliStation &station, const QStringList &plainPorts,
        QObject *parent = nullptr);

    // Looks now, then every kPollMs.
    void start();

private:
    void poll();
    QStringList linkSignature() const;
    QList<UnitTarget> targetsNow();
    void reconcile();
    void hold(const QList<CliStation::Hold> &held);

    CliJob &job;
    const CliStation station;
    const QStringList plainPorts;
    QTimer timer;
    QStringList lastSignature;
    bool looked = false;
    QList<CliStation::Hold> holds; // shown while they last
    QElapsedTimer shown; // since they were last shown
    struct Active {
        int unit = -1;
        QString device;
    };
    QMap<QString, Active> active; // by slot, or by device without a station
};
