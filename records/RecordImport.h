#pragma once
// Reads a file of JSON lines (a --log file, the window's history.jsonl) into
// the records database: each line a record, stored once however often it is
// imported (RecordStore::uuidOf).
#include <QList>
#include <QString>

class RecordStore;

class RecordImport
{
public:
    struct Outcome {
        int added = 0; // new records
        int known = 0; // records already stored
        QList<int> badLines; // 1-based numbers of lines that are no record
        QString error; // why the import stopped; empty when it read the whole file
    };

    static Outcome run(const QString &file, RecordStore &store);
};
