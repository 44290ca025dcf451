#pragma once
// Turns Ctrl-C and SIGTERM into a Qt signal delivered by the event loop, so
// that the job can stop every unit, write its report and exit cleanly, and
// SIGHUP (the terminal closed) into one that only notes it: a closed terminal
// ends no job. All of the program's operating-system signal handling is in
// this class.
#include <QObject>

class QSocketNotifier;

class SignalRelay : public QObject
{
    Q_OBJECT

public:
    explicit SignalRelay(QObject *parent = nullptr);
    ~SignalRelay() override;

    // Called first in main: a reader that went away (`zq-update ... | head`),
    // a closed terminal or a file size limit must never end a job in the
    // middle of the firmware. SIGPIPE and SIGXFSZ are ignored (the write fails
    // with EPIPE or EFBIG instead), and SIGHUP until a relay takes it.
    static void ignoreBrokenPipe();

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
