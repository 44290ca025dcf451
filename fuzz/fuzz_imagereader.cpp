// Fuzz target: an image source file of any text through the image reader.
// Besides not crashing, reading the same text twice must give the same record.
// Widths and heights are read as signed numbers, as the files write them; the
// loader refuses a record whose size is not positive (tests/payload).
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
    return 0;
}
