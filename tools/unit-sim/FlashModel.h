#pragma once
// The unit's program flash as its bootloader sees it: "$E" erases 4 KB sectors,
// "$D" fills a one-sector buffer 64 bytes at a time, "$P" programs the buffer
// into a sector. Like NOR flash, programming can only clear bits, so a sector
// programmed without its erase keeps traces of the old firmware. Counts what
// the tool does wrong on the way.
#include <QByteArray>
#include <QJsonObject>
#include <QMap>
#include <QVector>

class FlashModel
{
public:
    static constexpr int kSize = 0xE0000;
    static constexpr int kSectorSize = 4096;
    static constexpr int kLineSize = 64;
    static constexpr int kLinesPerSector = kSectorSize / kLineSize;
    static constexpr int kFirstAddress = 0x1000; // the firmware range starts here

    // Starts with an "old firmware" pattern in every sector (not 0xFF), so that
    // a sector programmed without erase differs from the new image.
    FlashModel();

    void erase(quint32 address, quint32 count);
    void storeLine(quint32 offset, const QByteArray &bytes);
    void program(quint32 address, quint32 length);
    // The unit restarted: the flash keeps its bytes, but the sector buffer and
    // every erase are forgotten, so a sector must be erased again before it is
    // programmed.
    void restart();

    const QByteArray &bytes() const
    {
        return flash;
    }
    // Problems found so far, by name ("lostData", "unerased", ...), and repeats
    // of a command that changed nothing ("E", "D", "P").
    const QMap<QString, int> &problems() const
    {
        return problemCounts;
    }
    const QMap<QString, int> &repeats() const
    {
        return repeatCounts;
    }
    int sectorsProgrammed() const
    {
        return programmedCount;
    }

    // The firmware range 0x1000..0xDFFFF compared with expected, where the byte
    // for address A is expected[A] and addresses past its end expect 0.
    QJsonObject compare(const QByteArray &expected) const;

private:
    void count(const char *problem, int n = 1)
    {
        problemCounts[QLatin1String(problem)] += n;
    }

    QByteArray flash;
    QByteArray buffer; // the sector buffer filled by "$D"
    QVector<bool> lineReceived; // which of the buffer's 64 lines arrived since "$E"/"$P"
    QVector<bool> erased; // per sector: erased and not programmed since
    qint64 bufferSector = -1; // sector address of the last "$E"
    qint64 lastProgrammed = -1; // sector address of the last "$P"
    bool dataSinceProgram = false; // a "$D" or "$E" since the last "$P"
    quint32 nextOffset = 0; // the offset expected next within the sector
    int programmedCount = 0;
    QMap<QString, int> problemCounts;
    QMap<QString, int> repeatCounts;
};
