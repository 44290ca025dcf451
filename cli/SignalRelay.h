#pragma once
// Turns Ctrl-C and SIGTERM into a Qt signal delivered by the event loop, so
// that the job can stop every unit, write its report and exit cleanly. All of
// the program's operating-system signal handling is in this class.
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

private:
    QSocketNotifier *notifier = nullptr;
};
