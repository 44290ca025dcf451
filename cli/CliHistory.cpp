#include "CliHistory.h"

#include "CliOptions.h"
#include "Console.h"
#include "records/RecordImport.h"
#include "records/RecordOutbox.h"
#include "records/RecordStore.h"
#include "records/RecordsConfig.h"

namespace {

constexpr int kNothingDone = 2;

int fail(const QString &message)
{
    Console::writeErr(QStringLiteral("zq-update: %1\n").arg(Console::shown(message, true)).toLocal8Bit());
    return kNothingDone;
}

void say(const QString &line)
{
    Console::writeErr(QStringLiteral("zq-update: %1\n").arg(Console::shown(line, true)).toLocal8Bit());
}

// The records store holds that query asks for, in the form options name.
int show(RecordStore &store, const RecordQuery &query, const CliOptions &options)
{
    QString error;
    const QList<QJsonObject> records = store.find(query, error);
    if (!error.isEmpty())
        return fail(error);
    Console::writeOut(options.json ? RecordQuery::json(records)
            : options.csv          ? RecordQuery::csv(records)
                                   : RecordQuery::table(records).toLocal8Bit());
    return 0;
}

// The records configuration (--records or records.conf) into config; false
// when it can't be read, with the message written.
bool loadConfig(const CliOptions &options, RecordsConfig &config)
{
    QString error;
    if (RecordsConfig::load(options.recordsUrl, config, error))
        return true;
    fail(error);
    return false;
}

} // namespace

int CliHistory::history(const CliOptions &options)
{
    RecordsConfig config;
    if (!loadConfig(options, config))
        return kNothingDone;
    QString error;
    RecordQuery query;
    query.serial = options.serial;
    query.slot = options.slot;
    query.station = options.stationName;
    query.result = options.result;
    query.version = options.updateVersion;
    const std::pair<const QString *, QDateTime *> times[] = { { &options.since, &query.since },
        { &options.until, &query.until } };
    for (const auto &t : times) {
        if (t.first->isEmpty())
            continue;
        *t.second = RecordQuery::parseTime(*t.first, t.second == &query.until);
        if (!t.second->isValid())
            return fail(QStringLiteral("\"%1\" is no time: give a day (2026-12-01) or a time "
                                       "(2026-12-01T10:00, UTC)")
                            .arg(t.first->left(40)));
    }
    // The plant's server holds every station's records; this PC's file its own.
    RecordStore store;
    if (config.hasServer()) {
        if (!store.openServer(config.serverOptions, error)) {
            say(QStringLiteral("the server %1 can't be asked (%2): this station's records only.")
                    .arg(config.server, error.trimmed()));
            error.clear();
        }
    }
    if (!store.isOpen()) {
        RecordStore local;
        if (!local.openLocal(config.localFile, error))
            return fail(QStringLiteral("the records database %1 can't be read: %2")
                            .arg(config.localFile, error));
        return show(local, query, options);
    }
    return show(store, query, options);
}

int CliHistory::sync(const CliOptions &options)
{
    RecordsConfig config;
    if (!loadConfig(options, config))
        return kNothingDone;
    QString error;
    if (!config.hasServer())
        return fail(QStringLiteral("no server is named: give --records URL or put "
                                   "\"server = URL\" in %1")
                        .arg(RecordsConfig::configFile()));
    const RecordOutbox::Pass pass = RecordOutbox::deliver(config.localFile, config.serverOptions);
    if (pass.left < 0)
        return fail(QStringLiteral("the records database %1 can't be read: %2")
                        .arg(config.localFile, pass.error));
    // Even with an empty outbox the server is reached: its tables are made
    // or brought to this program's version (as the database's owner).
    if (!pass.reached && pass.left == 0) {
        RecordStore server;
        if (!server.openServer(config.serverOptions, error))
            return fail(QStringLiteral("the server %1: %2").arg(config.server, error.trimmed()));
    }
    Console::writeOut(QStringLiteral("%1 record(s) sent to %2 (%3 new there); %4 left in the outbox.\n")
                          .arg(pass.sent)
                          .arg(config.server)
                          .arg(pass.fresh)
                          .arg(pass.left)
                          .toLocal8Bit());
    if (pass.left > 0) {
        say(QStringLiteral("the server %1 did not take every record: %2").arg(config.server, pass.error.trimmed()));
        return pass.sent > 0 ? 1 : kNothingDone;
    }
    return 0;
}

int CliHistory::import(const CliOptions &options)
{
    RecordsConfig config;
    if (!loadConfig(options, config))
        return kNothingDone;
    QString error;
    RecordStore store;
    if (!store.openLocal(config.localFile, error))
        return fail(QStringLiteral("the records database %1 can't be used: %2").arg(config.localFile, error));
    const RecordImport::Outcome out = RecordImport::run(options.importFile, store);
    Console::writeOut(QStringLiteral("%1 record(s) imported from %2, %3 already stored.\n")
                          .arg(out.added)
                          .arg(options.importFile)
                          .arg(out.known)
                          .toLocal8Bit());
    if (!out.badLines.isEmpty()) {
        QStringList numbers;
        for (int n : out.badLines.mid(0, 10))
            numbers << QString::number(n);
        say(QStringLiteral("%1 line(s) are no unit record and were left out (line %2%3).")
                .arg(out.badLines.size())
                .arg(numbers.join(QStringLiteral(", ")),
                    out.badLines.size() > 10 ? QStringLiteral(", ...") : QString()));
    }
    if (!out.error.isEmpty())
        return fail(out.error);
    // The records imported go to the server like any other.
    if (config.hasServer()) {
        const RecordOutbox::Pass pass = RecordOutbox::deliver(config.localFile, config.serverOptions);
        if (pass.left > 0)
            say(QStringLiteral("%1 record(s) wait in the outbox for the server %2 (%3).")
                    .arg(pass.left)
                    .arg(config.server, pass.error.trimmed()));
    }
    return out.badLines.isEmpty() ? 0 : 1;
}
