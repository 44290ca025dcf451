#pragma once
// The display images held by the unit: "$I" announces an image (number,
// version, width, height) and "$F" brings its bytes in 256-byte chunks. An image
// is complete when every chunk has arrived; a repeated chunk is stored once.
#include "SimExpectation.h"

#include <QByteArray>
#include <QJsonArray>
#include <QMap>
#include <QString>
#include <QVector>

class ImageStore
{
public:
    static constexpr int kChunkSize = 256;

    struct Image {
        int name = 0;
        int version = 0;
        int width = 0;
        int height = 0;
        QByteArray bytes; // width * height * 2 bytes once announced
        QVector<bool> chunks; // which chunks have arrived
        int chunksReceived = 0;
        bool complete() const
        {
            return chunksReceived == chunks.size();
        }
    };

    enum ChunkResult { Stored, Repeated, NoImage, OutOfRange };

    // Returns true when image `name` already holds `version` in full (the tool
    // may skip it); otherwise starts receiving it.
    bool header(int name, int version, int width, int height);
    ChunkResult chunk(int number, const QByteArray &bytes);
    // "$A,1": every image is gone.
    void clear();
    // The unit restarted: the images stay as they are, complete or not, and
    // none is receiving chunks until its next "$I".
    void restart();

    const QMap<int, Image> &images() const
    {
        return held;
    }
    const QMap<QString, int> &problems() const
    {
        return problemCounts;
    }
    const QMap<QString, int> &repeats() const
    {
        return repeatCounts;
    }

    // One entry per image held and per expected image, with "equal" where an
    // expectation is given.
    QJsonArray report(const SimExpectation &expected) const;
    // All expected images held, complete and equal.
    bool allEqual(const SimExpectation &expected) const;

private:
    QMap<int, Image> held;
    int current = -1; // the image receiving chunks, or -1
    int nextChunk = 0; // the chunk expected next
    QMap<QString, int> problemCounts;
    QMap<QString, int> repeatCounts;
};
