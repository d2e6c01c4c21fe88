// Vector helpers and the Bayer row kernels, for the translation units that
// build them for one instruction set each. Everything here has internal
// linkage: each including file gets its own copy, compiled for its own target.
#pragma once

#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

// x86-64 with GCC: intrinsics, run-time dispatch and target clones.
#if defined(__x86_64__) && defined(__SSE2__) && defined(__GNUC__) && !defined(__clang__)
#define ORU_X86_KERNELS 1
#endif

#include "algorithm/PixelKernels.h"

// 32-byte vectors only pass between inlined helpers of one file, never
// through a call, so their calling convention does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

// Helpers must be compiled inside each version of their caller.
#define ORU_INLINE inline __attribute__((always_inline))
#define ORU_INLINE_LAMBDA __attribute__((always_inline))

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the byte lanes below assume little-endian 16-bit words");

namespace PixelKernels {
namespace {

typedef uint8_t u8x16 __attribute__((vector_size(16)));
typedef uint8_t u8x32 __attribute__((vector_size(32)));
typedef uint16_t u16x8 __attribute__((vector_size(16)));
typedef uint16_t u16x16 __attribute__((vector_size(32)));
typedef uint32_t u32x16 __attribute__((vector_size(64)));

typedef uint32_t u32x8 __attribute__((vector_size(32)));
typedef uint64_t u64x4 __attribute__((vector_size(32)));
typedef uint32_t u32x4 __attribute__((vector_size(16)));

template <typename V, typename T>
ORU_INLINE V Load(const T *p)
{
    V v;
    memcpy(&v, p, sizeof v);
    return v;
}

template <typename V, typename T>
ORU_INLINE void Store(T *p, V v)
{
    memcpy(p, &v, sizeof v);
}

// Bytes 0, 2, 4, ... and 1, 3, 5, ... of a vector as 16-bit lanes.
ORU_INLINE u16x16 EvenBytes(u8x32 v)
{
    return (u16x16)v & 0xFF;
}

ORU_INLINE u16x16 OddBytes(u8x32 v)
{
    return (u16x16)v >> 8;
}

// Inverse of EvenBytes / OddBytes for lanes that hold values up to 255.
ORU_INLINE u8x32 Interleave(u16x16 even, u16x16 odd)
{
    return (u8x32)(even | (odd << 8));
}

ORU_INLINE u16x16 MulHi(u16x16 a, u16x16 b)
{
#if defined(__AVX2__)
    return (u16x16)_mm256_mulhi_epu16((__m256i)a, (__m256i)b);
#elif defined(__SSE2__)
    // Two halves: a multiply-high the compiler would otherwise widen to 32 bits.
    const u16x8 aLow = __builtin_shufflevector(a, a, 0, 1, 2, 3, 4, 5, 6, 7);
    const u16x8 aHigh = __builtin_shufflevector(a, a, 8, 9, 10, 11, 12, 13, 14, 15);
    const u16x8 bLow = __builtin_shufflevector(b, b, 0, 1, 2, 3, 4, 5, 6, 7);
    const u16x8 bHigh = __builtin_shufflevector(b, b, 8, 9, 10, 11, 12, 13, 14, 15);
    const u16x8 low = (u16x8)_mm_mulhi_epu16((__m128i)aLow, (__m128i)bLow);
    const u16x8 high = (u16x8)_mm_mulhi_epu16((__m128i)aHigh, (__m128i)bHigh);
    return __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
#else
    u32x16 product = __builtin_convertvector(a, u32x16) * __builtin_convertvector(b, u32x16);
    return __builtin_convertvector(product >> 16, u16x16);
#endif
}

ORU_INLINE unsigned MulHi(unsigned a, unsigned b)
{
    return (a * b) >> 16;
}

ORU_INLINE u16x16 Min(u16x16 a, u16x16 b)
{
    return a < b ? a : b;
}

ORU_INLINE u32x8 Min(u32x8 a, u32x8 b)
{
    return a < b ? a : b;
}

ORU_INLINE unsigned Min(unsigned a, unsigned b)
{
    return a < b ? a : b;
}

ORU_INLINE u16x16 AtLeastOne(u16x16 v)
{
    // Signed lanes: SSE2 has a signed 16-bit maximum only; values stay below 2^15.
    typedef int16_t i16x16 __attribute__((vector_size(32)));
    const i16x16 s = (i16x16)v;
    return (u16x16)(s > 1 ? s : 1);
}

ORU_INLINE unsigned AtLeastOne(unsigned v)
{
    return v > 1 ? v : 1;
}

// min(255, v * gain / 50): the white-balance table entry, exact for v <= 255
// and gain <= 256 (v * gain fits 16 bits; 41944 / 2^20 divides by 25).
template <typename V>
ORU_INLINE V WhiteBalance(V v, V gain)
{
    V half = (V)((v * gain) >> 1);
    return Min(MulHi(half, V() + 41944) >> 4, V() + 255);
}

// Y8 = (YUV02990[b0] + YUV05870[b1] + YUV01140[b2]) >> 16. The entries are
// floor(b x n x 8192 / 125) for n = 257, 504, 98, so the sum is
// (8192 N - r) / 125 with N = 257 b0 + 504 b1 + 98 b2 and 0 <= r < 8192,
// r = 0 only when every channel is 0, 125 or 250. Hence Y8 = (N - d) / 1000
// with d = 1 unless r = 0. Whenever d changes that quotient (r = 0, N a
// multiple of 1000) b0 and b2 are 0, and with b0 = b2 = 0, d = 0 gives the
// right quotient for every b1. So
//   Y8 = (63 b1 + 32 b0 + (max(b0 + 98 b2, 1) - 1) / 8) / 125,
// all in 16-bit lanes, the division by 125 exact by multiply-high for
// dividends below 2^15.
template <typename V>
ORU_INLINE V Luma(V b0, V b1, V b2)
{
    V eighth = 63 * b1 + 32 * b0 + ((AtLeastOne(b0 + 98 * b2) - 1) >> 3);
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

// Fixed layout of one kernel row.
template <bool COLOUR_FIRST, bool S0_ROW, bool BALANCE0, bool BALANCE2>
struct Layout {
};

// Bilinear colours of the pixel pair (x, x + 1) of an interior row.
template <bool COLOUR_FIRST, bool S0_ROW, bool BALANCE0, bool BALANCE2, typename V>
ORU_INLINE void PairColours(Layout<COLOUR_FIRST, S0_ROW, BALANCE0, BALANCE2>, const Taps<V> &u,
                            const Taps<V> &c, const Taps<V> &d, V gain0, V gain2, Pixel<V> &first,
                            Pixel<V> &second)
{
    V colour, colourGreen, colourOther, green, greenColour, greenOther;
    if (COLOUR_FIRST) {
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
    Pixel<V> &colourPixel = COLOUR_FIRST ? first : second;
    Pixel<V> &greenPixel = COLOUR_FIRST ? second : first;
    colourPixel.b1 = colourGreen;
    greenPixel.b1 = green;
    colourPixel.b0 = S0_ROW ? colour : colourOther;
    colourPixel.b2 = S0_ROW ? colourOther : colour;
    greenPixel.b0 = S0_ROW ? greenColour : greenOther;
    greenPixel.b2 = S0_ROW ? greenOther : greenColour;
    if (BALANCE0) {
        first.b0 = WhiteBalance(first.b0, gain0);
        second.b0 = WhiteBalance(second.b0, gain0);
    }
    if (BALANCE2) {
        first.b2 = WhiteBalance(first.b2, gain2);
        second.b2 = WhiteBalance(second.b2, gain2);
    }
}

ORU_INLINE Taps<u16x16> VectorTaps(const uint8_t *row, int x)
{
    const u8x32 middle = Load<u8x32>(row + x);
    return {OddBytes(Load<u8x32>(row + x - 2)), EvenBytes(middle), OddBytes(middle),
            EvenBytes(Load<u8x32>(row + x + 2))};
}

ORU_INLINE Taps<unsigned> ScalarTaps(const uint8_t *row, int x)
{
    return {row[x - 1], row[x], row[x + 1], row[x + 2]};
}

// Pixels per vector step: 16 pairs.
enum { STEP = 32 };

// Walks the interior of a row: STEP pixels per vector step while the loads
// stay inside the row, single pairs after that.
template <typename LayoutT, typename VectorStep, typename ScalarStep>
ORU_INLINE void WalkPairs(LayoutT layout, const BayerRow &row, VectorStep vectorStep,
                          ScalarStep scalarStep)
{
    int x = row.begin;
    const u16x16 gain0 = u16x16() + uint16_t(row.gain0), gain2 = u16x16() + uint16_t(row.gain2);
    for (; x + STEP <= row.end && x + STEP + 2 <= row.width; x += STEP) {
        Pixel<u16x16> first, second;
        PairColours(layout, VectorTaps(row.up, x), VectorTaps(row.cur, x), VectorTaps(row.down, x),
                    gain0, gain2, first, second);
        vectorStep(x, first, second);
    }
    for (; x < row.end; x += 2) {
        Pixel<unsigned> first, second;
        PairColours(layout, ScalarTaps(row.up, x), ScalarTaps(row.cur, x), ScalarTaps(row.down, x),
                    unsigned(row.gain0), unsigned(row.gain2), first, second);
        scalarStep(x, first, second);
    }
}

// Calls walk with the Layout that matches the row.
template <typename Walk>
ORU_INLINE void WithLayout(const BayerRow &row, Walk walk)
{
    auto balance = [&](auto colourFirst, auto s0Row) ORU_INLINE_LAMBDA {
        constexpr bool CF = decltype(colourFirst)::value, S0 = decltype(s0Row)::value;
        if (row.gain0 >= 0 && row.gain2 >= 0)
            walk(Layout<CF, S0, true, true>());
        else if (row.gain0 >= 0)
            walk(Layout<CF, S0, true, false>());
        else if (row.gain2 >= 0)
            walk(Layout<CF, S0, false, true>());
        else
            walk(Layout<CF, S0, false, false>());
    };
    auto s0 = [&](auto colourFirst) ORU_INLINE_LAMBDA {
        if (row.s0Row)
            balance(colourFirst, std::true_type());
        else
            balance(colourFirst, std::false_type());
    };
    if (row.colourFirst)
        s0(std::true_type());
    else
        s0(std::false_type());
}

// Three planes of 16 bytes as 16 pixels of three bytes.
ORU_INLINE void StoreRGB24(uint8_t *out, u8x16 p0, u8x16 p1, u8x16 p2)
{
    u8x16 t = __builtin_shufflevector(p0, p1, 0, 16, 0, 1, 17, 0, 2, 18, 0, 3, 19, 0, 4, 20, 0, 5);
    Store(out, __builtin_shufflevector(t, p2, 0, 1, 16, 3, 4, 17, 6, 7, 18, 9, 10, 19, 12, 13, 20,
                                       15));
    t = __builtin_shufflevector(p0, p1, 21, 0, 6, 22, 0, 7, 23, 0, 8, 24, 0, 9, 25, 0, 10, 26);
    Store(out + 16, __builtin_shufflevector(t, p2, 0, 21, 2, 3, 22, 5, 6, 23, 8, 9, 24, 11, 12, 25,
                                            14, 15));
    t = __builtin_shufflevector(p0, p1, 0, 11, 27, 0, 12, 28, 0, 13, 29, 0, 14, 30, 0, 15, 31, 0);
    Store(out + 32, __builtin_shufflevector(t, p2, 26, 1, 2, 27, 4, 5, 28, 7, 8, 29, 10, 11, 30,
                                            13, 14, 31));
}

ORU_INLINE u8x16 LowHalf(u8x32 v)
{
    return __builtin_shufflevector(v, v, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
}

ORU_INLINE u8x16 HighHalf(u8x32 v)
{
    return __builtin_shufflevector(v, v, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29,
                                   30, 31);
}

ORU_INLINE void StorePixel(uint8_t *out, const Pixel<unsigned> &pixel)
{
    out[0] = uint8_t(pixel.b0);
    out[1] = uint8_t(pixel.b1);
    out[2] = uint8_t(pixel.b2);
}

ORU_INLINE void DemosaicRGB24Rows(const BayerRow &row, uint8_t *out)
{
    WithLayout(row, [&](auto layout) ORU_INLINE_LAMBDA {
        WalkPairs(
            layout, row,
            [out](int x, const Pixel<u16x16> &first, const Pixel<u16x16> &second) ORU_INLINE_LAMBDA {
                const u8x32 p0 = Interleave(first.b0, second.b0);
                const u8x32 p1 = Interleave(first.b1, second.b1);
                const u8x32 p2 = Interleave(first.b2, second.b2);
                StoreRGB24(out + 3 * x, LowHalf(p0), LowHalf(p1), LowHalf(p2));
                StoreRGB24(out + 3 * x + 48, HighHalf(p0), HighHalf(p1), HighHalf(p2));
            },
            [out](int x, const Pixel<unsigned> &first, const Pixel<unsigned> &second) ORU_INLINE_LAMBDA {
                StorePixel(out + 3 * x, first);
                StorePixel(out + 3 * x + 3, second);
            });
    });
}

ORU_INLINE void DemosaicY8Rows(const BayerRow &row, uint8_t *out)
{
    WithLayout(row, [&](auto layout) ORU_INLINE_LAMBDA {
        WalkPairs(
            layout, row,
            [out](int x, const Pixel<u16x16> &first, const Pixel<u16x16> &second) ORU_INLINE_LAMBDA {
                Store(out + x, Interleave(Luma(first.b0, first.b1, first.b2),
                                          Luma(second.b0, second.b1, second.b2)));
            },
            [out](int x, const Pixel<unsigned> &first, const Pixel<unsigned> &second) ORU_INLINE_LAMBDA {
                out[x] = uint8_t(Luma(first.b0, first.b1, first.b2));
                out[x + 1] = uint8_t(Luma(second.b0, second.b1, second.b2));
            });
    });
}

} // namespace

#if defined(ORU_AVX2_KERNELS)
// The row kernels built for AVX2 in their own file, where the multiply-high
// is one instruction; called only after a run-time check.
void DemosaicRGB24Avx2(const BayerRow &row, uint8_t *out);
void DemosaicY8Avx2(const BayerRow &row, uint8_t *out);
#endif

} // namespace PixelKernels
