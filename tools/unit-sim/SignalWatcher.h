#pragma once
// Turns SIGTERM and SIGINT into a Qt signal, so the program can write its report
// and leave its event loop cleanly.
#include <QObject>

class QSocketNotifier;

class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;

signals:
    void terminated();

private:
    QSocketNotifier *notifier = nullptr;
};
