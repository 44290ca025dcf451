// Fuzz target: an image source file of any text through the image reader.
// Besides not crashing, reading the same text twice must give the same record.
#include "payload/ImageReader.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), static_cast<int>(size));
    ImageRecord first;
    const QString problem = ImageReader::parseImageSource(text, first);
    ImageRecord second;
    if (ImageReader::parseImageSource(text, second) != problem || first.pixels != second.pixels
        || first.width != second.width || first.height != second.height)
        std::abort();
    if (first.width < 0 || first.height < 0)
        std::abort();
    return 0;
}
