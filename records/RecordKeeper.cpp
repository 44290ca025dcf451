#include "records/RecordKeeper.h"

#include "records/RecordSync.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>

RecordKeeper::RecordKeeper(QObject *parent)
    : QObject(parent)
{
}

RecordKeeper::~RecordKeeper()
{
    finish();
}

namespace {

// Below this much free space the disk is taken as full: SQLite needs room
// for its write-ahead log and shared-memory files besides the record.
constexpr qint64 kRoomNeeded = 64 * 1024;

// What is wrong with file, in words a technician can act on.
QString plainWords(const QString &error, const QString &file)
{
    const QString e = error.toLower();
    // The nearest folder that exists tells whether the disk is read-only or full.
    QString dir = QFileInfo(file).absolutePath();
    while (!QFileInfo::exists(dir) && !QDir(dir).isRoot())
        dir = QFileInfo(dir).absolutePath();
    const QStorageInfo disk(dir);
    if (disk.isValid() && disk.isReadOnly())
        return QStringLiteral("it can't be written: the disk is read-only (%1)").arg(error.trimmed());
    if (disk.isValid() && disk.bytesAvailable() < kRoomNeeded)
        return QStringLiteral("the disk is full (%1)").arg(error.trimmed());
    if (e.contains(QLatin1String("locked")) || e.contains(QLatin1String("busy")))
        return QStringLiteral("another program holds it locked (%1)").arg(error.trimmed());
    if (e.contains(QLatin1String("full")) || e.contains(QLatin1String("disk i/o")))
        return QStringLiteral("the disk is full or failing (%1)").arg(error.trimmed());
    if (e.contains(QLatin1String("readonly")) || e.contains(QLatin1String("read-only"))
        || e.contains(QLatin1String("unable to open")) || e.contains(QLatin1String("cannot create")))
        return QStringLiteral("it can't be written: read-only or no permission (%1)").arg(error.trimmed());
    return error.trimmed();
}

} // namespace

bool RecordKeeper::open(const RecordsConfig &c, QString &error)
{
    config = c;
    QString why;
    if (!store.openLocal(config.localFile, why)) {
        error = QStringLiteral("the records database %1 can't be used: %2").arg(config.localFile, plainWords(why, config.localFile));
        return false;
    }
    if (config.hasServer()) {
        sync = std::make_unique<RecordSync>(config.localFile, config.serverOptions, config.server);
        connect(sync.get(), &RecordSync::note, this, &RecordKeeper::note);
        sync->start();
    }
    return true;
}

bool RecordKeeper::add(const QJsonObject &record, QString &error)
{
    QString why;
    if (!store.isOpen() || !store.add(record, why)) {
        error = QStringLiteral("the record was not stored in %1: %2")
                    .arg(config.localFile, store.isOpen() ? plainWords(why, config.localFile) : QStringLiteral("it is not open"));
        return false;
    }
    if (sync)
        sync->kick();
    return true;
}

int RecordKeeper::finish()
{
    if (!sync)
        return 0;
    const int left = sync->finish();
    sync.reset();
    return left;
}
