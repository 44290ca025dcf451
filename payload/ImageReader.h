#pragma once
// Reads display images stored as LVGL image-converter source text into bytes,
// width and height.
#include "payload/ImageRecord.h"

#include <QByteArray>
#include <QString>

namespace ImageReader {

// Parses one file's text: appends the array's bytes to record.pixels and sets
// record.width / record.height where the descriptor gives them. Returns an
// empty string, or why the image must not be sent (a format the unit can't show).
QString parseImageSource(const QByteArray &text, ImageRecord &record);

// Reads the file at path and parses it. The record is returned in every case;
// record.problem names what is wrong with it, if anything.
ImageRecord loadImage(const QString &path, int imageName, int imageVersion);

// The same for a file already in memory (an update package's): text is its
// bytes, fileName the name it has in the package.
ImageRecord imageFromText(
    const QString &fileName, const QByteArray &text, int imageName, int imageVersion);

} // namespace ImageReader
