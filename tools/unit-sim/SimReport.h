#pragma once
// The report of one simulated unit, as zq-unit-sim writes it and the tests
// read it: its stage and how far its job got, the flash and the images against
// the payload, what it counted of the tool's lines and the faults it injected.
#include <QJsonObject>

class SimUnit;

class SimReport
{
public:
    static QJsonObject of(const SimUnit &unit);

private:
    static void addStage(QJsonObject &r, const SimUnit &unit);
    static void addPayload(QJsonObject &r, const SimUnit &unit);
    static void addCounts(QJsonObject &r, const SimUnit &unit);
    static void addTraffic(QJsonObject &r, const SimUnit &unit);
};
