#pragma once
// One delivery pass: the records in the local file's outbox go to the plant's
// server, oldest first, a batch per transaction; each batch leaves the outbox
// only once the server has committed it. A batch whose answer was lost is
// sent again next time and stored once (the server keeps each UUID once).
#include <QString>
#include <QStringList>

class RecordOutbox
{
public:
    struct Pass {
        int sent = 0; // records the server took in this pass (new there or not)
        int fresh = 0; // ... of which it did not have yet
        int left = -1; // left in the outbox; -1 when the local file can't be read
        bool reached = false; // the server answered
        QString error; // why the pass stopped short; empty when the outbox is empty
    };

    static Pass deliver(const QString &localFile, const QStringList &serverOptions);
};
