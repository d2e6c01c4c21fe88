#include "PixelLayout.h"

#include <utility>

namespace oru_indi {

void BgrToRgbPlanes(const uint8_t *bgr, uint8_t *planes, size_t pixels)
{
    uint8_t *red = planes;
    uint8_t *green = planes + pixels;
    uint8_t *blue = planes + 2 * pixels;
    for (size_t i = 0; i < pixels; ++i) {
        blue[i] = bgr[3 * i];
        green[i] = bgr[3 * i + 1];
        red[i] = bgr[3 * i + 2];
    }
}

void BgrToRgbInPlace(uint8_t *pixels, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        std::swap(pixels[3 * i], pixels[3 * i + 2]);
}

std::string BayerPatternName(ORU_BAYER_PATTERN pattern, bool flipHorizontal, bool flipVertical)
{
    // The 2 x 2 cell row by row. Frames are an even number of pixels wide
    // and high, so a mirror swaps the cell's columns or rows.
    static const char *const kCells[] = {"RGGB", "BGGR", "GRBG", "GBRG"};
    const int index = static_cast<int>(pattern);
    std::string cell = kCells[index >= 0 && index < 4 ? index : 0];
    if (flipHorizontal) {
        std::swap(cell[0], cell[1]);
        std::swap(cell[2], cell[3]);
    }
    if (flipVertical) {
        std::swap(cell[0], cell[2]);
        std::swap(cell[1], cell[3]);
    }
    return cell;
}

int BytesPerPixel(ORU_IMG_TYPE type)
{
    switch (type) {
    case ORU_IMG_RGB24: return 3;
    case ORU_IMG_RAW16: return 2;
    default: return 1;
    }
}

} // namespace oru_indi
