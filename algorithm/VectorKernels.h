// Vector helpers and the explicitly vectorised row kernels, included once by
// each translation unit that builds them for one instruction set and one
// vector width (ORU_VECTOR_BYTES, 32 unless the file says otherwise).
// Everything here has internal linkage, so every build keeps its own copy:
// an inline function with external linkage built with AVX enabled could be
// the copy the linker keeps for the portable callers too.
#pragma once

#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

// 32-bit Arm built with NEON: a few helpers use its instructions directly.
#if defined(__arm__) && defined(__ARM_NEON)
#include <arm_neon.h>
#define ORU_ARM_NEON 1
#endif

#include "algorithm/PixelKernels.h"

// x86-64 with GCC: intrinsics, run-time dispatch and target clones.
#if defined(__x86_64__) && defined(__SSE2__) && defined(__GNUC__) && !defined(__clang__)
#define ORU_X86_KERNELS 1
#endif

#ifndef ORU_VECTOR_BYTES
#define ORU_VECTOR_BYTES 32
#endif

// Wide vectors only pass between inlined helpers of one file, never through
// a call, so their calling convention does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

// Helpers must be compiled inside each version of their caller.
#define ORU_INLINE inline __attribute__((always_inline))
#define ORU_INLINE_LAMBDA __attribute__((always_inline))

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the byte lanes below assume little-endian words");

namespace PixelKernels {

// Entry points of one instruction-set build of the row kernels: declared for
// the dispatcher, defined by ORU_DEFINE_ROW_KERNELS in the build's own file.
// The binning ones return how many outputs they wrote.
#define ORU_DECLARE_ROW_KERNELS(SUFFIX)                                                            \
    void DemosaicRGB24##SUFFIX(const BayerRow &row, uint8_t *out);                                 \
    void DemosaicY8##SUFFIX(const BayerRow &row, uint8_t *out);                                    \
    int MonoBin2Row8##SUFFIX(const uint8_t *in, size_t rowLength, uint8_t *out, int width);        \
    int MonoBin2Row16##SUFFIX(const uint16_t *in, size_t rowLength, uint16_t *out, int width);     \
    int ColorBin2Row8##SUFFIX(const uint8_t *first, size_t rowLength, uint8_t *out, int count);    \
    int ColorBin2Row16##SUFFIX(const uint16_t *first, size_t rowLength, uint16_t *out, int count);

#define ORU_DEFINE_ROW_KERNELS(SUFFIX)                                                             \
    void DemosaicRGB24##SUFFIX(const BayerRow &row, uint8_t *out)                                  \
    {                                                                                              \
        DemosaicRGB24Rows(row, out);                                                               \
    }                                                                                              \
    void DemosaicY8##SUFFIX(const BayerRow &row, uint8_t *out)                                     \
    {                                                                                              \
        DemosaicY8Rows(row, out);                                                                  \
    }                                                                                              \
    int MonoBin2Row8##SUFFIX(const uint8_t *in, size_t rowLength, uint8_t *out, int width)         \
    {                                                                                              \
        return MonoBin2Vector8(in, rowLength, out, width);                                         \
    }                                                                                              \
    int MonoBin2Row16##SUFFIX(const uint16_t *in, size_t rowLength, uint16_t *out, int width)      \
    {                                                                                              \
        return MonoBin2Vector16(in, rowLength, out, width);                                        \
    }                                                                                              \
    int ColorBin2Row8##SUFFIX(const uint8_t *first, size_t rowLength, uint8_t *out, int count)     \
    {                                                                                              \
        return ColorBin2Vector8(first, rowLength, out, count);                                     \
    }                                                                                              \
    int ColorBin2Row16##SUFFIX(const uint16_t *first, size_t rowLength, uint16_t *out, int count)  \
    {                                                                                              \
        return ColorBin2Vector16(first, rowLength, out, count);                                    \
    }

#if defined(ORU_WIDE_KERNELS)
ORU_DECLARE_ROW_KERNELS(Avx2)
ORU_DECLARE_ROW_KERNELS(Avx512)
#endif
#if defined(ORU_NEON_KERNELS)
ORU_DECLARE_ROW_KERNELS(Neon)
#endif

namespace {

enum { VB = ORU_VECTOR_BYTES };

typedef uint8_t Bytes __attribute__((vector_size(VB)));
typedef uint16_t Words __attribute__((vector_size(VB)));
typedef int16_t SignedWords __attribute__((vector_size(VB)));
typedef uint32_t Dwords __attribute__((vector_size(VB)));
typedef uint64_t Qwords __attribute__((vector_size(VB)));
typedef uint8_t HalfBytes __attribute__((vector_size(VB / 2)));
typedef uint16_t HalfWords __attribute__((vector_size(VB / 2)));
typedef uint32_t HalfDwords __attribute__((vector_size(VB / 2)));
typedef uint32_t WideDwords __attribute__((vector_size(VB * 2)));
typedef uint8_t u8x16 __attribute__((vector_size(16)));
typedef uint16_t u16x8 __attribute__((vector_size(16)));

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
ORU_INLINE Words EvenBytes(Bytes v)
{
    return (Words)v & 0xFF;
}

ORU_INLINE Words OddBytes(Bytes v)
{
    return (Words)v >> 8;
}

// Inverse of EvenBytes / OddBytes for lanes that hold values up to 255.
ORU_INLINE Bytes Interleave(Words even, Words odd)
{
    return (Bytes)(even | (odd << 8));
}

ORU_INLINE Words MulHi(Words a, Words b)
{
#if ORU_VECTOR_BYTES == 64 && defined(__AVX512BW__)
    return (Words)_mm512_mulhi_epu16((__m512i)a, (__m512i)b);
#elif ORU_VECTOR_BYTES == 32 && defined(__AVX2__)
    return (Words)_mm256_mulhi_epu16((__m256i)a, (__m256i)b);
#elif ORU_VECTOR_BYTES == 32 && defined(__SSE2__)
    // Two halves: a multiply-high the compiler would otherwise widen to 32 bits.
    const u16x8 aLow = __builtin_shufflevector(a, a, 0, 1, 2, 3, 4, 5, 6, 7);
    const u16x8 aHigh = __builtin_shufflevector(a, a, 8, 9, 10, 11, 12, 13, 14, 15);
    const u16x8 bLow = __builtin_shufflevector(b, b, 0, 1, 2, 3, 4, 5, 6, 7);
    const u16x8 bHigh = __builtin_shufflevector(b, b, 8, 9, 10, 11, 12, 13, 14, 15);
    const u16x8 low = (u16x8)_mm_mulhi_epu16((__m128i)aLow, (__m128i)bLow);
    const u16x8 high = (u16x8)_mm_mulhi_epu16((__m128i)aHigh, (__m128i)bHigh);
    return __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
#elif ORU_VECTOR_BYTES == 16 && defined(ORU_ARM_NEON)
    // Widening multiplies of each half, then the high halves of the products.
    const uint16x8_t x = (uint16x8_t)a, y = (uint16x8_t)b;
    const uint32x4_t low = vmull_u16(vget_low_u16(x), vget_low_u16(y));
    const uint32x4_t high = vmull_u16(vget_high_u16(x), vget_high_u16(y));
    return (Words)vcombine_u16(vshrn_n_u32(low, 16), vshrn_n_u32(high, 16));
#else
    WideDwords product =
        __builtin_convertvector(a, WideDwords) * __builtin_convertvector(b, WideDwords);
    return __builtin_convertvector(product >> 16, Words);
#endif
}

ORU_INLINE unsigned MulHi(unsigned a, unsigned b)
{
    return (a * b) >> 16;
}

template <typename V>
ORU_INLINE V Min(V a, V b)
{
    return a < b ? a : b;
}

ORU_INLINE Words AtLeastOne(Words v)
{
    // Signed lanes: SSE2 has a signed 16-bit maximum only; values stay below 2^15.
    const SignedWords s = (SignedWords)v;
    return (Words)(s > 1 ? s : 1);
}

ORU_INLINE unsigned AtLeastOne(unsigned v)
{
    return v > 1 ? v : 1;
}

// The white-balance table entry of v, from its BalanceFactor.
template <typename V>
ORU_INLINE V WhiteBalance(V v, V factor)
{
    return Min<V>(MulHi(v << 2, factor), V() + 255);
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
                            const Taps<V> &c, const Taps<V> &d, V factor0, V factor2,
                            Pixel<V> &first, Pixel<V> &second)
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
        first.b0 = WhiteBalance(first.b0, factor0);
        second.b0 = WhiteBalance(second.b0, factor0);
    }
    if (BALANCE2) {
        first.b2 = WhiteBalance(first.b2, factor2);
        second.b2 = WhiteBalance(second.b2, factor2);
    }
}

ORU_INLINE Taps<Words> VectorTaps(const uint8_t *row, int x)
{
    const Bytes middle = Load<Bytes>(row + x);
    return {OddBytes(Load<Bytes>(row + x - 2)), EvenBytes(middle), OddBytes(middle),
            EvenBytes(Load<Bytes>(row + x + 2))};
}

ORU_INLINE Taps<unsigned> ScalarTaps(const uint8_t *row, int x)
{
    return {row[x - 1], row[x], row[x + 1], row[x + 2]};
}

// Runs step(x) for x = start, start + STEP, ... while the step fits, then
// once more ending at end if that fits, repeating some outputs (see the
// callers for why that is harmless). Returns where the steps stopped.
template <int STEP, typename Fits, typename Step>
ORU_INLINE int Steps(int start, int end, Fits fits, Step step)
{
    int x = start;
    for (; x + STEP <= end && fits(x); x += STEP)
        step(x);
    if (x < end && end - STEP >= start && fits(end - STEP)) {
        step(end - STEP);
        x = end;
    }
    return x;
}

// Walks the interior of a row: VB pixels per vector step while the loads
// stay inside the row (the output is another buffer, so a last step may
// overlap the one before), single pairs after that.
template <typename LayoutT, typename VectorStep, typename ScalarStep>
ORU_INLINE void WalkPairs(LayoutT layout, const BayerRow &row, VectorStep vectorStep,
                          ScalarStep scalarStep)
{
    const Words factor0 = Words() + uint16_t(row.balance0);
    const Words factor2 = Words() + uint16_t(row.balance2);
    int x = Steps<VB>(
        row.begin, row.end, [&](int at) ORU_INLINE_LAMBDA { return at + VB + 2 <= row.width; },
        [&](int at) ORU_INLINE_LAMBDA {
            Pixel<Words> first, second;
            PairColours(layout, VectorTaps(row.up, at), VectorTaps(row.cur, at),
                        VectorTaps(row.down, at), factor0, factor2, first, second);
            vectorStep(at, first, second);
        });
    for (; x < row.end; x += 2) {
        Pixel<unsigned> first, second;
        PairColours(layout, ScalarTaps(row.up, x), ScalarTaps(row.cur, x), ScalarTaps(row.down, x),
                    unsigned(row.balance0), unsigned(row.balance2), first, second);
        scalarStep(x, first, second);
    }
}

// Calls walk with the Layout that matches the row.
template <typename Walk>
ORU_INLINE void WithLayout(const BayerRow &row, Walk walk)
{
    auto balance = [&](auto colourFirst, auto s0Row) ORU_INLINE_LAMBDA {
        constexpr bool CF = decltype(colourFirst)::value, S0 = decltype(s0Row)::value;
        if (row.balance0 >= 0 && row.balance2 >= 0)
            walk(Layout<CF, S0, true, true>());
        else if (row.balance0 >= 0)
            walk(Layout<CF, S0, true, false>());
        else if (row.balance2 >= 0)
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
#if defined(ORU_ARM_NEON)
    // NEON stores three planes interleaved in one instruction.
    vst3q_u8(out, uint8x16x3_t{{(uint8x16_t)p0, (uint8x16_t)p1, (uint8x16_t)p2}});
#else
    u8x16 t = __builtin_shufflevector(p0, p1, 0, 16, 0, 1, 17, 0, 2, 18, 0, 3, 19, 0, 4, 20, 0, 5);
    Store(out,
          __builtin_shufflevector(t, p2, 0, 1, 16, 3, 4, 17, 6, 7, 18, 9, 10, 19, 12, 13, 20, 15));
    t = __builtin_shufflevector(p0, p1, 21, 0, 6, 22, 0, 7, 23, 0, 8, 24, 0, 9, 25, 0, 10, 26);
    Store(out + 16,
          __builtin_shufflevector(t, p2, 0, 21, 2, 3, 22, 5, 6, 23, 8, 9, 24, 11, 12, 25, 14, 15));
    t = __builtin_shufflevector(p0, p1, 0, 11, 27, 0, 12, 28, 0, 13, 29, 0, 14, 30, 0, 15, 31, 0);
    Store(out + 32,
          __builtin_shufflevector(t, p2, 26, 1, 2, 27, 4, 5, 28, 7, 8, 29, 10, 11, 30, 13, 14, 31));
#endif
}

// Bytes 16 Q .. 16 Q + 15 of a vector.
template <int Q>
ORU_INLINE u8x16 Piece(Bytes v)
{
    return __builtin_shufflevector(v, v, 16 * Q, 16 * Q + 1, 16 * Q + 2, 16 * Q + 3, 16 * Q + 4,
                                   16 * Q + 5, 16 * Q + 6, 16 * Q + 7, 16 * Q + 8, 16 * Q + 9,
                                   16 * Q + 10, 16 * Q + 11, 16 * Q + 12, 16 * Q + 13, 16 * Q + 14,
                                   16 * Q + 15);
}

template <int Q>
ORU_INLINE void StoreRGB24Piece(uint8_t *out, Bytes p0, Bytes p1, Bytes p2)
{
    if constexpr (16 * Q < VB) {
        StoreRGB24(out + 48 * Q, Piece<Q>(p0), Piece<Q>(p1), Piece<Q>(p2));
        StoreRGB24Piece<Q + 1>(out, p0, p1, p2);
    }
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
            [out](int x, const Pixel<Words> &first, const Pixel<Words> &second) ORU_INLINE_LAMBDA {
                StoreRGB24Piece<0>(out + 3 * x, Interleave(first.b0, second.b0),
                                   Interleave(first.b1, second.b1),
                                   Interleave(first.b2, second.b2));
            },
            [out](int x, const Pixel<unsigned> &first, const Pixel<unsigned> &second)
                ORU_INLINE_LAMBDA {
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
            [out](int x, const Pixel<Words> &first, const Pixel<Words> &second) ORU_INLINE_LAMBDA {
                Store(out + x, Interleave(Luma(first.b0, first.b1, first.b2),
                                          Luma(second.b0, second.b1, second.b2)));
            },
            [out](int x, const Pixel<unsigned> &first, const Pixel<unsigned> &second)
                ORU_INLINE_LAMBDA {
                    out[x] = uint8_t(Luma(first.b0, first.b1, first.b2));
                    out[x + 1] = uint8_t(Luma(second.b0, second.b1, second.b2));
                });
    });
}

// Bin 2 in vectors; each returns how many outputs it wrote, leaving the rest
// to the general loops. Loads come before stores and read no further than
// row 0 of the block ends (rowLength samples). In place, output row 0 covers
// the first half of input row 0, which the outputs from c on read from 2c on:
// a last step repeating outputs still finds its samples intact when the row
// has at least two steps (the step count check of Steps).

ORU_INLINE int MonoBin2Vector8(const uint8_t *in, size_t rowLength, uint8_t *out, int width)
{
    return Steps<VB>(
        0, width >= 2 * VB ? width : width / VB * VB, [](int) ORU_INLINE_LAMBDA { return true; },
        [&](int x) ORU_INLINE_LAMBDA {
            for (int h = 0; h < 2; ++h) {
                const Bytes a = Load<Bytes>(in + 2 * x + VB * h);
                const Bytes b = Load<Bytes>(in + rowLength + 2 * x + VB * h);
                const Words sum = EvenBytes(a) + OddBytes(a) + EvenBytes(b) + OddBytes(b);
                Store(out + x + VB / 2 * h,
                      __builtin_convertvector(Min<Words>(sum, Words() + 255), HalfBytes));
            }
        });
}

ORU_INLINE int MonoBin2Vector16(const uint16_t *in, size_t rowLength, uint16_t *out, int width)
{
    enum { STEP = VB / 4 };
    return Steps<STEP>(
        0, width >= 2 * STEP ? width : width / STEP * STEP,
        [](int) ORU_INLINE_LAMBDA { return true; },
        [&](int x) ORU_INLINE_LAMBDA {
            const Dwords a = Load<Dwords>(in + 2 * x), b = Load<Dwords>(in + rowLength + 2 * x);
            const Dwords sum = (a & 0xFFFF) + (a >> 16) + (b & 0xFFFF) + (b >> 16);
            Store(out + x, __builtin_convertvector(sum >> 2, HalfWords));
        });
}

// Same-colour bin 2: output 2k sums columns 4k and 4k + 2, output 2k + 1
// columns 4k + 3 and 4k + 5, over the rows first and first + 2 rows. Column
// sums of the even columns from x and of the odd ones from x + 2 line both
// up as adjacent pairs.
ORU_INLINE int ColorBin2Vector8(const uint8_t *first, size_t rowLength, uint8_t *out, int count)
{
    const uint8_t *third = first + 2 * rowLength;
    return Steps<VB>(
        0, count >= 2 * VB ? count : count / VB * VB,
        [&](int c) ORU_INLINE_LAMBDA { return size_t(2 * c + 2 * VB + 2) <= rowLength; },
        [&](int c) ORU_INLINE_LAMBDA {
            for (int h = 0; h < 2; ++h) {
                const int x = 2 * c + VB * h;
                const Dwords even =
                    (Dwords)(EvenBytes(Load<Bytes>(first + x)) + EvenBytes(Load<Bytes>(third + x)));
                const Dwords odd = (Dwords)(OddBytes(Load<Bytes>(first + x + 2)) +
                                            OddBytes(Load<Bytes>(third + x + 2)));
                const Dwords limit = Dwords() + 255;
                const Dwords evenSum = Min<Dwords>((even & 0xFFFF) + (even >> 16), limit);
                const Dwords oddSum = Min<Dwords>((odd & 0xFFFF) + (odd >> 16), limit);
                Store(out + c + VB / 2 * h,
                      __builtin_convertvector((Words)(evenSum | (oddSum << 16)), HalfBytes));
            }
        });
}

ORU_INLINE int ColorBin2Vector16(const uint16_t *first, size_t rowLength, uint16_t *out, int count)
{
    enum { STEP = VB / 2 };
    const uint16_t *third = first + 2 * rowLength;
    return Steps<STEP>(
        0, count >= 2 * STEP ? count : count / STEP * STEP,
        [&](int c) ORU_INLINE_LAMBDA { return size_t(2 * c + VB + 2) <= rowLength; },
        [&](int c) ORU_INLINE_LAMBDA {
            for (int h = 0; h < 2; ++h) {
                const int x = 2 * c + VB / 2 * h;
                const Dwords a = Load<Dwords>(first + x), b = Load<Dwords>(third + x);
                const Dwords a2 = Load<Dwords>(first + x + 2), b2 = Load<Dwords>(third + x + 2);
                const Qwords even = (Qwords)((a & 0xFFFF) + (b & 0xFFFF));
                const Qwords odd = (Qwords)((a2 >> 16) + (b2 >> 16));
                const Qwords evenMean = ((even & 0xFFFFFFFF) + (even >> 32)) >> 2;
                const Qwords oddMean = ((odd & 0xFFFFFFFF) + (odd >> 32)) >> 2;
                Store(out + c + VB / 4 * h,
                      __builtin_convertvector(evenMean | (oddMean << 16), HalfDwords));
            }
        });
}

} // namespace
} // namespace PixelKernels
