#include "algorithm/PixelKernels.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#if defined(ORU_NEON_KERNELS)
#include <sys/auxv.h>
#endif

#include "algorithm/VectorKernels.h"

// Each listed function is compiled once per instruction set and picked when
// the program loads; elsewhere the plain build serves (vectorised where the
// baseline has vectors, as 64-bit Arm does).
// ThreadSanitizer builds go without: the loader runs the clone resolvers before
// the sanitizer's runtime is up, and they crash there.
#if defined(ORU_X86_KERNELS) && !defined(__SANITIZE_THREAD__)
#define ORU_CLONES __attribute__((target_clones("avx2", "ssse3", "default")))
#else
#define ORU_CLONES
#endif

namespace PixelKernels {

namespace {

std::atomic<int> g_iKernelLimit(KERNELS_AVX512);

#if defined(ORU_WIDE_KERNELS) || defined(ORU_X86_KERNELS) || defined(ORU_NEON_KERNELS)
// The build to run: the narrower of the limit and what the processor has.
KernelLevel Level()
{
#if defined(ORU_WIDE_KERNELS)
    static const KernelLevel available = __builtin_cpu_supports("avx512bw") ? KERNELS_AVX512
                                         : __builtin_cpu_supports("avx2")   ? KERNELS_AVX2
                                                                            : KERNELS_PORTABLE;
#elif defined(ORU_NEON_KERNELS)
    // GCC has no target clones on 32-bit Arm: the kernel's word decides.
    static const KernelLevel available =
        getauxval(AT_HWCAP) & HWCAP_ARM_NEON ? KERNELS_NEON : KERNELS_PORTABLE;
#else
    // Only the byte-permute lookup asks: it checks its own instructions.
    const KernelLevel available = KERNELS_AVX512;
#endif
    return KernelLevel(std::min<int>(available, g_iKernelLimit.load(std::memory_order_relaxed)));
}
#endif

ORU_CLONES void DemosaicRGB24Portable(const BayerRow &row, uint8_t *out)
{
    DemosaicRGB24Rows(row, out);
}

ORU_CLONES void DemosaicY8Portable(const BayerRow &row, uint8_t *out)
{
    DemosaicY8Rows(row, out);
}

ORU_CLONES int MonoBin2Row8Portable(const uint8_t *in, size_t rowLength, uint8_t *out, int width)
{
    return MonoBin2Vector8(in, rowLength, out, width);
}

ORU_CLONES int MonoBin2Row16Portable(const uint16_t *in, size_t rowLength, uint16_t *out, int width)
{
    return MonoBin2Vector16(in, rowLength, out, width);
}

ORU_CLONES int ColorBin2Row8Portable(const uint8_t *first, size_t rowLength, uint8_t *out,
                                     int count)
{
    return ColorBin2Vector8(first, rowLength, out, count);
}

ORU_CLONES int ColorBin2Row16Portable(const uint16_t *first, size_t rowLength, uint16_t *out,
                                      int count)
{
    return ColorBin2Vector16(first, rowLength, out, count);
}

} // namespace

void LimitKernels(KernelLevel widest)
{
    g_iKernelLimit = widest;
}

KernelLevel KernelsInUse()
{
#if defined(ORU_WIDE_KERNELS) || defined(ORU_NEON_KERNELS)
    return Level();
#else
    return KERNELS_PORTABLE;
#endif
}

#if defined(ORU_WIDE_KERNELS)
#define ORU_DISPATCH(KERNEL, ...)                                                                  \
    switch (Level()) {                                                                             \
    case KERNELS_AVX512: return KERNEL##Avx512(__VA_ARGS__);                                       \
    case KERNELS_AVX2: return KERNEL##Avx2(__VA_ARGS__);                                           \
    default: return KERNEL##Portable(__VA_ARGS__);                                                 \
    }
#elif defined(ORU_NEON_KERNELS)
#define ORU_DISPATCH(KERNEL, ...)                                                                  \
    if (Level() == KERNELS_NEON)                                                                   \
        return KERNEL##Neon(__VA_ARGS__);                                                          \
    return KERNEL##Portable(__VA_ARGS__);
#else
#define ORU_DISPATCH(KERNEL, ...) return KERNEL##Portable(__VA_ARGS__);
#endif

void DemosaicRGB24(const BayerRow &row, uint8_t *out)
{
    ORU_DISPATCH(DemosaicRGB24, row, out)
}

void DemosaicY8(const BayerRow &row, uint8_t *out)
{
    ORU_DISPATCH(DemosaicY8, row, out)
}

namespace {

int MonoBin2Row8(const uint8_t *in, size_t rowLength, uint8_t *out, int width)
{
    ORU_DISPATCH(MonoBin2Row8, in, rowLength, out, width)
}

int MonoBin2Row16(const uint16_t *in, size_t rowLength, uint16_t *out, int width)
{
    ORU_DISPATCH(MonoBin2Row16, in, rowLength, out, width)
}

int ColorBin2Row8(const uint8_t *first, size_t rowLength, uint8_t *out, int count)
{
    ORU_DISPATCH(ColorBin2Row8, first, rowLength, out, count)
}

int ColorBin2Row16(const uint16_t *first, size_t rowLength, uint16_t *out, int count)
{
    ORU_DISPATCH(ColorBin2Row16, first, rowLength, out, count)
}

} // namespace

namespace {

#if defined(ORU_X86_KERNELS)
// The 256-entry table as four 64-byte registers: two two-register byte
// permutes and a select on bit 7 per 64 bytes. Returns the bytes done.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) size_t
Lookup8Vbmi(uint8_t *buf, const uint8_t *table, size_t count)
{
    const __m512i t0 = _mm512_loadu_si512(table), t1 = _mm512_loadu_si512(table + 64);
    const __m512i t2 = _mm512_loadu_si512(table + 128), t3 = _mm512_loadu_si512(table + 192);
    size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        const __m512i x = _mm512_loadu_si512(buf + i);
        const __m512i low = _mm512_permutex2var_epi8(t0, x, t1);
        const __m512i high = _mm512_permutex2var_epi8(t2, x, t3);
        _mm512_storeu_si512(buf + i, _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), low, high));
    }
    return i;
}

bool UseVbmi()
{
    static const bool vbmi = __builtin_cpu_supports("avx512vbmi");
    return vbmi && Level() == KERNELS_AVX512;
}
#endif

} // namespace

void Lookup8(uint8_t *buf, const uint8_t *table, size_t count)
{
    size_t i = 0;
#if defined(ORU_X86_KERNELS)
    if (UseVbmi())
        i = Lookup8Vbmi(buf, table, count);
#endif
    // Eight lookups before eight stores keep the loads independent.
    for (; i + 8 <= count; i += 8) {
        uint8_t looked[8];
        for (int k = 0; k < 8; ++k)
            looked[k] = table[buf[i + k]];
        memcpy(buf + i, looked, 8);
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
ORU_INLINE void ReverseTemp(T *buf, size_t count)
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
ORU_INLINE void BinChunk(const T *in, size_t rowLength, int bin, T *out, int c0, int n,
                         Finish finish)
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
ORU_INLINE void BinRow(const T *in, size_t rowLength, int bin, T *out, int width, Finish finish,
                       int from = 0)
{
    for (int c0 = from; c0 < width; c0 += BIN_CHUNK)
        BinChunk<BIN, T, Sum>(in, rowLength, bin, out, c0, std::min<int>(BIN_CHUNK, width - c0),
                              finish);
}

} // namespace

ORU_CLONES void MonoBinRow8(const uint8_t *in, size_t rowLength, int bin, uint8_t *out, int width)
{
    auto limit = [](uint32_t sum)
                     ORU_INLINE_LAMBDA { return uint8_t(std::min<uint32_t>(sum, 255)); };
    switch (bin) {
    case 2:
        return BinRow<2, uint8_t, uint16_t>(in, rowLength, bin, out, width, limit,
                                            MonoBin2Row8(in, rowLength, out, width));
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
        return BinRow<2, uint16_t, uint32_t>(
            in, rowLength, bin, out, width,
            [](uint32_t sum) ORU_INLINE_LAMBDA { return uint16_t(sum / 4); },
            MonoBin2Row16(in, rowLength, out, width));
    case 3:
        return BinRow<3, uint16_t, uint32_t>(in, rowLength, bin, out, width,
                                             [](uint32_t sum)
                                                 ORU_INLINE_LAMBDA { return uint16_t(sum / 9); });
    case 4:
        return BinRow<4, uint16_t, uint32_t>(in, rowLength, bin, out, width,
                                             [](uint32_t sum)
                                                 ORU_INLINE_LAMBDA { return uint16_t(sum / 16); });
    default: {
        const uint64_t area = uint64_t(bin) * bin;
        return BinRow<0, uint16_t, uint64_t>(
            in, rowLength, bin, out, width, [area](uint64_t sum) ORU_INLINE_LAMBDA {
                return uint16_t(std::min<uint64_t>(sum / area, 65535));
            });
    }
    }
}

namespace {

// Outputs [c0, c0 + n) (c0 and n even) of one same-colour binned row: even
// outputs sum columns 2kB + 2j, odd ones 2kB + 1 + 2j, inner odd ones
// 2kB + 1 + (B & ~1) + 2j, each over the input rows first + 2i. Sums go
// through local arrays as in BinChunk.
template <int BIN, bool INNER, typename T, typename Sum, typename Finish>
ORU_INLINE void ColorBinChunk(const T *first, size_t rowLength, T *out, int c0, int n,
                              Finish finish)
{
    enum { EXTRA = INNER ? BIN & ~1 : 0, SHIFT = 1 + EXTRA };
    const int span = n * BIN + EXTRA;
    Sum column[BIN_CHUNK * BIN + BIN];
    const T *src = first + size_t(c0) * BIN;
    for (int i = 0; i < span; ++i)
        column[i] = src[i];
    for (int r = 1; r < BIN; ++r) {
        const T *row = src + 2 * r * rowLength;
        for (int i = 0; i < span; ++i)
            column[i] += row[i];
    }
    T result[BIN_CHUNK];
    for (int k = 0; k < n / 2; ++k) {
        Sum even = 0, odd = 0;
        for (int j = 0; j < BIN; ++j) {
            even += column[2 * k * BIN + 2 * j];
            odd += column[2 * k * BIN + SHIFT + 2 * j];
        }
        result[2 * k] = finish(even);
        result[2 * k + 1] = finish(odd);
    }
    memcpy(out + c0, result, n * sizeof(T));
}

template <int BIN, bool INNER, typename T, typename Sum, typename Finish>
ORU_INLINE void ColorBinRow(const T *first, size_t rowLength, T *out, int count, Finish finish,
                            int from = 0)
{
    for (int c0 = from; c0 < count; c0 += BIN_CHUNK)
        ColorBinChunk<BIN, INNER, T, Sum>(first, rowLength, out, c0,
                                          std::min<int>(BIN_CHUNK, count - c0), finish);
}

template <int BIN, bool INNER>
ORU_INLINE void ColorBinRow8(const uint8_t *first, size_t rowLength, uint8_t *out, int count)
{
    // Inner outputs keep the sum; edge ones scale their mean back up.
    auto finish = [](unsigned sum) ORU_INLINE_LAMBDA {
        const unsigned value = INNER ? sum : sum / (BIN * BIN) * (BIN * BIN);
        return uint8_t(value < 255 ? value : 255);
    };
    const int from = BIN == 2 && INNER ? ColorBin2Row8(first, rowLength, out, count) : 0;
    ColorBinRow<BIN, INNER, uint8_t, uint16_t>(first, rowLength, out, count, finish, from);
}

template <int BIN, bool INNER>
ORU_INLINE void ColorBinRow16(const uint16_t *first, size_t rowLength, uint16_t *out, int count)
{
    auto finish = [](uint32_t sum) ORU_INLINE_LAMBDA { return uint16_t(sum / (BIN * BIN)); };
    const int from = BIN == 2 && INNER ? ColorBin2Row16(first, rowLength, out, count) : 0;
    ColorBinRow<BIN, INNER, uint16_t, uint32_t>(first, rowLength, out, count, finish, from);
}

// The Row function for bin 2, 3 or 4 and the inner or edge column pattern.
template <template <int, bool> class Row, typename... Args>
ORU_INLINE void ForBin(int bin, bool inner, Args... args)
{
    switch (bin * 2 + inner) {
    case 4: return Row<2, false>::Run(args...);
    case 5: return Row<2, true>::Run(args...);
    case 6: return Row<3, false>::Run(args...);
    case 7: return Row<3, true>::Run(args...);
    case 8: return Row<4, false>::Run(args...);
    default: return Row<4, true>::Run(args...);
    }
}

template <int BIN, bool INNER>
struct ColorRow8 {
    static ORU_INLINE void Run(const uint8_t *first, size_t rowLength, uint8_t *out, int count)
    {
        ColorBinRow8<BIN, INNER>(first, rowLength, out, count);
    }
};

template <int BIN, bool INNER>
struct ColorRow16 {
    static ORU_INLINE void Run(const uint16_t *first, size_t rowLength, uint16_t *out, int count)
    {
        ColorBinRow16<BIN, INNER>(first, rowLength, out, count);
    }
};

} // namespace

ORU_CLONES void ColorBinRow8(const uint8_t *first, size_t rowLength, int bin, bool inner,
                             uint8_t *out, int count)
{
    ForBin<ColorRow8>(bin, inner, first, rowLength, out, count);
}

ORU_CLONES void ColorBinRow16(const uint16_t *first, size_t rowLength, int bin, bool inner,
                              uint16_t *out, int count)
{
    ForBin<ColorRow16>(bin, inner, first, rowLength, out, count);
}

} // namespace PixelKernels
