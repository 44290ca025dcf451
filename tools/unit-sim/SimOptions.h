#pragma once
// zq-unit-sim's command line: its options, and what they ask for: how many
// units on which ports, the payload to compare with, and the SimConfig of each
// unit (the fault options apply to the --fault-units only).
#include "SimConfig.h"
#include "SimExpectation.h"

#include <QList>
#include <QStringList>

class QCommandLineParser;

class SimOptions
{
public:
    // Adds the options (SimAdapters adds its own).
    static void add(QCommandLineParser &parser);
    // Reads the options of a processed parser; a wrong value ends the program.
    explicit SimOptions(const QCommandLineParser &parser);
    // Ends the program with status 2 and the message.
    [[noreturn]] static void fail(const QString &message);

    // The configuration of unit k (from 1).
    SimConfig configFor(int k) const;

    qint64 unitCount = 1;
    QStringList devices; // --device: real serial devices, one unit each
    QStringList adapterPlans; // --adapter
    QString reportFile;
    SimExpectation expected;

private:
    void readCommon(const QCommandLineParser &parser);
    void readFaults(const QCommandLineParser &parser);
    void readPause(const QCommandLineParser &parser);
    void readFaultUnits(const QCommandLineParser &parser);

    SimConfig common; // the units without faults
    SimConfig faulty; // the --fault-units
    QList<int> faultUnits; // empty: all
    qint64 seed = 1;
};
