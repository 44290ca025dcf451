#include "ImageStore.h"

#include <QJsonObject>

bool ImageStore::header(int name, int version, int width, int height)
{
    auto it = held.find(name);
    if (it != held.end() && it->version == version && it->complete()) {
        current = -1;
        return true;
    }
    if (it != held.end() && current == name && it->version == version && it->width == width
        && it->height == height)
        repeatCounts[QStringLiteral("I")]++;

    Image image;
    image.name = name;
    image.version = version;
    image.width = width;
    image.height = height;
    const int size = qMax(0, width * height * 2);
    image.bytes = QByteArray(size, '\0');
    image.chunks = QVector<bool>((size + kChunkSize - 1) / kChunkSize, false);
    if (size == 0)
        problemCounts[QStringLiteral("emptyImage")]++;
    held.insert(name, image);
    current = name;
    nextChunk = 0;
    return false;
}

ImageStore::ChunkResult ImageStore::chunk(int number, const QByteArray &bytes)
{
    auto it = held.find(current);
    if (current < 0 || it == held.end()) {
        problemCounts[QStringLiteral("chunkWithoutHeader")]++;
        return NoImage;
    }
    Image &image = *it;
    if (number < 0 || number >= image.chunks.size()) {
        problemCounts[QStringLiteral("chunkOutOfRange")]++;
        return OutOfRange;
    }
    const int offset = number * kChunkSize;
    const int expectedLength = qMin(kChunkSize, image.bytes.size() - offset);
    if (bytes.size() != expectedLength)
        problemCounts[QStringLiteral("chunkLength")]++;
    if (image.chunks[number]) {
        repeatCounts[QStringLiteral("F")]++;
        return Repeated;
    }
    if (number != nextChunk)
        problemCounts[QStringLiteral("chunkOrder")]++;
    image.bytes.replace(offset, qMin(expectedLength, bytes.size()), bytes.left(expectedLength));
    image.chunks[number] = true;
    image.chunksReceived++;
    nextChunk = number + 1;
    return Stored;
}

void ImageStore::clear()
{
    held.clear();
    current = -1;
    nextChunk = 0;
}

void ImageStore::restart()
{
    current = -1;
    nextChunk = 0;
}

QJsonArray ImageStore::report(const SimExpectation &expected) const
{
    QJsonArray out;
    QMap<int, const SimExpectedImage *> wanted;
    for (const SimExpectedImage &e : expected.images)
        wanted.insert(e.name, &e);

    for (const Image &image : held) {
        QJsonObject o {
            { QStringLiteral("name"), image.name },
            { QStringLiteral("version"), image.version },
            { QStringLiteral("width"), image.width },
            { QStringLiteral("height"), image.height },
            { QStringLiteral("bytes"), image.bytes.size() },
            { QStringLiteral("chunksReceived"), image.chunksReceived },
            { QStringLiteral("complete"), image.complete() },
        };
        if (const SimExpectedImage *e = wanted.value(image.name)) {
            o.insert(QStringLiteral("equal"),
                image.complete() && image.version == e->version && image.bytes == e->bytes);
        } else if (expected.hasImages) {
            o.insert(QStringLiteral("unexpected"), true);
        }
        out.append(o);
    }
    for (const SimExpectedImage &e : expected.images) {
        if (!held.contains(e.name))
            out.append(QJsonObject { { QStringLiteral("name"), e.name },
                { QStringLiteral("version"), e.version }, { QStringLiteral("missing"), true },
                { QStringLiteral("equal"), false } });
    }
    return out;
}

bool ImageStore::allEqual(const SimExpectation &expected) const
{
    for (const SimExpectedImage &e : expected.images) {
        auto it = held.find(e.name);
        if (it == held.end() || !it->complete() || it->version != e.version || it->bytes != e.bytes)
            return false;
    }
    return true;
}
