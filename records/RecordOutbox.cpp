#include "records/RecordOutbox.h"

#include "records/RecordStore.h"

#include <QSqlError>
#include <QSqlQuery>

namespace {

constexpr int kBatch = 200;

} // namespace

RecordOutbox::Pass RecordOutbox::deliver(const QString &localFile, const QStringList &serverOptions)
{
    Pass pass;
    RecordStore local;
    if (!local.openLocal(localFile, pass.error))
        return pass;
    pass.left = local.outboxSize(pass.error);
    if (pass.left <= 0)
        return pass;
    RecordStore server;
    if (!server.openServer(serverOptions, pass.error))
        return pass;
    pass.reached = true;
    for (;;) {
        const auto batch = local.outbox(kBatch, pass.error);
        if (batch.isEmpty())
            break;
        QSqlDatabase &db = server.database();
        if (!db.transaction()) {
            pass.error = db.lastError().text();
            break;
        }
        QList<qint64> ids;
        bool ok = true;
        int fresh = 0;
        for (const auto &entry : batch) {
            bool added = false;
            if (!server.add(entry.second, pass.error, &added)) {
                ok = false;
                break;
            }
            fresh += added ? 1 : 0;
            ids << entry.first;
        }
        if (!ok || !db.commit()) {
            if (ok)
                pass.error = db.lastError().text();
            db.rollback();
            break;
        }
        pass.sent += ids.size();
        pass.fresh += fresh;
        if (!local.delivered(ids, pass.error))
            break;
    }
    QString why;
    pass.left = local.outboxSize(why);
    if (pass.left == 0)
        pass.error.clear();
    return pass;
}
