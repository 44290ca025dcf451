#pragma once
// The station: slots, each an adapter known by its USB serial number or its
// USB location, from a station file (zq-update --station, zq-updater
// --station) or from --port serial:NUMBER and location:PATH, and which
// adapter each slot has now.
#include "engine/Adapter.h"
#include "engine/UnitTarget.h"

#include <QList>
#include <QString>
#include <QStringList>

class StationFile
{
public:
    struct Place {
        QString name;
        QString serial; // chosen by serial number, or
        QString location; // by USB location
    };

    QList<Place> places;

    // A slot whose serial number two or more adapters carry: it can't be
    // told which of them is its own.
    struct Hold {
        QString slot;
        QString reason;
    };

    bool isEmpty() const { return places.isEmpty(); }

    // Reads a station file: { "slots": [ { "name": .., "serial": .. | "location": .. } ] }.
    bool readFile(const QString &file, QString &error);
    // Takes the "serial:" and "location:" entries of ports as slots (named
    // as given) and leaves the plain ports in `plain`.
    bool takePorts(const QStringList &ports, QStringList &plain, QString &error);

    // The adapter of each slot among adapters; a slot without one is left
    // out and named in missing. False with error set when the adapters can't
    // be told apart: two with a slot's serial number, or one without a serial
    // number while slots are chosen by serial. Given held, a slot whose serial
    // number is shared is left out and listed there instead, and the others
    // are resolved.
    bool resolve(const QList<Adapter> &adapters, QList<UnitTarget> &targets,
        QStringList &missing, QString &error, QList<Hold> *held = nullptr) const;


private:
    bool add(const Place &place, QString &error);
};
