#include "records/RecordSync.h"

#include "engine/Timeouts.h"

#include <QDeadlineTimer>

RecordSync::RecordSync(const QString &local, const QStringList &options, const QString &name,
    QObject *parent)
    : QThread(parent)
    , localFile(local)
    , serverOptions(options)
    , serverName(name)
{
}

RecordSync::~RecordSync()
{
    finish();
}

void RecordSync::kick()
{
    QMutexLocker lock(&mutex);
    kicked = true;
    pending = true;
    wake.wakeAll();
}

int RecordSync::finish()
{
    if (!isRunning())
        return left;
    {
        QMutexLocker lock(&mutex);
        stopping = true;
        wake.wakeAll();
    }
    // The pass under way ends within the connect and statement time-outs.
    if (!wait(QDeadlineTimer(Timeouts::kRecordsLastPassMs + Timeouts::kRecordsStatementMs
            + Timeouts::kRecordsConnectSeconds * 1000)))
        return -1;
    return left;
}

void RecordSync::passOnce()
{
    const RecordOutbox::Pass pass = RecordOutbox::deliver(localFile, serverOptions);
    bool wasDown = false;
    {
        QMutexLocker lock(&mutex);
        left = pass.left;
        pending = pass.left != 0;
        wasDown = down;
        down = !pass.reached && pass.left != 0;
    }
    if (pass.left > 0 && !pass.error.isEmpty() && !wasDown)
        emit note(QStringLiteral("records: the server %1 did not take the records (%2); %3 "
                                 "record(s) wait in the local outbox and go when it answers "
                                 "(or with \"zq-update records sync\").")
                      .arg(serverName, pass.error.trimmed())
                      .arg(pass.left));
    else if (wasDown && pass.reached && pass.sent > 0)
        emit note(QStringLiteral("records: the server %1 answers again; %2 record(s) sent from "
                                 "the outbox.")
                      .arg(serverName)
                      .arg(pass.sent));
}

void RecordSync::run()
{
    for (;;) {
        {
            QMutexLocker lock(&mutex);
            while (!kicked && !stopping)
                if (!wake.wait(&mutex, QDeadlineTimer(Timeouts::kRecordsRetryMs)) && pending)
                    break;
            kicked = false;
            if (stopping) {
                // One last pass, unless the server did not answer the one before.
                const bool last = pending && !down;
                lock.unlock();
                if (last)
                    passOnce();
                return;
            }
        }
        passOnce();
    }
}
