#pragma once
// Where a program's unit records go: the local SQLite file first (the record
// is committed there, in the outbox), then, with a server configured, the
// plant's PostgreSQL by RecordSync's thread. A local file that can't be
// opened or written is said in plain words; the job goes on without it.
#include "records/RecordsConfig.h"
#include "records/RecordStore.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <memory>

class RecordSync;

class RecordKeeper : public QObject
{
    Q_OBJECT

public:
    explicit RecordKeeper(QObject *parent = nullptr);
    ~RecordKeeper() override;

    // Opens the local file of config and, with a server, starts sending.
    // False with error set (a sentence) when the local file can't be used;
    // the server is not needed to open.
    bool open(const RecordsConfig &config, QString &error);
    bool isOpen() const { return store.isOpen(); }
    const RecordsConfig &configuration() const { return config; }

    // Stores record; false with error set (a sentence naming the file).
    bool add(const QJsonObject &record, QString &error);
    // Stops sending after a last pass; the records left in the outbox
    // (-1: unknown, 0 without a server).
    int finish();

signals:
    void note(const QString &line);

private:
    RecordsConfig config;
    RecordStore store;
    std::unique_ptr<RecordSync> sync;
};
