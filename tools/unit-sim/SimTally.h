#pragma once
// What one simulated unit counted of its job, for its report: the commands and
// lines it took and why it took others not, the faults it injected, and the
// bootloader part of the job from the capture to "$X".
#include <QMap>
#include <QSet>
#include <QString>

struct SimTally {
    QMap<QString, int> commands; // taken, by command word
    QMap<QString, int> repeats; // "$G" repeated after the capture (the models count the others)
    QMap<QString, int> problems; // frame and field problems, by name
    QMap<QString, int> ignored; // lines taken at the right speed but not understood in the stage
    QMap<QString, int> faults; // faults injected, by name
    QMap<QString, QSet<int>> speedsSeen; // stage name -> speeds the tool's side was set to
    int wrongSpeedLines = 0;
    int commandsTaken = 0;
    qint64 linesFromTool = 0;
    qint64 bytesFromTool = 0;
    qint64 lineBytesFromTool = 0; // bytes of the whole lines among them
    qint64 replies = 0; // replies the unit framed, sent or not

    qint64 firstVersionQueryUs = -1;
    qint64 exitUs = -1;
    // The bootloader part of the job, from the capture ("$G" taken) to "$X":
    // lines and line bytes from the tool, and the time spent waiting between
    // lines longer than kIdleGapUs (the job's step-count waits).
    static constexpr qint64 kIdleGapUs = 100000;
    qint64 captureUs = -1;
    qint64 lastLineUs = -1;
    qint64 idleUs = 0;
    qint64 lastLineBytes = 0; // size of the line being handled
    qint64 linesAtCapture = 0;
    qint64 bytesAtCapture = 0;
    qint64 linesAtExit = 0;
    qint64 bytesAtExit = 0;
};
