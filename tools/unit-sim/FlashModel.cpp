#include "FlashModel.h"

#include <QJsonArray>
#include <QString>

FlashModel::FlashModel()
    : flash(kSize, '\0')
    , buffer(kSectorSize, '\xFF')
    , lineReceived(kLinesPerSector, false)
    , erased(kSize / kSectorSize, false)
{
    for (int a = 0; a < kSize; ++a)
        flash[a] = static_cast<char>((a * 7 + (a >> 12)) & 0x7F);
}

void FlashModel::erase(quint32 address, quint32 count)
{
    if (address % kSectorSize != 0)
        this->count("misalignedSector");
    if (count != 1)
        this->count("eraseCount");
    const quint32 first = address / kSectorSize;
    if (address < kFirstAddress || first + count > static_cast<quint32>(erased.size())) {
        this->count("outOfRange");
        return;
    }
    if (static_cast<qint64>(first) * kSectorSize == bufferSector && !dataSinceProgram)
        repeatCounts[QStringLiteral("E")]++;
    for (quint32 s = first; s < first + count; ++s) {
        flash.replace(
            static_cast<int>(s) * kSectorSize, kSectorSize, QByteArray(kSectorSize, '\xFF'));
        erased[static_cast<int>(s)] = true;
    }
    bufferSector = static_cast<qint64>(first) * kSectorSize;
    buffer.fill('\xFF');
    lineReceived.fill(false);
    nextOffset = 0;
    dataSinceProgram = true;
}

void FlashModel::storeLine(quint32 offset, const QByteArray &bytes)
{
    if (offset % kLineSize != 0 || offset >= kSectorSize) {
        count("dataOffset");
        return;
    }
    if (bytes.size() != kLineSize)
        count("dataLength");
    const int line = static_cast<int>(offset / kLineSize);
    if (lineReceived[line]) {
        repeatCounts[QStringLiteral("D")]++;
    } else if (offset != nextOffset) {
        count("dataOrder");
    }
    buffer.replace(static_cast<int>(offset), qMin(bytes.size(), kLineSize), bytes.left(kLineSize));
    lineReceived[line] = true;
    nextOffset = offset + kLineSize;
    dataSinceProgram = true;
}

void FlashModel::program(quint32 address, quint32 length)
{
    if (address % kSectorSize != 0)
        count("misalignedSector");
    if (length != kSectorSize)
        count("programLength");
    const int sector = static_cast<int>(address / kSectorSize);
    if (address < kFirstAddress || sector >= erased.size()) {
        count("outOfRange");
        return;
    }
    const qint64 start = static_cast<qint64>(sector) * kSectorSize;
    if (start == lastProgrammed && !dataSinceProgram) {
        // Programming the same bytes again changes nothing.
        repeatCounts[QStringLiteral("P")]++;
        return;
    }
    const int missing = static_cast<int>(lineReceived.count(false));
    if (missing > 0) {
        count("lostData");
        count("lostDataLines", missing);
    }
    if (!erased[sector])
        count("unerased");

    for (int i = 0; i < kSectorSize; ++i) {
        const int a = static_cast<int>(start) + i;
        flash[a] = static_cast<char>(flash.at(a) & buffer.at(i));
    }
    erased[sector] = false;
    lastProgrammed = start;
    dataSinceProgram = false;
    lineReceived.fill(false);
    nextOffset = 0;
    ++programmedCount;
}

void FlashModel::restart()
{
    buffer.fill('\xFF');
    lineReceived.fill(false);
    erased.fill(false);
    bufferSector = -1;
    lastProgrammed = -1;
    dataSinceProgram = false;
    nextOffset = 0;
}

QJsonObject FlashModel::compare(const QByteArray &expected) const
{
    QJsonArray differing;
    int differingCount = 0;
    for (int sector = kFirstAddress; sector < kSize; sector += kSectorSize) {
        QByteArray want = expected.mid(sector, kSectorSize);
        want.append(QByteArray(kSectorSize - want.size(), '\0'));
        if (flash.mid(sector, kSectorSize) == want)
            continue;
        if (++differingCount <= 8)
            differing.append(QStringLiteral("0x") + QString::number(sector, 16).toUpper());
    }
    return QJsonObject {
        { QStringLiteral("compared"), true },
        { QStringLiteral("equal"), differingCount == 0 },
        { QStringLiteral("differingSectors"), differing },
        { QStringLiteral("differingSectorCount"), differingCount },
    };
}
