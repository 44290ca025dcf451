#pragma once
// Turns Ctrl-C and SIGTERM into a Qt signal delivered by the event loop, so
// that the job can stop every unit, write its report and exit cleanly, and
// SIGHUP (the terminal closed) into one that only notes it: a closed terminal
// ends no job. All of the program's operating-system signal handling is in
// this class (and BrokenPipe, which ignores SIGHUP until it is set up).
#include <QObject>

class QSocketNotifier;

class SignalRelay : public QObject
{
    Q_OBJECT

public:
    explicit SignalRelay(QObject *parent = nullptr);
    ~SignalRelay() override;

    // The exit status for an interruption by signal number sig (128 + sig).
    static int exitStatus(int sig)
    {
        return 128 + sig;
    }

signals:
    // sig: 2 for Ctrl-C (SIGINT), 15 for SIGTERM.
    void interrupted(int sig);
    // The terminal was closed (SIGHUP); nothing is stopped.
    void terminalLost();

private:
    QSocketNotifier *notifier = nullptr;
};
