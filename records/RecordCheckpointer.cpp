#include "records/RecordCheckpointer.h"

#include "engine/Timeouts.h"

#include <QAtomicInt>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace {

QAtomicInt checkpointers;

} // namespace

RecordCheckpointer::RecordCheckpointer(const QString &f, QObject *parent)
    : QThread(parent)
    , file(f)
{
}

RecordCheckpointer::~RecordCheckpointer()
{
    finish();
}

void RecordCheckpointer::kick()
{
    QMutexLocker lock(&mutex);
    pending = true;
    wake.wakeAll();
}

void RecordCheckpointer::finish()
{
    if (!isRunning())
        return;
    {
        QMutexLocker lock(&mutex);
        stopping = true;
        wake.wakeAll();
    }
    wait();
}

void RecordCheckpointer::run()
{
    const QString name = QStringLiteral("zq-checkpoint-%1").arg(checkpointers.fetchAndAddRelaxed(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(Timeouts::kRecordsBusyMs));
        if (db.open()) {
            for (;;) {
                bool last = false;
                {
                    QMutexLocker lock(&mutex);
                    while (!pending && !stopping)
                        wake.wait(&mutex);
                    pending = false;
                    last = stopping;
                }
                // PASSIVE: copies what no reader still needs and waits for no one.
                QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
                if (last)
                    break;
            }
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
}
