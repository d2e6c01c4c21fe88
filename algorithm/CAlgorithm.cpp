#include "algorithm/CAlgorithm.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "algorithm/PixelKernels.h"

namespace {

// Channel map and swapped map of each Bayer pattern (index x + 2y).
const int32_t CHANNEL_MAPS[4][4] = {{0, 1, 1, 2}, {2, 1, 1, 0}, {1, 0, 2, 1}, {1, 2, 0, 1}};
const int32_t SWAPPED_MAPS[4][4] = {{2, 1, 1, 0}, {0, 1, 1, 2}, {1, 2, 0, 1}, {1, 0, 2, 1}};

uint8_t WBEntry(int i, int gain)
{
    return uint8_t(std::clamp<int64_t>(int64_t(i) * gain / 50, 0, 255));
}

// Cells of the top and bottom cell rows, the first cell and (even width) the
// last cell are border cells; the pixels [2, end) of the others have all
// their neighbours.
int InteriorEnd(int width, int height, int y)
{
    if (y == 0 || y == height - 2)
        return 2;
    return (width & 1) ? width - 1 : width - 2;
}

void FillTable(int32_t *table, double coefficient)
{
    const double scale = 65536 * coefficient;
    for (int i = 0; i < 256; ++i)
        table[i] = int32_t(i * scale);
}

} // namespace

CAlgorithm::CAlgorithm()
    : YUV02990(), YUV05870(), YUV01140(), YUV0439(), YUV03316(), YUV01684(), YUV00813(), YUV04187(),
      m_iWBRTable(), m_iWBBTable(), m_BlockBuf(), m_SitePos(), m_SrcOffset(), m_OutOffset(),
      m_iBayerPattern(0), m_bSitesValid(false), m_bWBActive(false), m_bFlipVert(false),
      m_bFlipHoriz(false), m_iWBGain0(0), m_iWBGain2(0)
{
    // Pattern 0 until SetBayer, so a conversion before it still has a mosaic.
    memcpy(m_ChannelMap, CHANNEL_MAPS[0], sizeof m_ChannelMap);
    memcpy(m_SwappedMap, SWAPPED_MAPS[0], sizeof m_SwappedMap);
}

CAlgorithm::~CAlgorithm() = default;

void CAlgorithm::RGBYUV_Init()
{
    FillTable(YUV02990, 0.257);
    FillTable(YUV05870, 0.504);
    FillTable(YUV01140, 0.098);
    FillTable(YUV0439, 0.439);
    FillTable(YUV03316, 0.368);
    FillTable(YUV01684, 0.071);
    FillTable(YUV00813, 0.148);
    FillTable(YUV04187, 0.291);
    SetRGBWB(50, 50);
}

void CAlgorithm::SetRGBWB(int first, int second)
{
    for (int i = 0; i < 256; ++i) {
        m_iWBRTable[i] = WBEntry(i, second);
        m_iWBBTable[i] = WBEntry(i, first);
    }
    m_iWBGain0 = second;
    m_iWBGain2 = first;
    m_bWBActive = first != 50 || second != 50;
}

void CAlgorithm::SetBayer(BayerPattern pattern)
{
    if (pattern < 0 || pattern > 3)
        return;
    m_iBayerPattern = pattern;
    memcpy(m_ChannelMap, CHANNEL_MAPS[pattern], sizeof m_ChannelMap);
    memcpy(m_SwappedMap, SWAPPED_MAPS[pattern], sizeof m_SwappedMap);
    // The cached sites belong to the old pattern even when the flips match.
    m_bSitesValid = false;
    FlipBayer(false, false);
}

void CAlgorithm::FlipBayer(bool vertical, bool horizontal)
{
    if (m_bSitesValid && m_bFlipVert == vertical && m_bFlipHoriz == horizontal)
        return;
    int32_t map[4];
    memcpy(map, m_SwappedMap, sizeof map);
    if (vertical && horizontal) {
        std::reverse(map, map + 4);
    } else if (horizontal) {
        std::swap(map[0], map[1]);
        std::swap(map[2], map[3]);
    } else if (vertical) {
        std::swap(map[0], map[2]);
        std::swap(map[1], map[3]);
    }
    m_bFlipVert = vertical;
    m_bFlipHoriz = horizontal;

    int s0 = 0, s2 = 0;
    for (int i = 0; i < 4; ++i) {
        if (map[i] == 0)
            s0 = i;
        else if (map[i] == 2)
            s2 = i;
    }
    // Greens share a column with one colour site each; G1 is the one under or
    // over the byte-0 site.
    const int g1 = (s0 & 1) + 2 * (1 - s0 / 2);
    const int g2 = (s2 & 1) + 2 * (1 - s2 / 2);
    const int sites[4] = {g1, g2, s0, s2};
    for (int k = 0; k < 4; ++k) {
        m_SitePos[2 * k] = sites[k] & 1;
        m_SitePos[2 * k + 1] = sites[k] / 2;
    }
    m_bSitesValid = true;
}

void CAlgorithm::SetWidth(int sourceWidth, int outputWidth)
{
    for (int k = 0; k < 4; ++k) {
        m_SrcOffset[k] = m_SitePos[2 * k] + m_SitePos[2 * k + 1] * sourceWidth;
        m_OutOffset[k] = m_SitePos[2 * k] + m_SitePos[2 * k + 1] * outputWidth;
    }
}

void CAlgorithm::NearestCell(const uint8_t *src, int index, const int32_t *offsets,
                             const uint8_t *table0, const uint8_t *table2,
                             uint8_t (&pixels)[4][3]) const
{
    const unsigned g1 = src[index + offsets[SITE_G1]];
    const unsigned g2 = src[index + offsets[SITE_G2]];
    const uint8_t b0 = table0[src[index + offsets[SITE_S0]]];
    const uint8_t b2 = table2[src[index + offsets[SITE_S2]]];
    const unsigned greens[4] = {g1, g2, (g1 + g2) >> 1, (g1 + g2) >> 1};
    for (int k = 0; k < 4; ++k) {
        pixels[k][0] = b0;
        pixels[k][1] = uint8_t(greens[k]);
        pixels[k][2] = b2;
    }
}

void CAlgorithm::BayerCopy(uint8_t *src, int, int index, uint8_t *dst)
{
    uint8_t pixels[4][3];
    NearestCell(src, index, m_SrcOffset, m_iWBRTable, m_iWBBTable, pixels);
    for (int k = 0; k < 4; ++k)
        memcpy(dst + 3 * (index + m_SrcOffset[k]), pixels[k], 3);
}

void CAlgorithm::BayerCopyToTemp(uint8_t *src, int x, int y, int index)
{
    uint8_t pixels[4][3];
    NearestCell(src, index, m_SrcOffset, m_iWBRTable, m_iWBBTable, pixels);
    for (int k = 0; k < 4; ++k) {
        const int px = (m_SitePos[2 * k] + x) % 2, py = (m_SitePos[2 * k + 1] + y) % 2;
        memcpy(m_BlockBuf + 3 * (px + 2 * py), pixels[k], 3);
    }
}

void CAlgorithm::BayerBilinear(uint8_t *src, int index, int width, uint8_t *dst)
{
    for (int k = 0; k < 4; ++k) {
        const uint8_t *s = src + index + m_SrcOffset[k];
        const unsigned own = s[0];
        const unsigned horizontal = s[-1] + s[1];
        const unsigned vertical = s[-width] + s[width];
        const unsigned diagonal = s[-width - 1] + s[-width + 1] + s[width - 1] + s[width + 1];
        unsigned b0, b1, b2;
        switch (k) {
        case SITE_G1: b0 = vertical >> 1, b1 = own, b2 = horizontal >> 1; break;
        case SITE_G2: b0 = horizontal >> 1, b1 = own, b2 = vertical >> 1; break;
        case SITE_S0: b0 = own, b1 = (horizontal + vertical) >> 2, b2 = diagonal >> 2; break;
        default: b0 = diagonal >> 2, b1 = (horizontal + vertical) >> 2, b2 = own; break;
        }
        uint8_t *pixel = dst + 3 * m_OutOffset[k];
        pixel[0] = uint8_t(b0);
        pixel[1] = uint8_t(b1);
        pixel[2] = uint8_t(b2);
        if (m_bWBActive) {
            pixel[0] = m_iWBRTable[pixel[0]];
            pixel[2] = m_iWBBTable[pixel[2]];
        }
    }
}

uint8_t CAlgorithm::Y8Of(const uint8_t *pixel) const
{
    return uint8_t((YUV02990[pixel[0]] + YUV05870[pixel[1]] + YUV01140[pixel[2]]) >> 16);
}

void CAlgorithm::RGBTemp2Y8(uint8_t *dst, int x, int y, int width)
{
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 2; ++i)
            dst[(y + j) * width + x + i] = Y8Of(m_BlockBuf + 3 * (i + 2 * j));
}

// Words of a row of RGB24 pixels, pair by pair; both chroma values come from
// the left pixel of a pair. A last single pixel gets its own first chroma.
void CAlgorithm::RGB24RowToYUV(const uint8_t *rgb, uint8_t *yuv, int width) const
{
    for (int x = 0; x < width; x += 2) {
        const uint8_t *left = rgb + 3 * x;
        const int ca = ((YUV0439[left[0]] - YUV01684[left[2]] - YUV03316[left[1]]) >> 16) + 128;
        yuv[2 * x] = uint8_t(Y8Of(left) + 16);
        yuv[2 * x + 1] = uint8_t(ca);
        if (x + 1 < width) {
            const int cb = ((YUV0439[left[2]] - YUV00813[left[0]] - YUV04187[left[1]]) >> 16) + 128;
            yuv[2 * x + 2] = uint8_t(Y8Of(left + 3) + 16);
            yuv[2 * x + 3] = uint8_t(cb);
        }
    }
}

void CAlgorithm::RGBTemp2YUV2(uint8_t *dst, int x, int y, int width, bool)
{
    for (int j = 0; j < 2; ++j)
        RGB24RowToYUV(m_BlockBuf + 6 * j, dst + 2 * ((y + j) * width + x), 2);
}

void CAlgorithm::CopyLastLine(uint8_t *dst, int rows, int rowBytes)
{
    // With no row above there is nothing to copy.
    if (dst == nullptr || rows < 1 || rowBytes <= 0)
        return;
    memcpy(dst + size_t(rows) * rowBytes, dst + size_t(rows - 1) * rowBytes, rowBytes);
}

void CAlgorithm::PrepareConversion(int width, Conversion &conv) const
{
    for (int k = 0; k < 4; ++k) {
        const int x = m_SitePos[2 * k], y = m_SitePos[2 * k + 1];
        conv.srcOffsets[k] = x + y * width;
        conv.blockOffsets[k] = x + y * 2;
    }
    const int gain0 = m_iWBGain0, gain2 = m_iWBGain2;
    const bool active = m_bWBActive;
    for (int i = 0; i < 256; ++i) {
        conv.table0[i] = WBEntry(i, gain0);
        conv.table2[i] = WBEntry(i, gain2);
    }
    auto kernelFactor = [active](int gain) {
        const bool inKernel = active && gain >= 0 && gain <= PixelKernels::MAX_KERNEL_GAIN;
        return inKernel ? PixelKernels::BalanceFactor(gain) : -1;
    };
    conv.balance0 = kernelFactor(gain0);
    conv.balance2 = kernelFactor(gain2);
    conv.lookup0 = active && conv.balance0 < 0;
    conv.lookup2 = active && conv.balance2 < 0;
}

PixelKernels::BayerRow CAlgorithm::KernelRow(const uint8_t *src, int width, int y, int end,
                                             const Conversion &conv) const
{
    const uint8_t *cur = src + size_t(y) * width;
    const int dy = y & 1;
    const bool s0Row = m_SitePos[2 * SITE_S0 + 1] == dy;
    const bool colourFirst = m_SitePos[2 * (s0Row ? SITE_S0 : SITE_S2)] == 0;
    return {cur - width, cur,           cur + width,  2, end, width, colourFirst,
            s0Row,       conv.balance0, conv.balance2};
}

void CAlgorithm::BorderCell(const uint8_t *src, int index, uint8_t *out, const int32_t *outOffsets,
                            const Conversion &conv) const
{
    uint8_t pixels[4][3];
    NearestCell(src, index, conv.srcOffsets, conv.table0, conv.table2, pixels);
    for (int k = 0; k < 4; ++k)
        memcpy(out + 3 * outOffsets[k], pixels[k], 3);
}

void CAlgorithm::InteriorRGB24(const uint8_t *src, int width, int y, int end, uint8_t *out,
                               const Conversion &conv) const
{
    for (int dy = 0; dy < 2; ++dy) {
        uint8_t *rowOut = out + size_t(dy) * width * 3;
        PixelKernels::DemosaicRGB24(KernelRow(src, width, y + dy, end, conv), rowOut);
        if (!conv.lookup0 && !conv.lookup2)
            continue;
        for (int x = 2; x < end; ++x) {
            uint8_t *pixel = rowOut + 3 * x;
            if (conv.lookup0)
                pixel[0] = conv.table0[pixel[0]];
            if (conv.lookup2)
                pixel[2] = conv.table2[pixel[2]];
        }
    }
}

void CAlgorithm::RowPairRGB24(const uint8_t *src, int width, int height, int y, uint8_t *out,
                              const Conversion &conv) const
{
    const int evenWidth = width & ~1;
    if (evenWidth < 2)
        return;
    const int end = InteriorEnd(width, height, y);
    BorderCell(src, y * width, out, conv.srcOffsets, conv);
    if (end > 2)
        InteriorRGB24(src, width, y, end, out, conv);
    for (int x = std::max(end, 2); x <= evenWidth - 2; x += 2)
        BorderCell(src, y * width + x, out + 3 * x, conv.srcOffsets, conv);
}

void CAlgorithm::RowPairY8(const uint8_t *src, int width, int height, int y, uint8_t *out,
                           const Conversion &conv, uint8_t *scratch) const
{
    const int evenWidth = width & ~1;
    if (conv.lookup0 || conv.lookup2) {
        RowPairRGB24(src, width, height, y, scratch, conv);
        for (int dy = 0; dy < 2; ++dy)
            for (int x = 0; x < evenWidth; ++x)
                out[dy * width + x] = Y8Of(scratch + 3 * (dy * width + x));
        return;
    }
    if (evenWidth < 2)
        return;
    const int end = InteriorEnd(width, height, y);
    auto borderCell = [&](int x) {
        uint8_t cell[12];
        BorderCell(src, y * width + x, cell, conv.blockOffsets, conv);
        for (int k = 0; k < 4; ++k)
            out[(k >> 1) * width + x + (k & 1)] = Y8Of(cell + 3 * k);
    };
    borderCell(0);
    for (int dy = 0; end > 2 && dy < 2; ++dy)
        PixelKernels::DemosaicY8(KernelRow(src, width, y + dy, end, conv),
                                 out + size_t(dy) * width);
    for (int x = std::max(end, 2); x <= evenWidth - 2; x += 2)
        borderCell(x);
}

void CAlgorithm::BayerConv(uint8_t *src, uint8_t *dst, int width, int height, IMAGE_TYPE type,
                           bool vertical, bool horizontal)
{
    if (src == nullptr)
        return;
    FlipBayer(vertical, horizontal);
    int pixelBytes;
    switch (type) {
    case IMAGE_TYPE_8BIT: pixelBytes = 1; break;
    case IMAGE_TYPE_RGB24: pixelBytes = 3; break;
    case IMAGE_TYPE_YUV422: pixelBytes = 2; break;
    default: return;
    }
    if (dst == nullptr || width < 1 || height < 1)
        return;
    SetWidth(width, type == IMAGE_TYPE_RGB24 ? width : 2);
    Conversion conv;
    PrepareConversion(width, conv);
    std::vector<uint8_t> scratch;
    if (type == IMAGE_TYPE_YUV422 || conv.lookup0 || conv.lookup2)
        scratch.resize(size_t(width) * 6);

    const int evenHeight = height & ~1;
    for (int y = 0; y + 2 <= evenHeight; y += 2) {
        const size_t first = size_t(y) * width;
        switch (type) {
        case IMAGE_TYPE_RGB24: RowPairRGB24(src, width, height, y, dst + 3 * first, conv); break;
        case IMAGE_TYPE_8BIT:
            RowPairY8(src, width, height, y, dst + first, conv, scratch.data());
            break;
        default:
            RowPairRGB24(src, width, height, y, scratch.data(), conv);
            for (int dy = 0; dy < 2; ++dy)
                RGB24RowToYUV(scratch.data() + 3 * dy * width, dst + 2 * (first + dy * width),
                              width & ~1);
            break;
        }
    }
    if (height & 1)
        CopyLastLine(dst, evenHeight, width * pixelBytes);
}

void CAlgorithm::MonoBin(uint8_t *buf8, uint16_t *buf16, int width, int height, int bin, bool is16)
{
    if (buf8 == nullptr || bin <= 1 || width <= 0 || height <= 0 || (is16 && buf16 == nullptr))
        return;
    // Output row r lies before input row r * bin, so rows go top down in place.
    const size_t rowLength = size_t(width) * bin;
    for (int r = 0; r < height; ++r) {
        const size_t in = size_t(r) * bin * rowLength, out = size_t(r) * width;
        if (is16)
            PixelKernels::MonoBinRow16(buf16 + in, rowLength, bin, buf16 + out, width);
        else
            PixelKernels::MonoBinRow8(buf8 + in, rowLength, bin, buf8 + out, width);
    }
}

// Every output is computed from original samples: in row-major order each
// output only overwrites samples that earlier outputs have read.
template <typename T>
void CAlgorithm::ColorRAWBinTemp(T *buf, int width, int height, int bin)
{
    const bool is16 = sizeof(T) == 2;
    const uint32_t limit = is16 ? 65535 : 255;
    const uint64_t area = uint64_t(bin) * bin;
    const size_t rowLength = size_t(width) * bin;
    const size_t total = rowLength * height * bin;
    const int innerRows = (height - 1) / 2 * 2, innerCols = (width - 1) / 2 * 2;
    // Odd inner rows and columns start one bin (rounded to even) further on.
    auto start = [bin](int i, bool inner) {
        return size_t(i & ~1) * bin + (i & 1) + (inner ? ((i & 1) * bin) & ~1 : 0);
    };
    auto binOne = [&](int r, int c) {
        const bool inner = r < innerRows && c < innerCols;
        const size_t first = start(r, inner) * rowLength + start(c, inner);
        uint64_t sum = 0, n = 0, value;
        for (int i = 0; i < bin; ++i) {
            for (int j = 0; j < bin; ++j) {
                const size_t index = first + 2 * i * rowLength + 2 * j;
                if (index < total) {
                    sum += buf[index];
                    ++n;
                }
            }
        }
        if (inner)
            value = is16 ? sum / area : sum;
        else
            value = is16 ? sum / n : area * (sum / n);
        buf[size_t(r) * width + c] = T(std::min<uint64_t>(value, limit));
    };
    // Row kernels for bins 2 to 4 take the columns before the right edge of
    // the inner rows, and of the bottom rows whose samples all lie inside.
    const bool rowKernel = bin <= 4;
    for (int r = 0; r < height; ++r) {
        int c = 0;
        const bool inner = r < innerRows;
        const size_t firstRow = start(r, inner);
        if (rowKernel && firstRow + 2 * (bin - 1) < size_t(height) * bin) {
            const T *first = buf + firstRow * rowLength;
            T *out = buf + size_t(r) * width;
            if constexpr (sizeof(T) == 2)
                PixelKernels::ColorBinRow16(first, rowLength, bin, inner, out, innerCols);
            else
                PixelKernels::ColorBinRow8(first, rowLength, bin, inner, out, innerCols);
            c = innerCols;
        }
        for (; c < width; ++c)
            binOne(r, c);
    }
}

void CAlgorithm::ColorRAWBin(uint8_t *buf8, uint16_t *buf16, int width, int height, int bin,
                             bool is16)
{
    if (buf8 == nullptr || bin <= 1 || width <= 0 || height <= 0 || (is16 && buf16 == nullptr))
        return;
    if (is16)
        ColorRAWBinTemp(buf16, width, height, bin);
    else
        ColorRAWBinTemp(buf8, width, height, bin);
}

void CAlgorithm::Gamma(uint8_t *buf, uint8_t *table, int width, int height)
{
    if (buf == nullptr || table == nullptr || width <= 0 || height <= 0)
        return;
    PixelKernels::Lookup8(buf, table, size_t(width) * height);
}

void CAlgorithm::Gamma(uint16_t *buf, uint16_t *table, int width, int height)
{
    if (buf == nullptr || table == nullptr || width <= 0 || height <= 0)
        return;
    PixelKernels::Lookup16(buf, table, size_t(width) * height);
}

template <typename T>
void CAlgorithm::SoftMiscTemp(T *buf, int width, int height, bool vertical, bool horizontal)
{
    const size_t count = size_t(width) * height;
    auto reverse = [](T *p, size_t n) {
        if constexpr (sizeof(T) == 1)
            PixelKernels::Reverse8(p, n);
        else
            PixelKernels::Reverse16(p, n);
    };
    if (vertical && horizontal) {
        reverse(buf, count);
        return;
    }
    if (horizontal) {
        for (int r = 0; r < height; ++r)
            reverse(buf + size_t(r) * width, width);
    }
    if (vertical) {
        for (int r = 0; r < height / 2; ++r)
            PixelKernels::SwapBytes(
                reinterpret_cast<uint8_t *>(buf + size_t(r) * width),
                reinterpret_cast<uint8_t *>(buf + size_t(height - 1 - r) * width),
                size_t(width) * sizeof(T));
    }
}

void CAlgorithm::SoftMisc(uint8_t *buf, int width, int height, bool is16, bool vertical,
                          bool horizontal)
{
    if (buf == nullptr || width <= 0 || height <= 0)
        return;
    if (is16)
        SoftMiscTemp(reinterpret_cast<uint16_t *>(buf), width, height, vertical, horizontal);
    else
        SoftMiscTemp(buf, width, height, vertical, horizontal);
}

void CAlgorithm::SubtractDark(uint8_t *img, int width, int height, uint32_t offset, uint8_t *dark)
{
    if (img == nullptr || dark == nullptr || width <= 0 || height <= 0)
        return;
    PixelKernels::SubtractDark8(img, dark, size_t(width) * height, offset);
}

void CAlgorithm::Get_variance_ave_RAW(const uint8_t *raw, int x0, int y0, int areaWidth,
                                      int areaHeight, int stride, int, int *deviation, int *average,
                                      bool is16)
{
    if (raw == nullptr || deviation == nullptr || average == nullptr)
        return;
    const float stepX = areaWidth / 10.0f, stepY = areaHeight / 10.0f;
    const uint16_t *raw16 = reinterpret_cast<const uint16_t *>(raw);
    // Each sampled value with its channel, in the order of both passes.
    auto forEachSample = [&](auto visit) {
        for (int j = 0; j < 10; ++j) {
            const int y = int(j * stepY) + y0;
            for (int i = 0; i < 10; ++i) {
                const int x = int(i * stepX) + x0;
                for (int k = 0; k < 4; ++k) {
                    const int px = x + (k & 1), py = y + (k >> 1);
                    const size_t index = size_t(px) + size_t(py) * stride;
                    visit(m_ChannelMap[(px & 1) + 2 * (py & 1)], is16 ? raw16[index] : raw[index]);
                }
            }
        }
    };
    int64_t sum[3] = {}, count[3] = {};
    forEachSample([&](int channel, unsigned v) {
        sum[channel] += v;
        ++count[channel];
    });
    int64_t mean[3];
    for (int k = 0; k < 3; ++k) {
        if (is16)
            sum[k] >>= 8;
        mean[k] = sum[k] / (count[k] + 1);
        average[k] = int(std::min<int64_t>(mean[k], 255));
    }
    int64_t spread[3] = {}, count2[3] = {};
    forEachSample([&](int channel, unsigned v) {
        if (is16)
            v >>= 8;
        spread[channel] += std::llabs(int64_t(v) - mean[channel]);
        ++count2[channel];
    });
    for (int k = 0; k < 3; ++k)
        deviation[k] = int(spread[k] * 10 / (count2[k] + 1));
}

void CAlgorithm::RGB2Y8(uint8_t *rgb, uint8_t *y, int width, int height)
{
    if (rgb == nullptr || y == nullptr || width <= 0 || height <= 0)
        return;
    const size_t count = size_t(width) * height;
    for (size_t i = 0; i < count; ++i)
        y[i] = Y8Of(rgb + 3 * i);
}

void CAlgorithm::RGB2R8(uint8_t *rgb, uint8_t *out, int width, int height)
{
    if (rgb == nullptr || out == nullptr || width <= 0 || height <= 0)
        return;
    const size_t count = size_t(width) * height;
    for (size_t i = 0; i < count; ++i)
        out[i] = rgb[3 * i];
}

void CAlgorithm::RGB2YUV2(uint8_t *rgb, uint8_t *yuv, int width, int height, bool bottomUp)
{
    if (rgb == nullptr || yuv == nullptr || width <= 0 || height <= 0)
        return;
    for (int r = 0; r < height; ++r) {
        const int from = bottomUp ? height - 1 - r : r;
        RGB24RowToYUV(rgb + size_t(from) * width * 3, yuv + size_t(r) * width * 2, width);
    }
}
