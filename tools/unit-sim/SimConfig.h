#pragma once
// How one simulated unit behaves: what it reports, how long it takes, how its
// replies travel and which faults it injects. Every fault is decided by a
// generator seeded from `seed`, so a run can be repeated exactly.
#include <QByteArray>
#include <QList>
#include <QString>

// Holds back every `everyNth` reply whose word is `word` (without "$", e.g.
// "IACK") by `ms` milliseconds.
struct SimDelayRule {
    QByteArray word;
    int everyNth = 1;
    int ms = 0;
};

struct SimConfig {
    // A real serial device to serve instead of a new pseudo-terminal.
    QString device;
    QString versionText = QStringLiteral("D.02m"); // the "$MVERR" reply's field
    // After "$X", with the payload in flash and images: the new firmware's
    // "$MVERR" field; empty: the payload's settings.json "Version".
    QString newVersionText;
    int restartMs = 200; // "$BOOTLOADM" until the bootloader runs
    int announceMs = 100; // period of the bootloader's "$Bootloader" line
    int eraseMs = 1000; // "$AACK,0" until "$AACK,1"
    bool crlf = false; // replies end in "\r\n" instead of "\n"

    // Wire timing: with `pace` every line takes 10 bits a byte at the stage's
    // baud rate, in each direction; `latencyMs` is added to every reply (an
    // FTDI adapter's latency timer holds replies up to 16 ms).
    bool pace = false;
    double latencyMs = 0;
    // Up to this much more, drawn anew for every reply (replies keep their order).
    double jitterMs = 0;

    // Shares (0..1) of lines and replies hit by each fault.
    quint32 seed = 1;
    double dropLines = 0; // received lines never seen
    double corruptLines = 0; // received lines garbled on the wire (dropped by the checksum)
    double dropReplies = 0; // replies never sent
    double dupReplies = 0; // replies sent twice
    double noise = 0; // a noise line after a reply
    QList<SimDelayRule> delays;
    // Now and then (this share of replies) the unit pauses: it holds a reply
    // back for pauseMinMs to pauseMaxMs, drawn anew each time. The replies
    // after it (those to copies the tool resends meanwhile too) follow it in
    // order, each in a write of its own, as a serial line delivers them.
    double pauseReplies = 0;
    int pauseMinMs = 100;
    int pauseMaxMs = 300;
    // The command words ("D", "F", ...) whose lines and replies the shares
    // above hit; empty: all of them.
    QStringList faultWords;

    // Scenario faults.
    bool startInBootloader = false; // never answers the version query
    // In its bootloader and captured already, as a job that ended abruptly
    // leaves it: it announces nothing and waits for "$G".
    bool startCaptured = false;
    bool ignoreBootloadm = false; // never shows its bootloader
    bool noStart = false; // after "$X" the new firmware does not start: nothing answers
    int unplugAfter = 0; // closes the cable after this many commands (0: never)
    // Stops answering (no replies, no announcements) after this many commands,
    // its port left open (0: never).
    int silentAfter = 0;
    // Restarts as after a power dip, into its bootloader, after this many
    // commands (0: never), up to `restartTimes` times; each further restart
    // comes this many commands after the "$G" that captured it again.
    int restartAfter = 0;
    int restartTimes = 1;
    bool loseFirstG = false; // the first "$G" goes unseen
    qint64 loseFirstEraseAt = -1; // the first "$E" of the sector at this address goes unseen
};
