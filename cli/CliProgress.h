#pragma once
// What zq-update shows on standard error while the job runs: on a terminal,
// one live line per unit redrawn at most ten times a second; elsewhere, one
// line per unit at each stage change and every 10 % of its progress; the job
// log lines in between; with --quiet nothing but errors.
#include "engine/UnitStatus.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class CliProgress : public QObject
{
    Q_OBJECT

public:
    enum Style { Live, Lines, Quiet };
    explicit CliProgress(Style style, QObject *parent = nullptr);

    // The units, in table order, by the port path shown; the clock starts.
    void start(const QStringList &ports);
    // One more unit (--watch: an adapter was plugged in); returns its index.
    int add(const QString &port);
    // Unit index's adapter was removed: its line goes.
    void remove(int index);
    // Unit index's status changed.
    void unitChanged(int index, const UnitStatus &status);
    // One job-log line (already prefixed with its port where it has one).
    void log(const QString &line);
    // A message shown even with --quiet.
    void error(const QString &line);
    // The job is over: the live block is drawn a last time and left in place.
    void finish();

    // Seconds since start().
    double elapsed() const;

private:
    struct Unit {
        QString port;
        UnitStatus status;
        double endedAt = -1; // elapsed() when the status ended
        int decile = -1; // the last tenth of progress printed (Lines)
        bool removed = false;
        double startedAt = 0; // elapsed() when it was added
    };
    QString unitLine(const Unit &unit) const;
    void redraw();
    void eraseBlock();
    void write(const QString &text);

    Style style;
    QList<Unit> units;
    QElapsedTimer clock;
    QTimer frameTimer; // Live: 100 ms
    int drawnLines = 0; // lines of the live block on the screen
    int columns = 0;
    bool finished = false;
};
