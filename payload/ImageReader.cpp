#include "payload/ImageReader.h"

// Placeholder: replaced by the real reader.
QString ImageReader::parseImageSource(const QByteArray &, ImageRecord &)
{
    return QString();
}

ImageRecord ImageReader::loadImage(const QString &path, int imageName, int imageVersion)
{
    ImageRecord r;
    r.fileName = path;
    r.imageName = imageName;
    r.imageVersion = imageVersion;
    return r;
}
