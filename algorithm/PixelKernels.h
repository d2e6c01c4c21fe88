// Whole-row and whole-buffer loops behind CAlgorithm. Each one produces
// exactly the bytes of the per-pixel arithmetic it replaces; they are written
// for the compiler's vectoriser, and on x86-64 and 32-bit Arm built in several
// instruction-set versions chosen at run time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace PixelKernels {

// Interior pixels of one Bayer row: every pixel in [begin, end) has all eight
// neighbours inside the frame.
struct BayerRow {
    const uint8_t *up;   // pixel 0 of the row above
    const uint8_t *cur;  // pixel 0 of this row
    const uint8_t *down; // pixel 0 of the row below
    int begin;           // even
    int end;             // even
    int width;           // row length; no byte at or past cur + width is read
    bool colourFirst;    // the colour site of the row is at even x
    bool s0Row;          // that colour feeds output byte 0 (else byte 2)
    int balance0;        // white balance of byte 0, -1 for none: see BalanceFactor
    int balance2;        // the same for byte 2
};

// Builds of the explicitly vectorised kernels, narrowest first: NEON on
// 32-bit Arm, AVX2 and AVX-512BW on x86-64.
enum KernelLevel { KERNELS_PORTABLE, KERNELS_NEON, KERNELS_AVX2, KERNELS_AVX512 };
// The widest build allowed to run; the widest the processor has runs by
// default. Tests lower it to check the builds other processors run.
void LimitKernels(KernelLevel widest);
// The build of the row kernels that runs now.
KernelLevel KernelsInUse();

// Largest SetRGBWB gain the row kernels apply themselves.
const int MAX_KERNEL_GAIN = 128;

// The factor the row kernels take for a gain of 0..MAX_KERNEL_GAIN:
// min(255, (4 v x factor) >> 16) equals the table entry min(255, v x gain / 50)
// for every v <= 255. The factor exceeds gain x 2^14 / 50 by less than 1, so
// the product exceeds v x gain / 50 by less than 255 / 2^14 < 1/50, and
// v x gain / 50 is a multiple of 1/50: both have the same integer part.
inline int BalanceFactor(int gain)
{
    return (gain * 16384 + 49) / 50;
}

// out points at pixel 0 of the output row: three bytes per pixel.
void DemosaicRGB24(const BayerRow &row, uint8_t *out);
// out points at pixel 0 of the output row: the Y8 luminance of each pixel.
void DemosaicY8(const BayerRow &row, uint8_t *out);

// buf[i] = table[buf[i]].
void Lookup8(uint8_t *buf, const uint8_t *table, size_t count);
void Lookup16(uint16_t *buf, const uint16_t *table, size_t count);
// img = min(255, max(img - dark, 0) + offset).
void SubtractDark8(uint8_t *img, const uint8_t *dark, size_t count, uint32_t offset);

// Reverses count elements in place.
void Reverse8(uint8_t *buf, size_t count);
void Reverse16(uint16_t *buf, size_t count);
// Exchanges count bytes of a and b (which do not overlap).
void SwapBytes(uint8_t *a, uint8_t *b, size_t count);

// Sum of bin x bin blocks of an 8-bit frame of rowLength samples per row,
// limited to 255; width outputs from the bin rows starting at in.
void MonoBinRow8(const uint8_t *in, size_t rowLength, int bin, uint8_t *out, int width);
// The same for 16-bit samples: the block average.
void MonoBinRow16(const uint16_t *in, size_t rowLength, int bin, uint16_t *out, int width);

// Same-colour binning, bin 2 to 4, of outputs [0, count) (count even) of one
// row whose sample rows start at first (see CAlgorithm::ColorRAWBin); inner
// selects the inner column pattern and the plain sum (8-bit, limited to 255),
// else the edge pattern and bin^2 x mean. 16-bit: the mean.
void ColorBinRow8(const uint8_t *first, size_t rowLength, int bin, bool inner, uint8_t *out,
                  int count);
void ColorBinRow16(const uint16_t *first, size_t rowLength, int bin, bool inner, uint16_t *out,
                   int count);

} // namespace PixelKernels
