// The records database's speed: the time one record's add takes as a job
// stores it (into a SQLite file that holds 100,000 records, through the
// keeper the programs use: median, mean, 99th percentile and maximum of 1,000
// adds, each its own transaction, WAL checkpoints included), and a query by
// serial number over 100,000 records (median of 50, a serial with 10 records)
// on SQLite and on a private PostgreSQL server (initdb in a temporary folder;
// skipped when PostgreSQL is not installed).
//
//   bench_records [RECORDS]   (100000 by default)
#include "records/RecordKeeper.h"
#include "records/RecordStore.h"
#include "records/RecordsConfig.h"
#include "support/PgCluster.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QJsonObject record(int i)
{
    const QDateTime t = QDateTime(QDate(2026, 1, 1), QTime(0, 0), Qt::UTC).addSecs(i * 37);
    return QJsonObject { { "time", t.toString(Qt::ISODateWithMs) }, { "host", QStringLiteral("pc%1").arg(i % 7) },
        { "toolVersion", "0.9.0" }, { "slot", QString(QChar('A' + i % 4)) }, { "port", "/dev/ttyUSB0" },
        { "adapterSerial", QStringLiteral("S%1").arg(i % 10000) }, { "usbLocation", "" },
        { "unitVersion", "D.02" }, { "versionBefore", "D.02" }, { "confirmation", "confirmed" },
        { "confirmedVersion", "D.03" }, { "updateVersion", "D.03" }, { "mode", "firmware-and-images" },
        { "firmwareSha256", "ab" }, { "images", QJsonArray() }, { "package", "" }, { "packageSha256", "" },
        { "signed", false }, { "signer", "" }, { "result", "updated" }, { "reason", "" },
        { "seconds", 61.5 }, { "resends", i % 5 } };
}

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<size_t>(p * static_cast<double>(v.size())))];
}

// Fills the server with n records (one transaction), then times the query.
bool fillAndQuery(RecordStore &store, int n, const char *name)
{
    QString error;
    QElapsedTimer t;
    t.start();
    store.database().transaction();
    for (int i = 0; i < n; ++i)
        if (!store.add(record(i), error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return false;
        }
    store.database().commit();
    std::printf("%s: %d records stored in %.1f s\n", name, n, t.elapsed() / 1000.0);
    QSqlQuery(store.database()).exec("ANALYZE unit_record");
    std::vector<double> ms;
    for (int i = 0; i < 50; ++i) {
        RecordQuery q;
        q.serial = QStringLiteral("S%1").arg((i * 97) % 10000);
        t.restart();
        const int found = static_cast<int>(store.find(q, error).size());
        ms.push_back(t.nsecsElapsed() / 1e6);
        if (found != n / 10000) {
            std::fprintf(stderr, "found %d, not %d\n", found, n / 10000);
            return false;
        }
    }
    std::printf("%s: query by serial over %d records: median %.2f ms, max %.2f ms\n", name, n,
        percentile(ms, 0.5), *std::max_element(ms.begin(), ms.end()));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int n = argc > 1 ? std::max(10000, QString::fromLocal8Bit(argv[1]).toInt()) : 100000;
    QTemporaryDir dir;
    QString error;
    {
        RecordStore store;
        if (!store.openLocal(dir.filePath("records.sqlite"), error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        // SQLite's add is a transaction of its own: 100,000 of them, not nested.
        QElapsedTimer t;
        t.start();
        for (int i = 0; i < n; ++i)
            if (!store.add(record(i), error)) {
                std::fprintf(stderr, "%s\n", qPrintable(error));
                return 1;
            }
        std::printf("sqlite: %d records stored one by one in %.1f s\n", n, t.elapsed() / 1000.0);
        // A job's store: through the keeper the programs use.
        RecordsConfig config;
        config.localFile = dir.filePath("records.sqlite");
        RecordKeeper keeper;
        if (!keeper.open(config, error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 1;
        }
        std::vector<double> ms;
        for (int i = 0; i < 1000; ++i) {
            t.restart();
            if (!keeper.add(record(n + i), error))
                return 1;
            ms.push_back(t.nsecsElapsed() / 1e6);
        }
        double sum = 0;
        for (double m : ms)
            sum += m;
        std::printf("sqlite: one record stored (a job's add, beside %d): median %.2f ms, mean %.2f ms, "
                    "99th percentile %.2f ms, max %.2f ms\n",
            n, percentile(ms, 0.5), sum / static_cast<double>(ms.size()), percentile(ms, 0.99),
            *std::max_element(ms.begin(), ms.end()));
        QSqlQuery(store.database()).exec("ANALYZE");
        std::vector<double> q;
        for (int i = 0; i < 50; ++i) {
            RecordQuery query;
            query.serial = QStringLiteral("S%1").arg((i * 97) % 10000);
            t.restart();
            store.find(query, error);
            q.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("sqlite: query by serial over %d records: median %.2f ms, max %.2f ms\n", n + 1000,
            percentile(q, 0.5), *std::max_element(q.begin(), q.end()));
    }
    if (PgCluster::binDir().isEmpty()) {
        std::printf("postgresql: not installed, skipped\n");
        return 0;
    }
    PgCluster pg;
    if (!pg.create(error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    QStringList options;
    RecordsConfig::parseServer(pg.url(), options, error);
    RecordStore server;
    if (!server.openServer(options, error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    return fillAndQuery(server, n, "postgresql") ? 0 : 1;
}
