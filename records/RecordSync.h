#pragma once
// The thread that takes records from the local outbox to the plant's server:
// a pass whenever a record was stored (kick) and, while records are left,
// every kRecordsRetryMs. A server that is down or slow holds up only this
// thread, never a unit's job. Says (note) when the server stops answering
// and when it answers again.
#include "records/RecordOutbox.h"

#include <QMutex>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

class RecordSync : public QThread
{
    Q_OBJECT

public:
    RecordSync(const QString &localFile, const QStringList &serverOptions, const QString &serverName,
        QObject *parent = nullptr);
    ~RecordSync() override;

    // A record was stored: a pass soon.
    void kick();
    // Ends the thread after one last pass (when the server answered the pass
    // before), waiting at most kRecordsLastPassMs; returns the records left in
    // the outbox (-1: unknown).
    int finish();

signals:
    // A line for the user: the server stopped answering, or answers again.
    void note(const QString &line);

protected:
    void run() override;

private:
    void passOnce();

    const QString localFile;
    const QStringList serverOptions;
    const QString serverName;
    QMutex mutex;
    QWaitCondition wake;
    bool kicked = true;
    bool stopping = false;
    bool pending = true;
    bool down = false; // the last pass did not reach the server
    int left = -1;
};
