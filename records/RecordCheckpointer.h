#pragma once
// Moves the local file's write-ahead log into the database on a thread of its
// own. A checkpoint syncs the disk, which can take milliseconds on a busy PC:
// the thread that runs the jobs, whose connection checkpoints never, would
// otherwise pay for it every few hundred records.
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

class RecordCheckpointer : public QThread
{
    Q_OBJECT

public:
    explicit RecordCheckpointer(const QString &file, QObject *parent = nullptr);
    ~RecordCheckpointer() override;

    // A record was committed: a checkpoint soon (several are taken as one).
    void kick();
    // One last checkpoint, then the thread ends.
    void finish();

protected:
    void run() override;

private:
    const QString file;
    QMutex mutex;
    QWaitCondition wake;
    bool pending = false;
    bool stopping = false;
};
