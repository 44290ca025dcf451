#pragma once
// The hands-free station (zq-update --watch, the window's station view):
// follows the adapters as they are plugged in and out. A few times a
// second it reads the stable-name folder (a cheap look: two folders of links);
// when that changed, it scans the ports again, starts a job for every slot
// (or adapter) that appeared and tells the job of every one that went. One job
// per plug: a slot's unit is updated again only after its adapter was removed.
// A slot whose adapter can't be told from another starts no job, and says so
// every kRepeatMs, until that is put right; the other slots go on. Stopped,
// it starts no job: the running ones finish.
#include "engine/StationFile.h"
#include "engine/StationHost.h"

#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QTimer>

class StationWatch : public QObject
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
    StationWatch(StationHost &host, const StationFile &station, const QStringList &plainPorts,
        QObject *parent = nullptr);

    // Looks now, then every kPollMs.
    void start();
    // Starts no job from now on; an adapter that goes is still told.
    void stop();
    bool stopped() const { return stopping; }
    // The slot (or device, without a station) of each unit it started that
    // is still plugged in.
    QStringList activeKeys() const { return active.keys(); }

private:
    void poll();
    QStringList linkSignature() const;
    QList<UnitTarget> targetsNow();
    void reconcile();
    void hold(const QList<StationFile::Hold> &held);

    StationHost &host;
    const StationFile station;
    const QStringList plainPorts;
    QTimer timer;
    QStringList lastSignature;
    bool looked = false;
    bool stopping = false;
    QList<StationFile::Hold> holds; // shown while they last
    QElapsedTimer shown; // since they were last shown
    struct Active {
        int unit = -1;
        QString device;
    };
    QMap<QString, Active> active; // by slot, or by device without a station
};
