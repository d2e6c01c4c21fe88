// Buffers of the dark and hot-pixel maps and the pixel repairs both parts
// share, for 8- and 16-bit frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace PixelMapTools {

// Allocates a zeroed buffer on first use; false when memory is short.
template <typename T>
bool EnsureBuffer(std::unique_ptr<T[]> &buffer, size_t count)
{
    if (!buffer)
        buffer.reset(new (std::nothrow) T[count]());
    return buffer != nullptr;
}

// Integer mean of the same-colour neighbours of pixel (x, y) = index that are
// inside the frame and either not hot or already repaired (index not above).
template <typename Pixel>
void DeNoisePixel(Pixel *pixels, const uint8_t *hotMap, int width, int height, int d, int x, int y,
                  int index)
{
    const int neighbours[4][2] = {{x, y - d}, {x - d, y}, {x + d, y}, {x, y + d}};
    int sum = 0, count = 0;
    for (const auto &n : neighbours) {
        if (n[0] < 0 || n[0] >= width || n[1] < 0 || n[1] >= height)
            continue;
        const int ni = n[1] * width + n[0];
        if (hotMap[ni] && ni > index)
            continue;
        sum += pixels[ni];
        ++count;
    }
    pixels[index] = count ? Pixel(sum / count) : pixels[index - 1];
}

// Replaces each listed pixel from its same-colour neighbours at distance d:
// from the right / below at the top and left edges, from the left at the
// bottom and right edges, otherwise the pair mean (or the interior repair).
template <typename Pixel, typename Interior>
void RepairListed(Pixel *pixels, const int *list, int count, int width, int height, int d,
                  Interior interior)
{
    const int total = width * height;
    for (int n = 0; n < count; ++n) {
        const int i = list[n];
        if (i < 0 || i >= total)
            continue;
        const int x = i % width, y = i / width;
        if (x < d || y < d) {
            if (i + d < total)
                pixels[i] = pixels[i + d];
        } else if (x >= width - d || y >= height - d) {
            pixels[i] = pixels[i - d];
        } else {
            interior(x, y, i);
        }
    }
}

// Rows flagged bad take the mean of the nearest good rows d, 2d, ... above and
// below, or a copy of the one that exists.
template <typename Pixel>
void RepairBadRows(Pixel *pixels, const int *badRows, int width, int height, int d)
{
    for (int y = 0; y < height; ++y) {
        if (!badRows[y])
            continue;
        int above = y - d, below = y + d;
        while (above >= 0 && badRows[above])
            above -= d;
        while (below < height && badRows[below])
            below += d;
        Pixel *row = pixels + size_t(y) * width;
        const Pixel *a = above >= 0 ? pixels + size_t(above) * width : nullptr;
        const Pixel *b = below < height ? pixels + size_t(below) * width : nullptr;
        if (a && b) {
            for (int x = 0; x < width; ++x)
                row[x] = Pixel((a[x] + b[x]) >> 1);
        } else if (a || b) {
            std::memmove(row, a ? a : b, size_t(width) * sizeof(Pixel));
        }
    }
}

} // namespace PixelMapTools
