#include <gtest/gtest.h>

#if defined(__arm__)
#include <sys/auxv.h>
#endif

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "algorithm/CAlgorithm.h"
#include "algorithm/PixelKernels.h"

namespace {

std::unique_ptr<CAlgorithm> MakeAlgorithm(int pattern = 0)
{
    auto algorithm = std::make_unique<CAlgorithm>();
    algorithm->RGBYUV_Init();
    algorithm->SetBayer(BayerPattern(pattern));
    return algorithm;
}

template <typename T>
std::vector<T> RandomSamples(size_t count, unsigned seed, unsigned maxValue)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<unsigned> value(0, maxValue);
    std::vector<T> samples(count);
    for (T &sample : samples)
        sample = T(value(generator));
    return samples;
}

// Every build of the row kernels for this architecture, widest first; a
// processor without one runs the next narrower.
const PixelKernels::KernelLevel KERNEL_LEVELS[] = {
#if defined(__arm__)
    PixelKernels::KERNELS_NEON,
#else
    PixelKernels::KERNELS_AVX512, PixelKernels::KERNELS_AVX2,
#endif
    PixelKernels::KERNELS_PORTABLE};

// Runs the kernels of one build while in scope.
class KernelLimit {
public:
    explicit KernelLimit(PixelKernels::KernelLevel level) { PixelKernels::LimitKernels(level); }
    ~KernelLimit() { PixelKernels::LimitKernels(PixelKernels::KERNELS_AVX512); }
};

// The widest build the processor has runs unless limited, so the exactness
// tests below reach every build this processor can run.
TEST(PixelKernelsDispatch, WidestBuildOfTheProcessorRuns)
{
#if defined(__arm__)
    const auto widest = getauxval(AT_HWCAP) & HWCAP_ARM_NEON ? PixelKernels::KERNELS_NEON
                                                             : PixelKernels::KERNELS_PORTABLE;
#elif defined(__x86_64__)
    const auto widest = __builtin_cpu_supports("avx512bw") ? PixelKernels::KERNELS_AVX512
                        : __builtin_cpu_supports("avx2")   ? PixelKernels::KERNELS_AVX2
                                                           : PixelKernels::KERNELS_PORTABLE;
#else
    const auto widest = PixelKernels::KERNELS_PORTABLE;
#endif
    EXPECT_EQ(PixelKernels::KernelsInUse(), widest);
    {
        KernelLimit limit(PixelKernels::KERNELS_PORTABLE);
        EXPECT_EQ(PixelKernels::KernelsInUse(), PixelKernels::KERNELS_PORTABLE);
    }
    EXPECT_EQ(PixelKernels::KernelsInUse(), widest);
}

// Index of the first difference, or -1.
template <typename T>
long FirstDifference(const std::vector<T> &a, const std::vector<T> &b)
{
    auto mismatch = std::mismatch(a.begin(), a.end(), b.begin());
    return mismatch.first == a.end() ? -1 : long(mismatch.first - a.begin());
}

// The cell-by-cell demosaic walk, built from the per-cell operations.
void ReferenceBayerConv(CAlgorithm &algorithm, uint8_t *src, uint8_t *dst, int width, int height,
                        IMAGE_TYPE type, bool vertical, bool horizontal)
{
    algorithm.FlipBayer(vertical, horizontal);
    algorithm.SetWidth(width, type == IMAGE_TYPE_RGB24 ? width : 2);
    const int evenWidth = width & ~1, evenHeight = height & ~1;
    for (int y = 0; y + 2 <= evenHeight; y += 2) {
        for (int x = 0; x + 2 <= evenWidth; x += 2) {
            const int index = y * width + x;
            const bool border = x == 0 || y == 0 || x == width - 2 || y == height - 2;
            if (type == IMAGE_TYPE_RGB24) {
                if (border)
                    algorithm.BayerCopy(src, width, index, dst);
                else
                    algorithm.BayerBilinear(src, index, width, dst + 3 * index);
                continue;
            }
            if (border)
                algorithm.BayerCopyToTemp(src, x, y, index);
            else
                algorithm.BayerBilinear(src, index, width, algorithm.RGBTemp());
            if (type == IMAGE_TYPE_8BIT)
                algorithm.RGBTemp2Y8(dst, x, y, width);
            else
                algorithm.RGBTemp2YUV2(dst, x, y, width, false);
        }
    }
    const int pixelBytes = type == IMAGE_TYPE_RGB24 ? 3 : type == IMAGE_TYPE_YUV422 ? 2 : 1;
    if (height & 1)
        algorithm.CopyLastLine(dst, evenHeight, width * pixelBytes);
}

TEST(CAlgorithmTables, EntriesAreTruncatedFixedPoint)
{
    auto algorithm = MakeAlgorithm();
    struct Case {
        const int32_t *table;
        int index;
        int32_t expected;
    } cases[] = {
        {algorithm->YUV02990, 255, 4294901}, {algorithm->YUV0439, 1, 28770},
        {algorithm->YUV05870, 255, 8422686}, {algorithm->YUV01140, 255, 1637744},
        {algorithm->YUV03316, 200, 4823449}, {algorithm->YUV01684, 255, 1186529},
        {algorithm->YUV00813, 77, 746848},   {algorithm->YUV04187, 254, 4844027},
        {algorithm->YUV05870, 0, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.table[c.index], c.expected) << "entry " << c.index;
}

TEST(CAlgorithmTables, WhiteBalanceTables)
{
    auto algorithm = MakeAlgorithm();
    for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(algorithm->m_iWBRTable[i], i);
        ASSERT_EQ(algorithm->m_iWBBTable[i], i);
    }
    algorithm->SetRGBWB(100, 25);
    EXPECT_EQ(algorithm->m_iWBBTable[200], 255);
    EXPECT_EQ(algorithm->m_iWBRTable[200], 100);
    EXPECT_EQ(algorithm->m_iWBRTable[201], 100);
    EXPECT_EQ(algorithm->m_iWBBTable[127], 254);
}

TEST(CAlgorithmTables, WhiteBalanceBelongsToOneObject)
{
    auto first = MakeAlgorithm(), second = MakeAlgorithm();
    first->SetRGBWB(100, 25);
    EXPECT_EQ(second->m_iWBBTable[200], 200);
}

TEST(CAlgorithmColour, WhitePixel)
{
    auto algorithm = MakeAlgorithm();
    uint8_t white[6] = {255, 255, 255, 255, 255, 255};
    uint8_t y8[2] = {}, yuv[4] = {};
    algorithm->RGB2Y8(white, y8, 2, 1);
    algorithm->RGB2YUV2(white, yuv, 2, 1, false);
    EXPECT_EQ(y8[0], 219);
    EXPECT_EQ(y8[1], 219);
    EXPECT_EQ(std::vector<uint8_t>(yuv, yuv + 4), (std::vector<uint8_t>{235, 128, 235, 128}));

    // A white frame through border and interior cells alike.
    const int width = 40, height = 6;
    std::vector<uint8_t> frame(width * height, 255), out(width * height * 2);
    algorithm->BayerConv(frame.data(), out.data(), width, height, IMAGE_TYPE_8BIT, false, false);
    EXPECT_EQ(std::count(out.begin(), out.begin() + width * height, 219), width * height);
    algorithm->BayerConv(frame.data(), out.data(), width, height, IMAGE_TYPE_YUV422, false, false);
    for (size_t i = 0; i < out.size(); i += 2)
        ASSERT_EQ(out[i] * 256 + out[i + 1], 235 * 256 + 128) << "pixel " << i / 2;
}

TEST(CAlgorithmColour, ChromaOfPairComesFromLeftPixel)
{
    auto algorithm = MakeAlgorithm();
    // Row 0: pure byte 0, then pure byte 2; row 1 black. Bottom-up output
    // starts with the black row.
    uint8_t rgb[12] = {255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 0, 0};
    uint8_t yuv[8] = {};
    algorithm->RGB2YUV2(rgb, yuv, 2, 2, true);
    const uint8_t y0 = uint8_t((algorithm->YUV02990[255] >> 16) + 16);
    const uint8_t y2 = uint8_t((algorithm->YUV01140[255] >> 16) + 16);
    const uint8_t ca = uint8_t((algorithm->YUV0439[255] >> 16) + 128);
    const uint8_t cb = uint8_t(((-algorithm->YUV00813[255]) >> 16) + 128);
    EXPECT_EQ(std::vector<uint8_t>(yuv, yuv + 8),
              (std::vector<uint8_t>{16, 128, 16, 128, y0, ca, y2, cb}));
    uint8_t r8[4] = {};
    algorithm->RGB2R8(rgb, r8, 2, 2);
    EXPECT_EQ(std::vector<uint8_t>(r8, r8 + 4), (std::vector<uint8_t>{255, 0, 0, 0}));
}

// Sites after mirroring: source index (x + 2y) feeding byte 0, byte 2 and the
// green of the pixel next to the byte-0 site in its column.
TEST(CAlgorithmBayer, FlipBayerSites)
{
    struct Case {
        int pattern;
        bool vertical, horizontal;
        int s0, s2, g1;
    } cases[] = {
        {0, false, false, 3, 0, 1}, {0, false, true, 2, 1, 0},  {0, true, false, 1, 2, 3},
        {0, true, true, 0, 3, 2},   {1, false, false, 0, 3, 2}, {1, false, true, 1, 2, 3},
        {1, true, false, 2, 1, 0},  {1, true, true, 3, 0, 1},   {2, false, false, 2, 1, 0},
        {2, false, true, 3, 0, 1},  {2, true, false, 0, 3, 2},  {2, true, true, 1, 2, 3},
        {3, false, false, 1, 2, 3}, {3, false, true, 0, 3, 2},  {3, true, false, 3, 0, 1},
        {3, true, true, 2, 1, 0},
    };
    uint8_t src[4] = {10, 20, 30, 40};
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "pattern " << c.pattern << " v " << c.vertical << " h " << c.horizontal);
        auto algorithm = MakeAlgorithm(c.pattern);
        algorithm->FlipBayer(c.vertical, c.horizontal);
        algorithm->SetWidth(2, 2);
        uint8_t rgb[12] = {};
        algorithm->BayerCopy(src, 2, 0, rgb);
        const int g2 = 3 - c.g1;
        for (int p = 0; p < 4; ++p) {
            EXPECT_EQ(rgb[3 * p], src[c.s0]);
            EXPECT_EQ(rgb[3 * p + 2], src[c.s2]);
            const int green = p == c.g1 ? src[c.g1] : p == g2 ? src[g2] : (src[c.g1] + src[g2]) / 2;
            EXPECT_EQ(rgb[3 * p + 1], green) << "pixel " << p;
        }
    }
}

TEST(CAlgorithmBayer, SetBayerReplacesTheSitesOfTheLastPattern)
{
    auto algorithm = MakeAlgorithm(0);
    algorithm->SetBayer(BayerPattern(1));
    algorithm->SetWidth(2, 2);
    uint8_t src[4] = {10, 20, 30, 40}, rgb[12] = {};
    algorithm->BayerCopy(src, 2, 0, rgb);
    EXPECT_EQ(rgb[0], 10);
    EXPECT_EQ(rgb[2], 40);
}

TEST(CAlgorithmBayer, OddHeightRepeatsTheLastComputedRow)
{
    auto algorithm = MakeAlgorithm();
    const int width = 6, height = 5;
    auto src = RandomSamples<uint8_t>(width * height, 7, 255);
    for (IMAGE_TYPE type : {IMAGE_TYPE_8BIT, IMAGE_TYPE_RGB24, IMAGE_TYPE_YUV422}) {
        const int rowBytes = width * (type == IMAGE_TYPE_RGB24  ? 3
                                      : type == IMAGE_TYPE_8BIT ? 1
                                                                : 2);
        std::vector<uint8_t> dst(rowBytes * height, 0xEE);
        algorithm->BayerConv(src.data(), dst.data(), width, height, type, false, false);
        EXPECT_TRUE(std::equal(dst.begin() + 3 * rowBytes, dst.begin() + 4 * rowBytes,
                               dst.begin() + 4 * rowBytes))
            << "type " << type;
        EXPECT_NE(dst[4 * rowBytes], 0xEE);
    }
}

TEST(CAlgorithmBayer, DegenerateSizesAndTypesWriteNothing)
{
    auto algorithm = MakeAlgorithm();
    uint8_t src[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    struct Case {
        int width, height;
        IMAGE_TYPE type;
    } cases[] = {{4, 1, IMAGE_TYPE_RGB24},
                 {1, 1, IMAGE_TYPE_8BIT},
                 {4, 4, IMAGE_TYPE_WORD32},
                 {4, 4, IMAGE_TYPE_RAW16},
                 {0, 4, IMAGE_TYPE_RGB24}};
    for (const Case &c : cases) {
        std::vector<uint8_t> dst(64, 0xEE);
        algorithm->BayerConv(src, dst.data() + 16, c.width, c.height, c.type, false, false);
        EXPECT_EQ(std::count(dst.begin(), dst.end(), 0xEE), 64)
            << c.width << " x " << c.height << " type " << c.type;
    }
}

// Every pixel of the row kernels against the cell walk, on random frames.
TEST(CAlgorithmBayer, RowPathEqualsCellWalk)
{
    struct Size {
        int width, height;
        bool allBuilds; // through every kernel build, not only the widest
    } sizes[] = {{2, 2, true},    {3, 5, true},       {5, 3, true},  {4, 4, true},
                 {7, 7, true},    {36, 6, true},      {37, 9, true}, {40, 11, true},
                 {101, 67, true}, {6248, 4176, false}};
    struct Balance {
        int first, second;
    } balances[] = {{50, 50}, {1, 100}, {73, 28}, {100, 99}, {128, 127}, {300, 50}, {50, 0}};
    const IMAGE_TYPE types[] = {IMAGE_TYPE_8BIT, IMAGE_TYPE_RGB24, IMAGE_TYPE_YUV422};
    for (const Size &size : sizes) {
        const bool large = size.width * size.height > 100000;
        const size_t pixels = size_t(size.width) * size.height;
        auto src = RandomSamples<uint8_t>(pixels, unsigned(size.width * 131 + size.height), 255);
        auto stale = RandomSamples<uint8_t>(pixels * 3, 99, 255);
        int combination = 0;
        for (int pattern = 0; pattern < 4; ++pattern) {
            for (int flips = 0; flips < 4; ++flips) {
                for (const Balance &balance : balances) {
                    for (IMAGE_TYPE type : types) {
                        // The full frame takes each pattern and flip once, rotating
                        // through balances and types.
                        if (large && combination++ % (std::size(balances) * 3 + 1) != 0)
                            continue;
                        SCOPED_TRACE(testing::Message()
                                     << size.width << " x " << size.height << " pattern " << pattern
                                     << " flips " << flips << " wb " << balance.first << "/"
                                     << balance.second << " type " << type);
                        auto fast = MakeAlgorithm(pattern), cells = MakeAlgorithm(pattern);
                        fast->SetRGBWB(balance.first, balance.second);
                        cells->SetRGBWB(balance.first, balance.second);
                        std::vector<uint8_t> expected = stale;
                        const bool vertical = flips & 1, horizontal = flips & 2;
                        ReferenceBayerConv(*cells, src.data(), expected.data(), size.width,
                                           size.height, type, vertical, horizontal);
                        for (auto level : KERNEL_LEVELS) {
                            if (level != KERNEL_LEVELS[0] && !size.allBuilds)
                                continue;
                            KernelLimit limit(level);
                            std::vector<uint8_t> actual = stale;
                            fast->BayerConv(src.data(), actual.data(), size.width, size.height,
                                            type, vertical, horizontal);
                            ASSERT_EQ(FirstDifference(expected, actual), -1) << "kernels " << level;
                        }
                    }
                }
            }
        }
    }
}

// Flat colours make every interior pixel the same (byte 0, green, byte 2),
// reaching the values whose table entries have no fraction (0, 125, 250).
TEST(CAlgorithmBayer, RowPathEqualsCellWalkOnFlatColours)
{
    const int values[] = {0, 1, 124, 125, 126, 249, 250, 255};
    const int width = 40, height = 5;
    auto fast = MakeAlgorithm(0), cells = MakeAlgorithm(0);
    for (int s0 : values)
        for (int green : values)
            for (int s2 : values) {
                // Pattern 0: byte-0 site at (1, 1), byte-2 site at (0, 0).
                std::vector<uint8_t> src(width * height);
                for (int y = 0; y < height; ++y)
                    for (int x = 0; x < width; ++x)
                        src[y * width + x] = uint8_t((x & 1) && (y & 1)     ? s0
                                                     : !(x & 1) && !(y & 1) ? s2
                                                                            : green);
                for (IMAGE_TYPE type : {IMAGE_TYPE_8BIT, IMAGE_TYPE_RGB24, IMAGE_TYPE_YUV422}) {
                    std::vector<uint8_t> expected(width * height * 3), actual(expected.size());
                    ReferenceBayerConv(*cells, src.data(), expected.data(), width, height, type,
                                       false, false);
                    fast->BayerConv(src.data(), actual.data(), width, height, type, false, false);
                    ASSERT_EQ(FirstDifference(expected, actual), -1)
                        << s0 << " " << green << " " << s2 << " type " << type;
                }
            }
}

// Plain-formula binning, out of place.
std::vector<unsigned> ReferenceMonoBin(const std::vector<unsigned> &in, int width, int height,
                                       int bin, bool is16)
{
    std::vector<unsigned> out(size_t(width) * height);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            uint64_t sum = 0;
            for (int i = 0; i < bin; ++i)
                for (int j = 0; j < bin; ++j)
                    sum += in[size_t(r * bin + i) * width * bin + c * bin + j];
            out[size_t(r) * width + c] =
                unsigned(is16 ? sum / (bin * bin) : std::min<uint64_t>(sum, 255));
        }
    return out;
}

std::vector<unsigned> ReferenceColorBin(const std::vector<unsigned> &in, int width, int height,
                                        int bin, bool is16)
{
    const size_t rowLength = size_t(width) * bin, total = rowLength * height * bin;
    const int innerRows = (height - 1) / 2 * 2, innerCols = (width - 1) / 2 * 2;
    const uint64_t limit = is16 ? 65535 : 255;
    std::vector<unsigned> out(size_t(width) * height);
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            const bool inner = r < innerRows && c < innerCols;
            size_t row0 = size_t(r & ~1) * bin + (r & 1), col0 = size_t(c & ~1) * bin + (c & 1);
            if (inner) {
                row0 += ((r & 1) * bin) & ~1;
                col0 += ((c & 1) * bin) & ~1;
            }
            uint64_t sum = 0, n = 0;
            for (int i = 0; i < bin; ++i)
                for (int j = 0; j < bin; ++j) {
                    const size_t index = (row0 + 2 * i) * rowLength + col0 + 2 * j;
                    if (inner || index < total) {
                        sum += in[index];
                        ++n;
                    }
                }
            uint64_t value;
            if (inner)
                value = is16 ? sum / (bin * bin) : sum;
            else
                value = is16 ? sum / n : bin * bin * (sum / n);
            out[size_t(r) * width + c] = unsigned(std::min(value, limit));
        }
    return out;
}

TEST(CAlgorithmBinning, ExactSumsAndLimits)
{
    auto algorithm = MakeAlgorithm();
    uint8_t samples8[4] = {100, 100, 100, 100};
    algorithm->MonoBin(samples8, nullptr, 1, 1, 2, false);
    EXPECT_EQ(samples8[0], 255);
    uint16_t samples16[4] = {1000, 1000, 1000, 1001};
    algorithm->MonoBin(reinterpret_cast<uint8_t *>(samples16), samples16, 1, 1, 2, true);
    EXPECT_EQ(samples16[0], 1000);

    // 4 x 4 output of an 8 x 8 mosaic holding twice its indices: odd outputs
    // start one bin further on, edges average what they find.
    std::vector<uint8_t> mosaic(64);
    for (int i = 0; i < 64; ++i)
        mosaic[i] = uint8_t(2 * i);
    algorithm->ColorRAWBin(mosaic.data(), nullptr, 4, 4, 2, false);
    EXPECT_EQ(mosaic[0], 2 * (0 + 2 + 16 + 18));
    EXPECT_EQ(mosaic[1], 2 * (3 + 5 + 19 + 21));
    EXPECT_EQ(mosaic[2], 2 * (4 + 6 + 20 + 22));
    EXPECT_EQ(mosaic[4], 255);  // 2 x (24 + 26 + 40 + 42) limited
    EXPECT_EQ(mosaic[15], 255); // 4 x (2 x (45 + 47 + 61 + 63) / 4) limited

    std::vector<uint8_t> untouched = {1, 2, 3, 4};
    std::vector<uint8_t> copy = untouched;
    algorithm->ColorRAWBin(copy.data(), nullptr, 2, 2, 1, false);
    algorithm->ColorRAWBin(nullptr, reinterpret_cast<uint16_t *>(copy.data()), 1, 1, 2, true);
    algorithm->MonoBin(copy.data(), nullptr, 2, 2, 0, false);
    EXPECT_EQ(copy, untouched);
}

// One binning case through the library, in place, against the formula.
void CheckBinning(CAlgorithm &algorithm, int width, int height, int bin, bool is16, bool colour)
{
    const size_t count = size_t(width) * height * bin * bin;
    auto input = RandomSamples<unsigned>(count, unsigned(count + bin), is16 ? 65535 : 100);
    auto expected = colour ? ReferenceColorBin(input, width, height, bin, is16)
                           : ReferenceMonoBin(input, width, height, bin, is16);
    expected.insert(expected.end(), input.begin() + expected.size(), input.end());
    std::vector<uint16_t> buf16(input.begin(), input.end());
    std::vector<uint8_t> buf8(input.begin(), input.end());
    auto run = colour ? &CAlgorithm::ColorRAWBin : &CAlgorithm::MonoBin;
    if (is16)
        (algorithm.*run)(reinterpret_cast<uint8_t *>(buf16.data()), buf16.data(), width, height,
                         bin, true);
    else
        (algorithm.*run)(buf8.data(), nullptr, width, height, bin, false);
    std::vector<unsigned> actual = is16 ? std::vector<unsigned>(buf16.begin(), buf16.end())
                                        : std::vector<unsigned>(buf8.begin(), buf8.end());
    ASSERT_EQ(FirstDifference(expected, actual), -1);
}

TEST(CAlgorithmBinning, InPlaceEqualsFormula)
{
    auto algorithm = MakeAlgorithm();
    struct Size {
        int width, height;
    } sizes[] = {{1, 1}, {2, 1}, {1, 3}, {3, 3}, {5, 4}, {70, 5}, {131, 7}};
    for (auto level : KERNEL_LEVELS) {
        KernelLimit limit(level);
        for (bool is16 : {false, true})
            for (bool colour : {false, true})
                for (int bin = 2; bin <= 5; ++bin)
                    for (const Size &size : sizes) {
                        SCOPED_TRACE(testing::Message()
                                     << "kernels " << level << " " << size.width << " x "
                                     << size.height << " bin " << bin << (is16 ? " 16" : " 8")
                                     << "-bit" << (colour ? " colour" : " mono"));
                        CheckBinning(*algorithm, size.width, size.height, bin, is16, colour);
                        if (HasFatalFailure())
                            return;
                    }
    }
}

TEST(CAlgorithmMirror, TwoByTwo)
{
    struct Case {
        bool vertical, horizontal;
        std::vector<uint8_t> expected;
    } cases[] = {{true, true, {4, 3, 2, 1}},
                 {true, false, {3, 4, 1, 2}},
                 {false, true, {2, 1, 4, 3}},
                 {false, false, {1, 2, 3, 4}}};
    auto algorithm = MakeAlgorithm();
    for (const Case &c : cases) {
        std::vector<uint8_t> buf8 = {1, 2, 3, 4};
        std::vector<uint16_t> buf16 = {1, 2, 3, 4};
        algorithm->SoftMisc(buf8.data(), 2, 2, false, c.vertical, c.horizontal);
        algorithm->SoftMisc(reinterpret_cast<uint8_t *>(buf16.data()), 2, 2, true, c.vertical,
                            c.horizontal);
        EXPECT_EQ(buf8, c.expected) << c.vertical << c.horizontal;
        EXPECT_EQ(std::vector<uint8_t>(buf16.begin(), buf16.end()), c.expected);
    }
}

template <typename T>
std::vector<T> ReferenceMirror(std::vector<T> buf, int width, int height, bool vertical,
                               bool horizontal)
{
    std::vector<T> out(buf.size());
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < width; ++c) {
            const int fromRow = vertical ? height - 1 - r : r;
            const int fromCol = horizontal ? width - 1 - c : c;
            out[size_t(r) * width + c] = buf[size_t(fromRow) * width + fromCol];
        }
    return out;
}

TEST(CAlgorithmMirror, LargeOddBuffers)
{
    auto algorithm = MakeAlgorithm();
    struct Size {
        int width, height;
    } sizes[] = {{1, 1}, {129, 7}, {200, 3}, {3, 101}};
    for (const Size &size : sizes)
        for (int flips = 1; flips < 4; ++flips) {
            const bool vertical = flips & 1, horizontal = flips & 2;
            SCOPED_TRACE(testing::Message()
                         << size.width << " x " << size.height << " flips " << flips);
            const size_t count = size_t(size.width) * size.height;
            auto buf8 = RandomSamples<uint8_t>(count, 3, 255);
            auto buf16 = RandomSamples<uint16_t>(count, 4, 65535);
            auto expected8 = ReferenceMirror(buf8, size.width, size.height, vertical, horizontal);
            auto expected16 = ReferenceMirror(buf16, size.width, size.height, vertical, horizontal);
            algorithm->SoftMisc(buf8.data(), size.width, size.height, false, vertical, horizontal);
            algorithm->SoftMisc(reinterpret_cast<uint8_t *>(buf16.data()), size.width, size.height,
                                true, vertical, horizontal);
            EXPECT_EQ(FirstDifference(expected8, buf8), -1);
            EXPECT_EQ(FirstDifference(expected16, buf16), -1);
        }
}

TEST(CAlgorithmPixels, SubtractDark)
{
    auto algorithm = MakeAlgorithm();
    struct Case {
        uint8_t img, dark;
        uint32_t offset;
        uint8_t expected;
    } cases[] = {{10, 20, 5, 5}, {250, 0, 10, 255},  {200, 50, 0, 150},      {0, 0, 255, 255},
                 {7, 7, 0, 0},   {100, 1, 300, 255}, {9, 8, 0xFFFFFFFF, 255}};
    for (const Case &c : cases) {
        // Long enough for the vector loop, with the case in the middle.
        std::vector<uint8_t> img(100, c.img), dark(100, c.dark);
        algorithm->SubtractDark(img.data(), 10, 10, c.offset, dark.data());
        EXPECT_EQ(img[57], c.expected) << int(c.img) << " - " << int(c.dark) << " + " << c.offset;
        EXPECT_EQ(std::count(img.begin(), img.end(), c.expected), 100);
    }
    std::vector<uint8_t> img(4, 9);
    algorithm->SubtractDark(img.data(), 2, 2, 1, nullptr);
    EXPECT_EQ(img, std::vector<uint8_t>(4, 9));
}

TEST(CAlgorithmPixels, GammaLooksUpEveryPixel)
{
    auto algorithm = MakeAlgorithm();
    auto table8 = RandomSamples<uint8_t>(256, 5, 255);
    auto table16 = RandomSamples<uint16_t>(65536, 6, 65535);
    for (auto level : KERNEL_LEVELS) {
        KernelLimit limit(level);
        auto buf8 = RandomSamples<uint8_t>(1013 * 3, 7, 255);
        auto buf16 = RandomSamples<uint16_t>(1013 * 3, 8, 65535);
        std::vector<uint8_t> expected8 = buf8;
        std::vector<uint16_t> expected16 = buf16;
        for (auto &v : expected8)
            v = table8[v];
        for (auto &v : expected16)
            v = table16[v];
        algorithm->Gamma(buf8.data(), table8.data(), 1013, 3);
        algorithm->Gamma(buf16.data(), table16.data(), 1013, 3);
        EXPECT_EQ(FirstDifference(expected8, buf8), -1) << "kernels " << level;
        EXPECT_EQ(FirstDifference(expected16, buf16), -1) << "kernels " << level;
    }
}

TEST(CAlgorithmStatistics, UniformArea)
{
    auto algorithm = MakeAlgorithm();
    const int stride = 64, height = 48;
    std::vector<uint8_t> raw8(stride * height, 80);
    std::vector<uint16_t> raw16(stride * height, 80 << 8);
    for (bool is16 : {false, true}) {
        int deviation[3] = {-1, -1, -1}, average[3] = {-1, -1, -1};
        uint8_t *raw = is16 ? reinterpret_cast<uint8_t *>(raw16.data()) : raw8.data();
        algorithm->Get_variance_ave_RAW(raw, 3, 5, 40, 30, stride, height, deviation, average,
                                        is16);
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(average[k], 79) << "channel " << k;
            EXPECT_EQ(deviation[k], 9) << "channel " << k;
        }
    }
}

TEST(CAlgorithmStatistics, ChannelsFollowTheChannelMap)
{
    // Pattern 0: code 0 at (0, 0), code 2 at (1, 1). A bright code-0 site
    // raises channel 0 only; the average is limited to 255.
    auto algorithm = MakeAlgorithm(0);
    const int stride = 20;
    std::vector<uint16_t> raw(stride * 20, 0);
    for (int y = 0; y < 20; y += 2)
        for (int x = 0; x < 20; x += 2)
            raw[y * stride + x] = 65535;
    int deviation[3], average[3];
    algorithm->Get_variance_ave_RAW(reinterpret_cast<uint8_t *>(raw.data()), 0, 0, 10, 10, stride,
                                    20, deviation, average, true);
    // Sum 100 x 65535 >> 8 = 25599, / 101 = 253; deviation |255 - 253| x 100 x 10 / 101.
    EXPECT_EQ(average[0], 253);
    EXPECT_EQ(average[1], 0);
    EXPECT_EQ(average[2], 0);
    EXPECT_EQ(deviation[0], 19);
    EXPECT_EQ(deviation[1], 0);
}

} // namespace
