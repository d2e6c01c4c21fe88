// Dark frames, hot-pixel maps, the flash image format and the time stamp of
// the camera object, on a small test model without a device.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "tests/TempHome.h"
#include "tests/TestCamera.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Pixel = std::pair<int, int>; // (x, y)

constexpr int kSide = 64; // 64 x 64 sensor: a 512-byte packed hot-pixel map

std::unique_ptr<TestCamera> MakeCamera(bool color = true, int width = kSide, int height = kSide)
{
    auto camera = std::make_unique<TestCamera>(width, height, color);
    camera->InitCamera();
    return camera;
}

Bytes RandomBytes(size_t count, unsigned seed, int maxValue = 255)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> value(0, maxValue);
    Bytes bytes(count);
    for (uint8_t &b : bytes)
        b = uint8_t(value(generator));
    return bytes;
}

Bytes ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string &path, const Bytes &bytes)
{
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
}

Bytes Copy(const uint8_t *data, size_t count)
{
    return Bytes(data, data + count);
}

class CameraTest : public ::testing::Test {
protected:
    std::string File(const char *name) const { return home.path() + "/" + name; }

    TempHome home;
    std::unique_ptr<TestCamera> camera = MakeCamera();
};

// ---- Flash image format ----

// The stream decoded plainly: the map, or nothing when a pair points past it.
std::optional<Bytes> ReferenceUncompress(const Bytes &image, size_t mapSize)
{
    Bytes map(mapSize, 0);
    size_t base = 0;
    for (size_t pos = 8; pos + 1 < image.size(); pos += 2) {
        const uint8_t position = image[pos], value = image[pos + 1];
        if (position == 0 && value == 0) {
            base += 256;
            continue;
        }
        const size_t target = base + position / 16 + 16 * (position % 16);
        if (target >= mapSize)
            return std::nullopt;
        map[target] = value;
    }
    return map;
}

std::optional<Bytes> Uncompress(TestCamera &camera, Bytes image, bool compressed = true)
{
    std::unique_ptr<uint8_t[]> map(camera.Uncompress(image.data(), int(image.size()), compressed));
    if (!map)
        return std::nullopt;
    return Copy(map.get(), compressed ? kSide * kSide / 8 : image.size() - 8);
}

TEST_F(CameraTest, CompressesTheSinglePixelMapToTwelveBytes)
{
    Bytes map(512, 0);
    map[300] = 0x01;
    int length = 0;
    std::unique_ptr<uint8_t[]> image(camera->Compress(map.data(), 512, &length, true));
    const Bytes expected{'O', 'R', 'U', 'D', 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00, 0xC2, 0x01};
    ASSERT_EQ(length, 12);
    EXPECT_EQ(Copy(image.get(), 12), expected);
    EXPECT_EQ(Uncompress(*camera, expected), map);
}

TEST_F(CameraTest, MapsRoundTripInBothForms)
{
    Bytes sparse = RandomBytes(512, 7);
    for (uint8_t &b : sparse)
        b = b < 12 ? uint8_t(b * 21 + 1) : 0;
    const Bytes dense(512, 0xA5); // every byte a pair: longer than the map itself
    const Bytes empty(512, 0);
    for (const Bytes &map : {sparse, dense, empty}) {
        for (bool compressed : {true, false}) {
            Bytes input = map;
            int length = 0;
            std::unique_ptr<uint8_t[]> image(
                camera->Compress(input.data(), 512, &length, compressed));
            const Bytes stored = Copy(image.get(), size_t(length));
            const Bytes marker = compressed ? Bytes{'O', 'R', 'U', 'D'} : Bytes{'O', 'R', 'U', 'G'};
            EXPECT_EQ(Bytes(stored.begin(), stored.begin() + 4), marker);
            EXPECT_EQ(Bytes(stored.begin() + 4, stored.begin() + 8),
                      (Bytes{0, 0, uint8_t(length >> 8), uint8_t(length)}));
            EXPECT_EQ(Uncompress(*camera, stored, compressed), map)
                << "compressed " << compressed << ", length " << length;
        }
    }
}

TEST_F(CameraTest, UncompressNeverWritesPastTheMap)
{
    struct Case {
        const char *name;
        Bytes pairs;
        bool refused;
    };
    const Bytes closeBlock{0, 0};
    Bytes thousandBlocks;
    for (int i = 0; i < 1000; ++i)
        thousandBlocks.insert(thousandBlocks.end(), closeBlock.begin(), closeBlock.end());
    Bytes farPair = thousandBlocks;
    farPair.insert(farPair.end(), {0x01, 0x01});
    const Case cases[] = {
        {"last byte of the map", {0, 0, 0xFF, 0x01}, false},
        {"first byte of a third block", {0, 0, 0, 0, 0x10, 0x01}, true},
        {"block ends only", {0, 0, 0, 0, 0, 0}, false},
        {"a thousand blocks on", farPair, true},
        {"odd trailing byte", {0x11, 0x05, 0x22}, false},
        {"header only", {}, false},
    };
    for (const Case &c : cases) {
        Bytes image{'O', 'R', 'U', 'D', 0, 0, 0, 0};
        image.insert(image.end(), c.pairs.begin(), c.pairs.end());
        const std::optional<Bytes> got = Uncompress(*camera, image);
        EXPECT_EQ(!got, c.refused) << c.name;
        EXPECT_EQ(got, ReferenceUncompress(image, kSide * kSide / 8)) << c.name;
    }

    std::mt19937 generator(2024);
    std::uniform_int_distribution<int> byte(0, 255), length(1, 700), percent(0, 99);
    for (int run = 0; run < 3000; ++run) {
        Bytes image{'O', 'R', 'U', 'D'};
        image.resize(size_t(length(generator)), 0);
        for (size_t i = 4; i + 1 < image.size(); i += 2) {
            const bool close = percent(generator) < 30;
            image[i] = close ? 0 : uint8_t(byte(generator));
            image[i + 1] = close ? 0 : uint8_t(byte(generator));
        }
        ASSERT_EQ(Uncompress(*camera, image), ReferenceUncompress(image, kSide * kSide / 8))
            << "run " << run << ", length " << image.size();
    }

    Bytes tooShort{'O', 'R', 'U', 'G', 0, 0, 0};
    EXPECT_EQ(camera->Uncompress(tooShort.data(), int(tooShort.size()), false), nullptr);
    EXPECT_EQ(camera->Uncompress(tooShort.data(), -1, true), nullptr);
}

// ---- Dark bitmap ----

class DarkBitmapTest : public CameraTest {
protected:
    // Loads a valid dark frame and returns it.
    Bytes LoadValidDark()
    {
        Bytes dark = RandomBytes(kSide * kSide, 3);
        const std::string path = File("valid.bmp");
        EXPECT_TRUE(camera->CreateBMP(kSide, kSide, dark.data(), const_cast<char *>(path.c_str())));
        EXPECT_EQ(camera->LoadBMPFromFile(const_cast<char *>(path.c_str())), ORU_SUCCESS);
        return dark;
    }

    ORU_ERROR_CODE Load(const std::string &path)
    {
        return camera->LoadBMPFromFile(const_cast<char *>(path.c_str()));
    }
};

void PutLE32(Bytes &bytes, size_t offset, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = uint8_t(value >> (8 * i));
}

TEST_F(DarkBitmapTest, LoadsWhatItWroteAndSwitchesSubtractionOn)
{
    const Bytes dark = LoadValidDark();
    EXPECT_TRUE(camera->Settings().m_bCutDark);
    const Bytes frame = camera->GetDarkFrame().Frame();
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(frame, dark);
    EXPECT_STREQ(camera->Settings().m_szBMPPath, File("valid.bmp").c_str());
}

TEST_F(DarkBitmapTest, RefusesMismatchedOrDamagedFilesAndKeepsTheCurrentDark)
{
    const Bytes dark = LoadValidDark();
    const Bytes valid = ReadFile(File("valid.bmp"));
    struct Case {
        const char *name;
        void (*damage)(Bytes &);
    };
    const Case cases[] = {
        {"16 bits per pixel", [](Bytes &b) { b[28] = 16; }},
        {"one pixel narrower", [](Bytes &b) { PutLE32(b, 18, kSide - 1); }},
        {"one row taller", [](Bytes &b) { PutLE32(b, 22, kSide + 1); }},
        {"top-down rows", [](Bytes &b) { PutLE32(b, 22, uint32_t(-kSide)); }},
        {"not a bitmap", [](Bytes &b) { b[1] = 'X'; }},
        {"cut inside the header", [](Bytes &b) { b.resize(30); }},
        {"pixel data beyond the file", [](Bytes &b) { PutLE32(b, 10, uint32_t(b.size()) + 16); }},
        {"run-length compressed", [](Bytes &b) { b[30] = 1; }},
        {"short pixel block", [](Bytes &b) { b.resize(b.size() - 100); }},
    };
    for (const Case &c : cases) {
        Bytes damaged = valid;
        c.damage(damaged);
        WriteFile(File("damaged.bmp"), damaged);
        EXPECT_EQ(Load(File("damaged.bmp")), ORU_ERROR_INVALID_FILEFORMAT) << c.name;
        EXPECT_TRUE(camera->Settings().m_bCutDark) << c.name;
        EXPECT_EQ(camera->GetDarkFrame().Frame(), dark) << c.name;
    }
}

TEST_F(DarkBitmapTest, MissingFileSwitchesSubtractionOff)
{
    LoadValidDark();
    EXPECT_EQ(Load(File("missing.bmp")), ORU_ERROR_INVALID_PATH);
    EXPECT_FALSE(camera->Settings().m_bCutDark);
    EXPECT_TRUE(camera->GetDarkFrame().Frame().empty());
    EXPECT_TRUE(camera->GetDarkFrame().Adjusted().empty());
}

TEST_F(DarkBitmapTest, ImageToolReadsTheBitmapBack)
{
    // 30 is not a multiple of 4: the rows carry padding.
    const int width = 30, height = 5;
    Bytes pixels = RandomBytes(size_t(width) * height, 11);
    const std::string bmp = File("tool.bmp"), raw = File("tool.raw");
    ASSERT_TRUE(camera->CreateBMP(width, height, pixels.data(), const_cast<char *>(bmp.c_str())));
    const std::string command =
        "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
        "open(sys.argv[2], 'wb').write(b'%d %d\\n' % im.size + im.convert('L').tobytes())\" " +
        bmp + " " + raw;
    ASSERT_EQ(std::system(command.c_str()), 0);
    const Bytes dump = ReadFile(raw);
    const std::string size = std::to_string(width) + " " + std::to_string(height) + "\n";
    ASSERT_GE(dump.size(), size.size());
    EXPECT_EQ(std::string(dump.begin(), dump.begin() + long(size.size())), size);
    // The first buffer row is the first row in the file: the bottom row of the picture.
    Bytes expected;
    for (int y = height - 1; y >= 0; --y)
        expected.insert(expected.end(), pixels.begin() + y * width,
                        pixels.begin() + (y + 1) * width);
    EXPECT_EQ(Bytes(dump.begin() + long(size.size()), dump.end()), expected);
}

// ---- Dark recording and subtraction ----

TEST_F(CameraTest, DarkFramesToAverageFollowTheExposure)
{
    const std::pair<uint64_t, int> cases[] = {{100000, 5}, {101000, 4}, {326000, 3},
                                              {551000, 2}, {775999, 2}, {800000, 1}};
    for (const auto &[exposureUs, frames] : cases) {
        camera->SetExp(exposureUs, false);
        EXPECT_EQ(camera->GettingDark(true, 0), frames) << exposureUs << " us";
    }
}

TEST_F(CameraTest, RecordingAveragesTheFramesIntoTheDark)
{
    camera->SetExp(101000, false); // 4 frames
    ASSERT_EQ(camera->GettingDark(true, 0), 4);
    const size_t count = size_t(kSide) * kSide;
    for (int frame = 0; frame < 4; ++frame) {
        ASSERT_TRUE(camera->GetDarkFrame().IsRecording()) << "frame " << frame;
        for (size_t i = 0; i < count; ++i)
            camera->GetImgBuf()[i] = uint8_t(i % 200 + frame);
        camera->DoGetDark(camera->GetImgBuf());
    }
    EXPECT_FALSE(camera->GetDarkFrame().IsRecording());
    const Bytes dark = camera->GetDarkFrame().Frame();
    ASSERT_EQ(dark.size(), count);
    for (size_t i = 0; i < count; ++i) {
        int expected = 0;
        for (int frame = 0; frame < 4; ++frame)
            expected += int(i % 200 + frame) / 4;
        ASSERT_EQ(dark[i], expected) << "byte " << i;
    }
    // The adjusted copy is ready for subtraction.
    EXPECT_EQ(camera->GetDarkFrame().Adjusted(), dark);
}

TEST_F(DarkBitmapTest, SubtractsTheDarkCutToTheRegionOfInterest)
{
    struct Case {
        const char *name;
        int width, height, startX, startY;
        bool autoExp;
        uint64_t exposureUs;
        bool subtracted;
    };
    const Case cases[] = {
        {"full frame", kSide, kSide, 0, 0, false, 1000, true},
        {"region", 16, 8, 8, 4, false, 1000, true},
        {"short automatic exposure", kSide, kSide, 0, 0, true, 499999, false},
        {"long automatic exposure", 16, 8, 8, 4, true, 500000, true},
    };
    Bytes dark(size_t(kSide) * kSide);
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            dark[size_t(y) * kSide + x] = uint8_t((3 * x + y) % 60);
    const std::string path = File("dark.bmp");
    ASSERT_TRUE(camera->CreateBMP(kSide, kSide, dark.data(), const_cast<char *>(path.c_str())));
    ASSERT_EQ(Load(path), ORU_SUCCESS);

    for (const Case &c : cases) {
        camera->SetExp(c.exposureUs, c.autoExp);
        camera->SetResolution(c.width, c.height, 1, IMAGE_TYPE_8BIT);
        camera->SetStartPos(c.startX, c.startY);
        int sum = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x)
                sum += dark[size_t(c.startY + y) * kSide + c.startX + x];
        const int average = sum / (c.width * c.height);
        const int count = c.width * c.height;
        std::memset(camera->GetImgBuf(), 100, size_t(count));
        camera->SubtractDark(camera->GetImgBuf());
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) {
                const int d = dark[size_t(c.startY + y) * kSide + c.startX + x];
                const int expected =
                    c.subtracted ? std::min(255, std::max(0, 100 - d) + average) : 100;
                ASSERT_EQ(camera->GetImgBuf()[y * c.width + x], expected)
                    << c.name << " at (" << x << ", " << y << ")";
            }
        }
    }
}

TEST_F(DarkBitmapTest, HardwareBinAveragesOrSumsTheDark)
{
    camera->EditableSettings().m_bHardwareBin = true;
    for (bool sums : {false, true}) {
        camera->DescribeModel().m_bHWBinSums = sums;
        Bytes dark(size_t(kSide) * kSide, 201);
        const std::string path = File("flat.bmp");
        ASSERT_TRUE(camera->CreateBMP(kSide, kSide, dark.data(), const_cast<char *>(path.c_str())));
        ASSERT_EQ(Load(path), ORU_SUCCESS);
        camera->SetResolution(kSide / 2, kSide / 2, 2, IMAGE_TYPE_8BIT);
        ASSERT_EQ(camera->GetDarkFrame().AdjustedWidth(), kSide / 2);
        ASSERT_EQ(camera->GetDarkFrame().AdjustedHeight(), kSide / 2);
        // Four sensor pixels fall on each output pixel.
        const Bytes expected(size_t(kSide / 2) * (kSide / 2), sums ? 255 : 4 * (201 / 4));
        const Bytes adjusted = camera->GetDarkFrame().Adjusted();
        ASSERT_GE(adjusted.size(), expected.size());
        EXPECT_EQ(Copy(adjusted.data(), expected.size()), expected) << "sums " << sums;
    }
}

// ---- Hot pixels ----

class HotPixelTest : public CameraTest {
protected:
    // Marks sensor pixels in the factory map and builds the region's list.
    void MarkHot(const std::vector<Pixel> &hot)
    {
        HotPixelMap &map = camera->GetHotPixelMap();
        const int w = camera->Model().m_iMaxWidth;
        const size_t pixels = size_t(w) * camera->Model().m_iMaxHeight;
        for (size_t p = 0; p < pixels; ++p)
            map.MarkHot(p, false);
        for (const auto &[x, y] : hot)
            map.MarkHot(size_t(y) * w + x, true);
        camera->EditableSettings().m_bHPC = true;
        map.ForceRebuild();
        camera->AdjustHPCTable();
    }

    std::vector<int> HotList() const { return camera->GetHotPixelMap().HotList(); }

    // A frame of distinct values, in 8 or 16 bits.
    std::vector<int> FillFrame(bool wide)
    {
        std::vector<int> frame(size_t(kSide) * kSide);
        for (size_t i = 0; i < frame.size(); ++i) {
            frame[i] = int(i * 37 % 211) + 20;
            if (wide)
                frame[i] = frame[i] * 97 + 5; // low bits set
        }
        camera->EditableSettings().m_b16Bit = wide;
        for (size_t i = 0; i < frame.size(); ++i) {
            if (wide)
                reinterpret_cast<uint16_t *>(camera->GetImgBuf())[i] = uint16_t(frame[i]);
            else
                camera->GetImgBuf()[i] = uint8_t(frame[i]);
        }
        return frame;
    }

    int At(int x, int y) const
    {
        const size_t i = size_t(y) * kSide + x;
        return camera->Settings().m_b16Bit ? reinterpret_cast<uint16_t *>(camera->GetImgBuf())[i]
                                           : camera->GetImgBuf()[i];
    }
};

TEST_F(HotPixelTest, RepairsFromTheNearestSameColourPixels)
{
    struct Repair {
        Pixel hot;
        std::vector<Pixel> sources; // the result is their mean (after repair)
    };
    struct Case {
        const char *name;
        bool color, wide;
        std::vector<Repair> repairs;
    };
    const Case cases[] = {
        {"column 0 of a colour frame", true, false, {{{0, 10}, {{2, 10}}}}},
        {"top row", true, false, {{{10, 0}, {{12, 0}}}}},
        {"right edge", true, false, {{{63, 10}, {{61, 10}}}}},
        {"interior", true, false, {{{10, 10}, {{10, 8}, {8, 10}, {12, 10}, {10, 12}}}}},
        {"hot neighbour not yet repaired is left out",
         true,
         false,
         {{{10, 10}, {{10, 8}, {8, 10}, {10, 12}}},
          {{12, 10}, {{12, 8}, {10, 10}, {14, 10}, {12, 12}}}}},
        {"column 0 of a mono frame", false, false, {{{0, 10}, {{1, 10}}}}},
        {"mono interior", false, false, {{{10, 10}, {{10, 9}, {9, 10}, {11, 10}, {10, 11}}}}},
    };
    for (const Case &c : cases) {
        camera = MakeCamera(c.color);
        std::vector<Pixel> hot;
        for (const Repair &r : c.repairs)
            hot.push_back(r.hot);
        MarkHot(hot);
        const std::vector<int> before = FillFrame(c.wide);
        camera->HandleHotPixels(camera->GetImgBuf());
        for (const Repair &r : c.repairs) {
            int sum = 0;
            for (const auto &[x, y] : r.sources)
                sum += At(x, y);
            EXPECT_EQ(At(r.hot.first, r.hot.second), sum / int(r.sources.size()))
                << c.name << " at (" << r.hot.first << ", " << r.hot.second << ")";
        }
        int changed = 0;
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x)
                changed += At(x, y) != before[size_t(y) * kSide + x];
        EXPECT_LE(changed, int(c.repairs.size())) << c.name;
    }
}

TEST_F(HotPixelTest, SixteenBitFramesOfNarrowSensorsKeepTheirLowBitsClear)
{
    const std::pair<int, int> cases[] = {{12, 0xFFF0}, {14, 0xFFFC}, {16, 0xFFFF}};
    for (const auto &[depth, mask] : cases) {
        camera->DescribeModel().m_iBitDepth = depth;
        MarkHot({{10, 10}});
        FillFrame(true);
        const int mean = (At(10, 8) + At(8, 10) + At(12, 10) + At(10, 12)) / 4;
        camera->HandleHotPixels(camera->GetImgBuf());
        EXPECT_EQ(At(10, 10), mean & mask) << depth << " bits";
    }
}

TEST_F(HotPixelTest, RowWithHalfItsPixelsHotIsReplacedWhole)
{
    std::vector<Pixel> hot;
    for (int x = 0; x < kSide; x += 2)
        hot.push_back({x, 20});
    MarkHot(hot);
    EXPECT_TRUE(HotList().empty());
    const std::vector<int> before = FillFrame(false);
    camera->HandleHotPixels(camera->GetImgBuf());
    for (int x = 0; x < kSide; ++x)
        ASSERT_EQ(At(x, 20), (before[18 * kSide + x] + before[22 * kSide + x]) >> 1) << x;
}

TEST_F(HotPixelTest, HardwareBinningMovesTheMarksToTheBinnedPixels)
{
    // The offsets one model gives bin 2: x - 8 for both phases.
    int8_t *sensorTable = camera->DescribeModel().m_pSensorTable;
    sensorTable[32] = sensorTable[34] = -8;
    sensorTable[33] = sensorTable[35] = 0;
    camera->EditableSettings().m_bHardwareBin = true;
    camera->SetResolution(kSide / 2, kSide / 2, 2, IMAGE_TYPE_8BIT);
    const std::vector<Pixel> hot{{20, 10}, {21, 11}, {2, 10}};
    // (20, 10) -> (6, 4); (21, 11) -> (7, 5); (2, 10) falls off the left.
    MarkHot(hot);
    EXPECT_EQ(HotList(), (std::vector<int>{4 * 32 + 6, 5 * 32 + 7}));
    // Rounded rows, offsets after binning: (20, 10) -> (2, 5); (21, 11) -> (2, 6).
    camera->DescribeModel().m_bHPCRoundRows = true;
    MarkHot(hot);
    EXPECT_EQ(HotList(), (std::vector<int>{5 * 32 + 2, 6 * 32 + 2}));
}

TEST_F(HotPixelTest, ListStopsAtOneHundredThousand)
{
    camera = MakeCamera(false, 512, 512);
    std::vector<Pixel> hot;
    for (int y = 0; y < 512; ++y)
        for (int x = 0; x < 200; ++x) // under half a row: no bad rows
            hot.push_back({x, y});
    MarkHot(hot);
    const std::vector<int> list = HotList();
    ASSERT_EQ(list.size(), 100000u);
    EXPECT_EQ(list[99999], 499 * 512 + 199);
}

TEST_F(HotPixelTest, ListIsRebuiltOnlyWhenTheRegionChanges)
{
    camera->SetResolution(32, 32, 1, IMAGE_TYPE_8BIT); // starts at (16, 16)
    MarkHot({{20, 20}});
    EXPECT_EQ(HotList(), std::vector<int>{4 * 32 + 4});
    camera->GetHotPixelMap().MarkHot(20 * kSide + 21, true);
    camera->AdjustHPCTable();
    EXPECT_EQ(HotList(), std::vector<int>{4 * 32 + 4});
    camera->SetStartPos(18, 16);
    EXPECT_EQ(HotList(), (std::vector<int>{4 * 32 + 2, 4 * 32 + 3}));
}

TEST_F(DarkBitmapTest, HotPixelsOfTheDarkTakeTheirNeighboursMean)
{
    Bytes dark(size_t(kSide) * kSide, 10);
    dark[30 * kSide + 30] = 50; // more than 30 above the mean
    dark[31 * kSide + 31] = 40; // not
    const std::string path = File("hot.bmp");
    ASSERT_TRUE(camera->CreateBMP(kSide, kSide, dark.data(), const_cast<char *>(path.c_str())));
    ASSERT_EQ(Load(path), ORU_SUCCESS);
    ASSERT_EQ(camera->GetDarkFrame().HotList().size(), 1u);
    Bytes frame = RandomBytes(size_t(kSide) * kSide, 5);
    std::memcpy(camera->GetImgBuf(), frame.data(), frame.size());
    camera->HandleHotPixels(camera->GetImgBuf());
    frame[30 * kSide + 30] = uint8_t((frame[30 * kSide + 28] + frame[30 * kSide + 32]) >> 1);
    EXPECT_EQ(Copy(camera->GetImgBuf(), frame.size()), frame);
}

// The read-out repairs the dark frame's hot pixels while an ROI change
// rebuilds the list: it must never pair the list of one ROI with the size of
// another (a data race that ThreadSanitizer reports).
using DarkHotListRaceTest = DarkBitmapTest;

TEST_F(DarkHotListRaceTest, RepairAndAnRoiChangeTakeTheListWithItsSize)
{
    Bytes dark(size_t(kSide) * kSide, 10);
    dark[30 * kSide + 30] = 50;
    const std::string path = File("hot.bmp");
    ASSERT_TRUE(camera->CreateBMP(kSide, kSide, dark.data(), const_cast<char *>(path.c_str())));
    ASSERT_EQ(Load(path), ORU_SUCCESS);
    std::atomic<bool> done{false};
    std::thread readOut([&] {
        while (!done)
            camera->HandleHotPixels(camera->GetImgBuf());
    });
    for (int i = 0; i < 200; ++i) {
        const int side = i % 2 == 0 ? kSide / 2 : kSide;
        camera->SetResolution(side, side, 1, IMAGE_TYPE_8BIT);
    }
    done = true;
    readOut.join();
    // The last ROI is the whole sensor: the one hot pixel where it is.
    const std::vector<int> list = camera->GetDarkFrame().HotList();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], 30 * kSide + 30);
}

// ---- Time stamp ----

// Two glyphs known whatever the clock says: ':' and the year's leading '2'.
constexpr uint8_t kColonGlyph[16] = {0, 0, 0x38, 0x38, 0, 0, 0, 0, 0x38, 0x38, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kTwoGlyph[16] = {0x00, 0x00, 0xFE, 0xC6, 0x0C, 0x18, 0x30, 0x60,
                                   0x60, 0xC6, 0xC6, 0xC6, 0x7C, 0x00, 0x00, 0x00};

TEST_F(CameraTest, TimeMarkDrawsTheGlyphsInInkAgainstTheBackground)
{
    struct Case {
        IMAGE_TYPE type;
        uint8_t background, ink;
    };
    const Case cases[] = {{IMAGE_TYPE_8BIT, 0, 180},
                          {IMAGE_TYPE_8BIT, 150, 220},
                          {IMAGE_TYPE_RGB24, 200, 120},
                          {IMAGE_TYPE_RGB24, 129, 180}};
    const int width = 256, height = 40;
    camera->EditableSettings().m_iHeight = height;
    for (const Case &c : cases) {
        const int bytes = c.type == IMAGE_TYPE_RGB24 ? 3 : 1;
        Bytes image(size_t(width) * height * bytes, c.background);
        camera->AddTimeMark(image.data(), width, c.type);
        auto cellMatches = [&](int left, const uint8_t *glyph) {
            for (int r = -1; r <= 16; ++r) { // one row of margin above and below
                for (int k = 0; k < 8; ++k) {
                    const bool set = r >= 0 && r < 16 && (glyph[r] >> k & 1);
                    for (int b = 0; b < bytes; ++b)
                        if (image[(size_t(7 + r) * width + left + k) * bytes + b] !=
                            (set ? c.ink : c.background))
                            return false;
                }
            }
            return true;
        };
        EXPECT_TRUE(cellMatches(width - 200, kTwoGlyph)) << int(c.background);
        EXPECT_TRUE(cellMatches(width - 128 + 16, kColonGlyph)) << int(c.background);
        EXPECT_TRUE(cellMatches(width - 128 + 40, kColonGlyph)) << int(c.background);
    }
}

TEST_F(CameraTest, TimeMarkLeavesSmallFramesAndOtherTypesAlone)
{
    struct Case {
        int width, height;
        IMAGE_TYPE type;
    };
    const Case cases[] = {
        {199, 40, IMAGE_TYPE_8BIT}, {256, 22, IMAGE_TYPE_RGB24}, {256, 40, IMAGE_TYPE_RAW16}};
    for (const Case &c : cases) {
        camera->EditableSettings().m_iHeight = c.height;
        Bytes image(size_t(c.width) * c.height * 3, 0);
        camera->AddTimeMark(image.data(), c.width, c.type);
        EXPECT_EQ(image, Bytes(image.size(), 0)) << c.width << " x " << c.height;
    }
}

} // namespace
