#include "records/RecordImport.h"

#include "payload/FileRead.h"
#include "records/RecordStore.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

constexpr qint64 kLongestLine = 1024 * 1024;

} // namespace

RecordImport::Outcome RecordImport::run(const QString &file, RecordStore &store)
{
    Outcome out;
    // A FIFO or a device would hold the open or never end: refused first.
    qint64 size = 0;
    QString why;
    if (!FileRead::regularFile(file, size, why)) {
        out.error = why;
        return out;
    }
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("%1 can't be read: %2").arg(file, f.errorString());
        return out;
    }
    int number = 0;
    while (!f.atEnd()) {
        const QByteArray line = f.readLine(kLongestLine);
        ++number;
        if (line.trimmed().isEmpty())
            continue;
        QJsonParseError parse {};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &parse);
        bool added = false;
        QString why;
        if (parse.error != QJsonParseError::NoError || !doc.isObject()
            || !store.add(doc.object(), why, &added)) {
            // A line that is no record is counted; a database that fails stops.
            if (!why.isEmpty() && !why.startsWith(QLatin1String("it is no unit record"))) {
                out.error = why;
                return out;
            }
            out.badLines << number;
            if (!line.endsWith('\n') && line.size() >= kLongestLine - 1)
                while (!f.atEnd() && !f.readLine(kLongestLine).endsWith('\n')) { }
            continue;
        }
        ++(added ? out.added : out.known);
    }
    return out;
}
