#include "PayloadWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

const char *const PayloadWriter::DemoVersion = "D.03-demo";
const char *const PayloadWriter::DemoLargeImage = "splash_340x230.c";
const char *const PayloadWriter::DemoSmallImage = "icon_220x165.c";

namespace {

class XorShift32
{
public:
    explicit XorShift32(quint32 seed)
        : state(seed ? seed : 0x9E3779B9u)
    {
    }
    quint32 next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }

private:
    quint32 state;
};

const char hexDigits[] = "0123456789abcdef";

// Appends "0x%02x" followed by separator.
void appendValue(QByteArray &out, quint8 value, const char *separator)
{
    out.append('0');
    out.append('x');
    out.append(hexDigits[value >> 4]);
    out.append(hexDigits[value & 0xF]);
    out.append(separator);
}

// Appends rows of `rowBytes` values each, one row per line.
void appendRows(QByteArray &out, const QByteArray &bytes, int rowBytes, const char *indent,
    const char *separator)
{
    for (int i = 0; i < bytes.size(); ++i) {
        if (i % rowBytes == 0)
            out.append(indent);
        appendValue(out, static_cast<quint8>(bytes.at(i)), separator);
        if ((i + 1) % rowBytes == 0 || i + 1 == bytes.size())
            out.append('\n');
    }
}

struct Rgb {
    int r5, g6, b5;
};

Rgb unpack(const QByteArray &pixels, int index)
{
    const int value = static_cast<quint8>(pixels.at(2 * index))
        | static_cast<quint8>(pixels.at(2 * index + 1)) << 8;
    return { value >> 11, (value >> 5) & 0x3F, value & 0x1F };
}

} // namespace

QByteArray PayloadWriter::firmware(int size, quint32 seed)
{
    QByteArray out(qMax(size, 0), Qt::Uninitialized);
    XorShift32 random(seed);
    for (char &byte : out)
        byte = static_cast<char>(random.next() >> 24);
    return out;
}

QByteArray PayloadWriter::pixels(int width, int height, quint32 seed)
{
    // A colour gradient across the picture with noise in blue, so that a
    // swapped byte, a lost value or a shifted row all change the bytes.
    XorShift32 random(seed);
    const int red0 = static_cast<int>(random.next() >> 27);
    const int green0 = static_cast<int>(random.next() >> 26);
    QByteArray out;
    out.reserve(qMax(width * height * 2, 0));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int r5 = (red0 + x * 32 / width) & 0x1F;
            const int g6 = (green0 + y * 64 / height) & 0x3F;
            const int b5 = static_cast<int>(random.next() >> 27);
            const int value = r5 << 11 | g6 << 5 | b5;
            out.append(static_cast<char>(value & 0xFF));
            out.append(static_cast<char>(value >> 8));
        }
    }
    return out;
}

QByteArray PayloadWriter::imageSource(
    const QString &name, int width, int height, const QByteArray &pixels)
{
    const QByteArray id = name.toLatin1();
    QByteArray out;
    out.reserve(pixels.size() * 6 + height + 1024);
    out.append("#include \"lvgl.h\"\n\n"
               "#ifndef LV_ATTRIBUTE_MEM_ALIGN\n#define LV_ATTRIBUTE_MEM_ALIGN\n#endif\n\n"
               "#ifndef LV_ATTRIBUTE_IMG_"
        + id.toUpper() + "\n#define LV_ATTRIBUTE_IMG_" + id.toUpper() + "\n#endif\n\n");
    out.append("const LV_ATTRIBUTE_MEM_ALIGN LV_ATTRIBUTE_LARGE_CONST LV_ATTRIBUTE_IMG_"
        + id.toUpper() + " uint8_t " + id + "_map[] = {\n");
    appendRows(out, pixels, qMax(width * 2, 1), "", ", ");
    out.append("};\n\n");
    out.append("const lv_img_dsc_t " + id
        + " = {\n"
          "  .header.cf = LV_IMG_CF_TRUE_COLOR,\n"
          "  .header.always_zero = 0,\n"
          "  .header.reserved = 0,\n"
          "  .header.w = "
        + QByteArray::number(width)
        + ",\n"
          "  .header.h = "
        + QByteArray::number(height)
        + ",\n"
          "  .data_size = "
        + QByteArray::number(width * height)
        + " * LV_COLOR_SIZE / 8,\n"
          "  .data = "
        + id
        + "_map,\n"
          "};\n");
    return out;
}

QByteArray PayloadWriter::lvgl8Source(const QString &name, int width, int height,
    const QByteArray &pixels, const QByteArray &colorFormat)
{
    const QByteArray id = name.toLatin1();
    const int count = pixels.size() / 2;
    QByteArray depth8, swapped, depth32;
    for (int i = 0; i < count; ++i) {
        const Rgb c = unpack(pixels, i);
        depth8.append(static_cast<char>((c.r5 >> 2) << 5 | (c.g6 >> 3) << 2 | (c.b5 >> 3)));
        swapped.append(pixels.at(2 * i + 1));
        swapped.append(pixels.at(2 * i));
        depth32.append(static_cast<char>(c.b5 << 3 | c.b5 >> 2));
        depth32.append(static_cast<char>(c.g6 << 2 | c.g6 >> 4));
        depth32.append(static_cast<char>(c.r5 << 3 | c.r5 >> 2));
        depth32.append(static_cast<char>(0xFF));
    }
    const int w = qMax(width, 1);
    QByteArray out;
    out.append("#ifdef __has_include\n"
               "    #if __has_include(\"lvgl.h\")\n"
               "        #ifndef LV_LVGL_H_INCLUDE_SIMPLE\n"
               "            #define LV_LVGL_H_INCLUDE_SIMPLE\n"
               "        #endif\n"
               "    #endif\n"
               "#endif\n\n"
               "#if defined(LV_LVGL_H_INCLUDE_SIMPLE)\n"
               "    #include \"lvgl.h\"\n"
               "#else\n"
               "    #include \"lvgl/lvgl.h\"\n"
               "#endif\n\n"
               "#ifndef LV_ATTRIBUTE_MEM_ALIGN\n#define LV_ATTRIBUTE_MEM_ALIGN\n#endif\n\n");
    out.append(
        "const LV_ATTRIBUTE_MEM_ALIGN LV_ATTRIBUTE_LARGE_CONST uint8_t " + id + "_map[] = {\n");
    out.append("#if LV_COLOR_DEPTH == 1 || LV_COLOR_DEPTH == 8\n"
               "  /*Pixel format: Red: 3 bit, Green: 3 bit, Blue: 2 bit*/\n");
    appendRows(out, depth8, w, "  ", ", ");
    out.append("#endif\n"
               "#if LV_COLOR_DEPTH == 16 && LV_COLOR_16_SWAP == 0\n"
               "  /*Pixel format: Red: 5 bit, Green: 6 bit, Blue: 5 bit*/\n");
    appendRows(out, pixels, w * 2, "  ", ", ");
    out.append("#endif\n"
               "#if LV_COLOR_DEPTH == 16 && LV_COLOR_16_SWAP != 0\n"
               "  /*Pixel format: Red: 5 bit, Green: 6 bit, Blue: 5 bit, bytes swapped*/\n");
    appendRows(out, swapped, w * 2, "  ", ", ");
    out.append("#endif\n"
               "#if LV_COLOR_DEPTH == 32\n"
               "  /*Pixel format: Fix 0xFF: 8 bit, Red: 8 bit, Green: 8 bit, Blue: 8 bit*/\n");
    appendRows(out, depth32, w * 4, "  ", ", ");
    out.append("#endif\n"
               "};\n\n");
    out.append("const lv_img_dsc_t " + id
        + " = {\n"
          "  .header.always_zero = 0,\n"
          "  .header.w = "
        + QByteArray::number(width)
        + ",\n"
          "  .header.h = "
        + QByteArray::number(height)
        + ",\n"
          "  .data_size = "
        + QByteArray::number(count)
        + " * LV_COLOR_SIZE / 8,\n"
          "  .header.cf = "
        + colorFormat
        + ",\n"
          "  .data = "
        + id
        + "_map,\n"
          "};\n");
    return out;
}

QByteArray PayloadWriter::lvgl9Source(const QString &name, int width, int height,
    const QByteArray &pixels, bool nestedHeader, int stride, const QByteArray &colorFormat)
{
    const QByteArray id = name.toLatin1();
    const int rowBytes = qMax(width * 2, 1);
    const int rowStride = qMax(stride, rowBytes);
    QByteArray data;
    data.reserve(rowStride * height);
    for (int row = 0; row * rowBytes < pixels.size(); ++row) {
        data.append(pixels.mid(row * rowBytes, rowBytes));
        data.append(QByteArray(rowStride - rowBytes, static_cast<char>(0xEE)));
    }
    QByteArray out;
    out.append("#if defined(LV_LVGL_H_INCLUDE_SIMPLE)\n"
               "#include \"lvgl.h\"\n"
               "#elif defined(LV_BUILD_TEST)\n"
               "#include \"../lvgl.h\"\n"
               "#else\n"
               "#include \"lvgl/lvgl.h\"\n"
               "#endif\n\n"
               "#ifndef LV_ATTRIBUTE_MEM_ALIGN\n#define LV_ATTRIBUTE_MEM_ALIGN\n#endif\n\n"
               "static const\nLV_ATTRIBUTE_MEM_ALIGN LV_ATTRIBUTE_LARGE_CONST\nuint8_t "
        + id + "_map[] = {\n");
    appendRows(out, data, rowStride, "    ", ",");
    out.append("\n};\n\n");
    const QByteArray w = QByteArray::number(width);
    const QByteArray h = QByteArray::number(height);
    const QByteArray s = QByteArray::number(rowStride);
    out.append("const lv_image_dsc_t " + id + " = {\n");
    if (nestedHeader) {
        out.append("  .header = {\n"
                   "    .magic = LV_IMAGE_HEADER_MAGIC,\n"
                   "    .cf = "
            + colorFormat
            + ",\n"
              "    .flags = 0,\n"
              "    .w = "
            + w
            + ",\n"
              "    .h = "
            + h
            + ",\n"
              "    .stride = "
            + s
            + ",\n"
              "    .reserved_2 = 0,\n"
              "  },\n");
    } else {
        out.append("  .header.magic = LV_IMAGE_HEADER_MAGIC,\n"
                   "  .header.cf = "
            + colorFormat
            + ",\n"
              "  .header.flags = 0,\n"
              "  .header.w = "
            + w
            + ",\n"
              "  .header.h = "
            + h
            + ",\n"
              "  .header.stride = "
            + s
            + ",\n"
              "  .header.reserved_2 = 0,\n");
    }
    out.append("  .data_size = sizeof(" + id
        + "_map),\n"
          "  .data = "
        + id
        + "_map,\n"
          "  .reserved = NULL,\n"
          "};\n");
    return out;
}

bool PayloadWriter::writeFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

bool PayloadWriter::writeImageSource(
    const QString &path, const QString &name, int width, int height, const QByteArray &pixels)
{
    return writeFile(path, imageSource(name, width, height, pixels));
}

bool PayloadWriter::writeDemoPayload(const QString &dir, quint32 seed)
{
    struct Image {
        const char *file;
        const char *name;
        int width, height, imageName;
        quint32 seed;
    };
    const Image images[] = {
        { DemoLargeImage, "splash", 340, 230, 1, seed + 1 },
        { DemoSmallImage, "icon", 220, 165, 2, seed + 2 },
    };
    QJsonArray entries;
    for (const Image &image : images) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(image.file);
        if (!writeImageSource(path, QLatin1String(image.name), image.width, image.height,
                pixels(image.width, image.height, image.seed)))
            return false;
        entries.append(QJsonObject { { "FileName", QLatin1String(image.file) },
            { "ImageName", image.imageName }, { "ImageVersion", 1 } });
    }
    const QJsonObject settings { { "Version", QLatin1String(DemoVersion) }, { "Images", entries } };
    return writeFile(dir + QStringLiteral("/settings.json"), QJsonDocument(settings).toJson())
        && writeFile(dir + QStringLiteral("/fw1.bin"), firmware(FirmwareSize, seed));
}
