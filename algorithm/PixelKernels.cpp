#include "algorithm/PixelKernels.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Each listed function is compiled once per instruction set and picked when
// the program loads; elsewhere the plain build serves (NEON or scalar).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define ORU_CLONES __attribute__((target_clones("avx2", "ssse3", "default")))
#else
#define ORU_CLONES
#endif

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the byte lanes below assume little-endian 16-bit words");

namespace PixelKernels {
namespace {

typedef uint8_t u8x16 __attribute__((vector_size(16)));
typedef uint16_t u16x8 __attribute__((vector_size(16)));
typedef uint32_t u32x8 __attribute__((vector_size(32)));

inline u8x16 Load16(const uint8_t *p)
{
    u8x16 v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline void Store16(uint8_t *p, u8x16 v)
{
    memcpy(p, &v, sizeof v);
}

// Bytes 0, 2, 4, ... and 1, 3, 5, ... of a vector as 16-bit lanes.
inline u16x8 EvenBytes(u8x16 v)
{
    return (u16x8)v & 0xFF;
}

inline u16x8 OddBytes(u8x16 v)
{
    return (u16x8)v >> 8;
}

// Inverse of EvenBytes / OddBytes for lanes that hold values up to 255.
inline u8x16 Interleave(u16x8 even, u16x8 odd)
{
    return (u8x16)(even | (odd << 8));
}

inline u16x8 MulHi(u16x8 a, u16x8 b)
{
#if defined(__SSE2__)
    return (u16x8)_mm_mulhi_epu16((__m128i)a, (__m128i)b);
#else
    u32x8 product = __builtin_convertvector(a, u32x8) * __builtin_convertvector(b, u32x8);
    return __builtin_convertvector(product >> 16, u16x8);
#endif
}

inline unsigned MulHi(unsigned a, unsigned b)
{
    return (a * b) >> 16;
}

inline u16x8 Min(u16x8 a, u16x8 b)
{
    return a < b ? a : b;
}

inline unsigned Min(unsigned a, unsigned b)
{
    return a < b ? a : b;
}

// 1 where the value is 0, 125 or 250, else 0.
inline u16x8 WholeEntry(u16x8 v)
{
    return (u16x8)((v == 0) | (v == 125) | (v == 250)) & 1;
}

inline unsigned WholeEntry(unsigned v)
{
    return v == 0 || v == 125 || v == 250;
}

// min(255, v * gain / 50): the white-balance table entry, exact for v <= 255
// and gain <= 256 (v * gain fits 16 bits; 41944 / 2^20 divides by 25).
template <typename V>
inline V WhiteBalance(V v, V gain)
{
    V half = (V)((v * gain) >> 1);
    return Min(MulHi(half, V() + 41944) >> 4, V() + 255);
}

// Y8 = (YUV02990[b0] + YUV05870[b1] + YUV01140[b2]) >> 16. The entries are
// floor(b x n x 8192 / 125) for n = 257, 504, 98, so the sum is
// (8192 N - r) / 125 with N = 257 b0 + 504 b1 + 98 b2 and 0 <= r < 8192, r = 0
// only when every channel is 0, 125 or 250. Hence Y8 = (N - d) / 1000 with
// d = 1 unless r = 0; computed as ((N - d) / 8) / 125 in 16-bit lanes, the
// division by 125 exact by multiply-high for quotients below 2^15.
template <typename V>
inline V Luma(V b0, V b1, V b2)
{
    V d = 1 - (WholeEntry(b0) & WholeEntry(b1) & WholeEntry(b2));
    V eighth = 63 * b1 + 32 * b0 + ((b0 + 98 * b2 + 8 - d) >> 3) - 1;
    return MulHi(eighth, V() + 33555) >> 6;
}

// Samples x - 1, x, x + 1, x + 2 of one row around an even x.
template <typename V>
struct Taps {
    V m, e, o, p;
};

template <typename V>
struct Pixel {
    V b0, b1, b2;
};

// Bilinear colours of the pixel pair (x, x + 1) of an interior row.
template <typename V>
inline void PairColours(const Taps<V> &u, const Taps<V> &c, const Taps<V> &d, const BayerRow &row,
                        V gain0, V gain2, Pixel<V> &first, Pixel<V> &second)
{
    V colour, colourGreen, colourOther, green, greenColour, greenOther;
    if (row.colourFirst) {
        colour = c.e;
        colourGreen = (c.m + c.o + u.e + d.e) >> 2;
        colourOther = (u.m + u.o + d.m + d.o) >> 2;
        green = c.o;
        greenColour = (c.e + c.p) >> 1;
        greenOther = (u.o + d.o) >> 1;
    } else {
        colour = c.o;
        colourGreen = (c.e + c.p + u.o + d.o) >> 2;
        colourOther = (u.e + u.p + d.e + d.p) >> 2;
        green = c.e;
        greenColour = (c.m + c.o) >> 1;
        greenOther = (u.e + d.e) >> 1;
    }
    Pixel<V> &colourPixel = row.colourFirst ? first : second;
    Pixel<V> &greenPixel = row.colourFirst ? second : first;
    colourPixel.b1 = colourGreen;
    greenPixel.b1 = green;
    colourPixel.b0 = row.s0Row ? colour : colourOther;
    colourPixel.b2 = row.s0Row ? colourOther : colour;
    greenPixel.b0 = row.s0Row ? greenColour : greenOther;
    greenPixel.b2 = row.s0Row ? greenOther : greenColour;
    if (row.gain0 >= 0) {
        first.b0 = WhiteBalance(first.b0, gain0);
        second.b0 = WhiteBalance(second.b0, gain0);
    }
    if (row.gain2 >= 0) {
        first.b2 = WhiteBalance(first.b2, gain2);
        second.b2 = WhiteBalance(second.b2, gain2);
    }
}

inline Taps<u16x8> VectorTaps(const uint8_t *row, int x)
{
    u8x16 middle = Load16(row + x);
    return {OddBytes(Load16(row + x - 2)), EvenBytes(middle), OddBytes(middle),
            EvenBytes(Load16(row + x + 2))};
}

inline Taps<unsigned> ScalarTaps(const uint8_t *row, int x)
{
    return {row[x - 1], row[x], row[x + 1], row[x + 2]};
}

// Walks the interior of a row: eight pixel pairs per vector step while the
// loads stay inside the row, single pairs after that.
template <typename VectorStep, typename ScalarStep>
inline void WalkPairs(const BayerRow &row, VectorStep vectorStep, ScalarStep scalarStep)
{
    int x = row.begin;
    for (; x + 16 <= row.end && x + 18 <= row.width; x += 16) {
        Pixel<u16x8> first, second;
        PairColours(VectorTaps(row.up, x), VectorTaps(row.cur, x), VectorTaps(row.down, x), row,
                    u16x8() + uint16_t(row.gain0), u16x8() + uint16_t(row.gain2), first, second);
        vectorStep(x, first, second);
    }
    for (; x < row.end; x += 2) {
        Pixel<unsigned> first, second;
        PairColours(ScalarTaps(row.up, x), ScalarTaps(row.cur, x), ScalarTaps(row.down, x), row,
                    unsigned(row.gain0), unsigned(row.gain2), first, second);
        scalarStep(x, first, second);
    }
}

// Three planes of 16 bytes as 16 pixels of three bytes.
inline void StoreRGB24(uint8_t *out, u8x16 p0, u8x16 p1, u8x16 p2)
{
    u8x16 t = __builtin_shufflevector(p0, p1, 0, 16, 0, 1, 17, 0, 2, 18, 0, 3, 19, 0, 4, 20, 0, 5);
    Store16(out, __builtin_shufflevector(t, p2, 0, 1, 16, 3, 4, 17, 6, 7, 18, 9, 10, 19, 12, 13,
                                         20, 15));
    t = __builtin_shufflevector(p0, p1, 21, 0, 6, 22, 0, 7, 23, 0, 8, 24, 0, 9, 25, 0, 10, 26);
    Store16(out + 16, __builtin_shufflevector(t, p2, 0, 21, 2, 3, 22, 5, 6, 23, 8, 9, 24, 11, 12,
                                              25, 14, 15));
    t = __builtin_shufflevector(p0, p1, 0, 11, 27, 0, 12, 28, 0, 13, 29, 0, 14, 30, 0, 15, 31, 0);
    Store16(out + 32, __builtin_shufflevector(t, p2, 26, 1, 2, 27, 4, 5, 28, 7, 8, 29, 10, 11, 30,
                                              13, 14, 31));
}

inline void StorePixel(uint8_t *out, const Pixel<unsigned> &pixel)
{
    out[0] = uint8_t(pixel.b0);
    out[1] = uint8_t(pixel.b1);
    out[2] = uint8_t(pixel.b2);
}

} // namespace

ORU_CLONES void DemosaicRGB24(const BayerRow &row, uint8_t *out)
{
    WalkPairs(
        row,
        [out](int x, const Pixel<u16x8> &first, const Pixel<u16x8> &second) {
            StoreRGB24(out + 3 * x, Interleave(first.b0, second.b0),
                       Interleave(first.b1, second.b1), Interleave(first.b2, second.b2));
        },
        [out](int x, const Pixel<unsigned> &first, const Pixel<unsigned> &second) {
            StorePixel(out + 3 * x, first);
            StorePixel(out + 3 * x + 3, second);
        });
}

ORU_CLONES void DemosaicY8(const BayerRow &row, uint8_t *out)
{
    WalkPairs(
        row,
        [out](int x, const Pixel<u16x8> &first, const Pixel<u16x8> &second) {
            Store16(out + x, Interleave(Luma(first.b0, first.b1, first.b2),
                                        Luma(second.b0, second.b1, second.b2)));
        },
        [out](int x, const Pixel<unsigned> &first, const Pixel<unsigned> &second) {
            out[x] = uint8_t(Luma(first.b0, first.b1, first.b2));
            out[x + 1] = uint8_t(Luma(second.b0, second.b1, second.b2));
        });
}

ORU_CLONES void Lookup8(uint8_t *buf, const uint8_t *table, size_t count)
{
    size_t i = 0;
    for (; i + 8 <= count; i += 8) {
        uint64_t in, out = 0;
        memcpy(&in, buf + i, 8);
        for (int k = 0; k < 8; ++k)
            out |= uint64_t(table[(in >> (8 * k)) & 0xFF]) << (8 * k);
        memcpy(buf + i, &out, 8);
    }
    for (; i < count; ++i)
        buf[i] = table[buf[i]];
}

void Lookup16(uint16_t *buf, const uint16_t *table, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        buf[i] = table[buf[i]];
}

ORU_CLONES void SubtractDark8(uint8_t *img, const uint8_t *dark, size_t count, uint32_t offset)
{
    if (offset >= 255) {
        memset(img, 255, count);
        return;
    }
    // min(255, d + offset) == min(d, 255 - offset) + offset without overflow.
    const uint8_t add = uint8_t(offset), limit = uint8_t(255 - offset);
    for (size_t i = 0; i < count; ++i) {
        uint8_t a = img[i], b = dark[i];
        uint8_t d = uint8_t(std::max(a, b) - b);
        img[i] = uint8_t(std::min(d, limit) + add);
    }
}

namespace {

template <typename T>
inline void ReverseTemp(T *buf, size_t count)
{
    // Blocks from both ends, reversed through small local copies.
    enum { BLOCK = 64 / sizeof(T) };
    size_t lo = 0, hi = count;
    while (hi - lo >= 2 * BLOCK) {
        T front[BLOCK], back[BLOCK];
        for (int k = 0; k < BLOCK; ++k) {
            front[k] = buf[hi - 1 - k];
            back[k] = buf[lo + BLOCK - 1 - k];
        }
        memcpy(buf + lo, front, sizeof front);
        memcpy(buf + hi - BLOCK, back, sizeof back);
        lo += BLOCK;
        hi -= BLOCK;
    }
    std::reverse(buf + lo, buf + hi);
}

} // namespace

ORU_CLONES void Reverse8(uint8_t *buf, size_t count)
{
    ReverseTemp(buf, count);
}

ORU_CLONES void Reverse16(uint16_t *buf, size_t count)
{
    ReverseTemp(buf, count);
}

ORU_CLONES void SwapBytes(uint8_t *a, uint8_t *b, size_t count)
{
    uint8_t tmp[256];
    size_t i = 0;
    for (; i + sizeof tmp <= count; i += sizeof tmp) {
        memcpy(tmp, a + i, sizeof tmp);
        memcpy(a + i, b + i, sizeof tmp);
        memcpy(b + i, tmp, sizeof tmp);
    }
    memcpy(tmp, a + i, count - i);
    memcpy(a + i, b + i, count - i);
    memcpy(b + i, tmp, count - i);
}

namespace {

enum { BIN_CHUNK = 64 };

// Outputs [c0, c0 + n) of one binned row. The block sums go to a local array
// first: with in-place binning, row 0's outputs overwrite inputs that only
// earlier outputs read.
template <int BIN, typename T, typename Sum, typename Finish>
inline void BinChunk(const T *in, size_t rowLength, int bin, T *out, int c0, int n, Finish finish)
{
    const int b = BIN ? BIN : bin;
    Sum acc[BIN_CHUNK] = {};
    for (int r = 0; r < b; ++r) {
        const T *src = in + r * rowLength + size_t(c0) * b;
        for (int j = 0; j < n; ++j)
            for (int k = 0; k < b; ++k)
                acc[j] += src[j * b + k];
    }
    T result[BIN_CHUNK];
    for (int j = 0; j < n; ++j)
        result[j] = finish(acc[j]);
    memcpy(out + c0, result, n * sizeof(T));
}

template <int BIN, typename T, typename Sum, typename Finish>
inline void BinRow(const T *in, size_t rowLength, int bin, T *out, int width, Finish finish)
{
    for (int c0 = 0; c0 < width; c0 += BIN_CHUNK)
        BinChunk<BIN, T, Sum>(in, rowLength, bin, out, c0, std::min<int>(BIN_CHUNK, width - c0),
                              finish);
}

} // namespace

ORU_CLONES void MonoBinRow8(const uint8_t *in, size_t rowLength, int bin, uint8_t *out, int width)
{
    auto limit = [](uint32_t sum) { return uint8_t(std::min<uint32_t>(sum, 255)); };
    switch (bin) {
    case 2: return BinRow<2, uint8_t, uint16_t>(in, rowLength, bin, out, width, limit);
    case 3: return BinRow<3, uint8_t, uint16_t>(in, rowLength, bin, out, width, limit);
    case 4: return BinRow<4, uint8_t, uint16_t>(in, rowLength, bin, out, width, limit);
    default: return BinRow<0, uint8_t, uint32_t>(in, rowLength, bin, out, width, limit);
    }
}

ORU_CLONES void MonoBinRow16(const uint16_t *in, size_t rowLength, int bin, uint16_t *out,
                             int width)
{
    switch (bin) {
    case 2:
        return BinRow<2, uint16_t, uint32_t>(in, rowLength, bin, out, width,
                                             [](uint32_t sum) { return uint16_t(sum / 4); });
    case 3:
        return BinRow<3, uint16_t, uint32_t>(in, rowLength, bin, out, width,
                                             [](uint32_t sum) { return uint16_t(sum / 9); });
    case 4:
        return BinRow<4, uint16_t, uint32_t>(in, rowLength, bin, out, width,
                                             [](uint32_t sum) { return uint16_t(sum / 16); });
    default: {
        const uint64_t area = uint64_t(bin) * bin;
        return BinRow<0, uint16_t, uint64_t>(in, rowLength, bin, out, width, [area](uint64_t sum) {
            return uint16_t(std::min<uint64_t>(sum / area, 65535));
        });
    }
    }
}

} // namespace PixelKernels
