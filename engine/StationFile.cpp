#include "engine/StationFile.h"

#include "payload/FileRead.h"
#include "payload/ReadLimits.h"

#include <QJsonArray>
#include <algorithm>
#include <utility>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

bool StationFile::add(const Place &place, QString &error)
{
    if (place.name.trimmed().isEmpty()) {
        error = place.name.isEmpty() ? QStringLiteral("a slot has no name")
                                     : QStringLiteral("a slot's name is only spaces");
        return false;
    }
    if (place.serial.isEmpty() == place.location.isEmpty()) {
        error = QStringLiteral("slot %1: give its adapter's \"serial\" or its \"location\" (one, "
                               "not blank)")
                    .arg(place.name);
        return false;
    }
    for (const Place &other : std::as_const(places)) {
        if (other.name == place.name) {
            error = QStringLiteral("two slots are named %1").arg(place.name);
            return false;
        }
        if (!place.serial.isEmpty() && other.serial == place.serial) {
            error = QStringLiteral("slots %1 and %2 both name the serial number %3")
                        .arg(other.name, place.name, place.serial);
            return false;
        }
        if (!place.location.isEmpty() && other.location == place.location) {
            error = QStringLiteral("slots %1 and %2 both name the location %3")
                        .arg(other.name, place.name, place.location);
            return false;
        }
    }
    places.append(place);
    return true;
}

bool StationFile::readFile(const QString &file, QString &error)
{
    QByteArray bytes;
    if (!FileRead::read(file, ReadLimits::kStationBytes, bytes, error)) {
        error = QStringLiteral("cannot read the station file: %1").arg(error);
        return false;
    }
    QJsonParseError parseError {};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    const QJsonValue list = doc.object().value(QStringLiteral("slots"));
    if (parseError.error != QJsonParseError::NoError || !list.isArray()
        || list.toArray().isEmpty()) {
        error = QStringLiteral("the station file %1 is no JSON object with a \"slots\" list%2")
                    .arg(file,
                        parseError.error != QJsonParseError::NoError
                            ? QStringLiteral(" (%1 at byte %2)")
                                  .arg(parseError.errorString())
                                  .arg(parseError.offset)
                            : QString());
        return false;
    }
    for (const QJsonValue &entry : list.toArray()) {
        const QJsonObject o = entry.toObject();
        Place place { o.value(QStringLiteral("name")).toString(),
            o.value(QStringLiteral("serial")).toString(),
            o.value(QStringLiteral("location")).toString() };
        if (!add(place, error)) {
            error = QStringLiteral("station file %1: %2").arg(file, error);
            return false;
        }
    }
    return true;
}

bool StationFile::takePorts(const QStringList &ports, QStringList &plain, QString &error)
{
    for (const QString &port : ports) {
        Place place;
        if (port.startsWith(QLatin1String("serial:")))
            place.serial = port.mid(7);
        else if (port.startsWith(QLatin1String("location:")))
            place.location = port.mid(9);
        else {
            plain << port;
            continue;
        }
        place.name = port;
        if (place.serial.isEmpty() && place.location.isEmpty()) {
            error = QStringLiteral("--port %1 names no adapter").arg(port);
            return false;
        }
        if (!add(place, error))
            return false;
    }
    return true;
}

bool StationFile::resolve(const QList<Adapter> &adapters, QList<UnitTarget> &targets,
    QStringList &missing, QString &error, QList<Hold> *held) const
{
    bool bySerial = false;
    for (const Place &place : places)
        bySerial = bySerial || !place.serial.isEmpty();
    if (bySerial) {
        for (const Adapter &a : adapters) {
            if (a.pickedUnnamed && a.serial.trimmed().isEmpty()) {
                error = QStringLiteral("the adapter on %1 has no serial number, so no slot chosen "
                                       "by serial can be told from it. Choose the slots by "
                                       "location, or unplug that adapter.")
                            .arg(a.device);
                return false;
            }
        }
    }
    for (const Place &place : places) {
        QList<const Adapter *> matches;
        for (const Adapter &a : adapters) {
            if (place.serial.isEmpty() ? a.location == place.location : a.serial == place.serial)
                matches.append(&a);
        }
        if (matches.size() > 1) {
            QStringList devices;
            for (const Adapter *a : matches)
                devices << a->device;
            error = QStringLiteral("slot %1: %2 adapters have the serial number %3 (%4), so "
                                   "they can't be told apart. Choose the slot by location.")
                        .arg(place.name)
                        .arg(matches.size())
                        .arg(place.serial, devices.join(QStringLiteral(", ")));
            if (held == nullptr)
                return false;
            held->append({ place.name, error });
            error.clear();
            continue;
        }
        if (matches.isEmpty()) {
            missing << place.name;
            continue;
        }
        const Adapter &a = *matches.first();
        UnitTarget t = UnitTarget::of(a);
        t.slot = place.name;
        targets.append(t);
    }
    return true;
}
