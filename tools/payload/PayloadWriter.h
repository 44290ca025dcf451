#pragma once
// Writes what the tool reads: display image source files in the shape of the
// files in use (and, for tests, the shapes other converter generations write),
// firmware images and a complete demo payload folder. All content is
// deterministic: the same seed always gives the same bytes.
#include <QByteArray>
#include <QString>

class PayloadWriter
{
public:
    // Size of fw1.bin: unit addresses 0x1000 to 0xDFFFF, 223 sectors of 4096 bytes.
    static constexpr int FirmwareSize = 913408;

    // Demo payload contents (see writeDemoPayload).
    static const char *const DemoVersion; // settings.json "Version"
    static const char *const DemoLargeImage; // file name of the 340 x 230 image
    static const char *const DemoSmallImage; // file name of the 220 x 165 image

    // Pseudo-random bytes: `size` bytes from `seed` (xorshift32).
    static QByteArray firmware(int size, quint32 seed);

    // Pseudo-random 16-bit 5-6-5 colour pixels, low byte first, row by row:
    // width x height x 2 bytes.
    static QByteArray pixels(int width, int height, quint32 seed);

    // Image source text in the shape of the files in use: a declaration line
    // "const LV_ATTRIBUTE_MEM_ALIGN ... uint8_t <name>_map[] = {", values
    // written "0x%02x, " with one row of width x 2 values per line, and a flat
    // "const lv_img_dsc_t <name>" descriptor. `pixels` are written as given.
    static QByteArray imageSource(
        const QString &name, int width, int height, const QByteArray &pixels);

    // LVGL 8 converter output ("true color"): four colour-depth sections inside
    // the array (8-bit 3-3-2, 16-bit 5-6-5, 16-bit swapped, 32-bit), each
    // derived from the 5-6-5 `pixels`, and a flat descriptor with ".header.cf"
    // last. `colorFormat` is written as ".header.cf".
    static QByteArray lvgl8Source(const QString &name, int width, int height,
        const QByteArray &pixels, const QByteArray &colorFormat = "LV_IMG_CF_TRUE_COLOR");

    // LVGL 9 converter output: one section, a flat header (9.0 to 9.2) or the
    // nested ".header = { ... }" block (9.3 and later). With `stride` larger
    // than width x 2 every row is padded with 0xEE bytes up to `stride`;
    // 0 means width x 2.
    static QByteArray lvgl9Source(const QString &name, int width, int height,
        const QByteArray &pixels, bool nestedHeader, int stride = 0,
        const QByteArray &colorFormat = "LV_COLOR_FORMAT_RGB565");

    // Writes bytes to path, creating its folder; false on any failure.
    static bool writeFile(const QString &path, const QByteArray &bytes);

    // Writes imageSource(name, width, height, pixels) to path.
    static bool writeImageSource(
        const QString &path, const QString &name, int width, int height, const QByteArray &pixels);

    // Writes into dir (created when missing): fw1.bin (FirmwareSize bytes of
    // firmware(FirmwareSize, seed)), settings.json with "Version" DemoVersion
    // and two "Images" entries, DemoLargeImage (340 x 230, ImageName 1) and
    // DemoSmallImage (220 x 165, ImageName 2), both ImageVersion 1, holding
    // pixels(w, h, seed + 1) and pixels(w, h, seed + 2).
    static bool writeDemoPayload(const QString &dir, quint32 seed);
};
