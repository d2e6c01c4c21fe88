#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <optional>
#include <vector>

#include "tests/SetterRecordingCamera.h"

namespace {

using namespace std::chrono_literals;
using Calls = std::vector<SetterCall>;

SetterCall gain(int64_t value)
{
    return {SetterCall::Gain, value, 0, true};
}
SetterCall exposure(int64_t us)
{
    return {SetterCall::Exposure, us, 0, true};
}
SetterCall balance(int red, int blue)
{
    return {SetterCall::Balance, red, blue, true};
}

// Byte `byte` (0 or 1) of the pixel at (x, y).
using PixelFill = std::function<uint8_t(int x, int y, int byte)>;

// A frame of width x height pixels at the start of a larger buffer, as in the
// receive buffer: a step that assumes the wrong layout reads `padding` past
// the frame. The block statistics also read one row and column past a tiny
// frame.
std::vector<uint8_t> makeFrame(int width, int height, int bytesPerPixel, const PixelFill &fill,
                               uint8_t padding = 0)
{
    std::vector<uint8_t> frame(size_t(width + 2) * (height + 2) * 8, padding);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int b = 0; b < bytesPerPixel; ++b)
                frame[(size_t(y) * width + x) * bytesPerPixel + b] = fill(x, y, b);
    return frame;
}

std::vector<uint8_t> uniformFrame(int width, int height, uint8_t value)
{
    return makeFrame(width, height, 1, [=](int, int, int) { return value; });
}

// RGGB mosaic with one value per colour; 16-bit frames carry it in the high byte.
PixelFill bayer(int red, int green, int blue, bool is16 = false)
{
    return [=](int x, int y, int byte) {
        if (is16 && byte == 0)
            return uint8_t(0);
        const int site = (x & 1) + 2 * (y & 1);
        return uint8_t(site == 0 ? red : site == 3 ? blue : green);
    };
}

// `inside` over the central window the measurement samples (integer fifths,
// inclusive), `outside` elsewhere, in byte `byte` of each pixel; the other
// byte of a 16-bit pixel holds 255.
PixelFill windowed(int width, int height, uint8_t inside, uint8_t outside, int byte)
{
    return [=](int x, int y, int b) {
        if (b != byte)
            return uint8_t(255);
        const bool in =
            x >= width / 5 && x <= 4 * width / 5 && y >= height / 5 && y <= 4 * height / 5;
        return in ? inside : outside;
    };
}

class AutoControl : public ::testing::Test {
protected:
    AutoControl()
    {
        cam.DescribeModel().m_Limits.iGainMin = 0;
        cam.DescribeModel().m_Limits.iGainMax = 600; // steps: R/50 = 12, R/100 = 6
        cam.DescribeModel().m_Caps.bColor = true;
        cam.DescribeModel().m_bUSB3Camera = true;
        cam.DescribeModel().m_bFPGABin = false;
        cam.EditableSettings().m_iWidth = kWidth;
        cam.EditableSettings().m_iHeight = kHeight;
        cam.EditableSettings().m_iBin = 1;
        cam.EditableSettings().m_bHardwareBin = false;
        cam.EditableSettings().m_b16Bit = false;
        cam.SetAutoPara(300, 30000, 100); // bands 15 / 30 / 45
        cam.EditableSettings().m_iGain = 100;
        cam.EditableSettings().m_lExposure = 10000;
        cam.EditableSettings().m_iExpReg = 1000;
        cam.EditableSettings().m_iWB_R = 50;
        cam.EditableSettings().m_iWB_B = 50;
        cam.EditableSettings().m_bAutoExp = false;
        cam.EditableSettings().m_bAutoGain = false;
        cam.EditableSettings().m_bAutoWB = true;
        cam.m_Algorithm.SetBayer(ORU_BAYER_RG);
    }

    void setAutos(bool autoExp, bool autoGain)
    {
        cam.EditableSettings().m_bAutoExp = autoExp;
        cam.EditableSettings().m_bAutoGain = autoGain;
    }

    Calls expGainStep(std::vector<uint8_t> frame)
    {
        cam.clearCalls();
        cam.AutoExpGain(frame.data());
        return cam.calls();
    }

    Calls whiteBalanceStep(std::vector<uint8_t> frame)
    {
        cam.clearCalls();
        cam.AutoWhiBal(frame.data());
        return cam.calls();
    }

    // White balance blocks of at least 11 x 11 pixels keep the block
    // statistics inside the frame.
    static constexpr int kWidth = 176;
    static constexpr int kHeight = 176;
    SetterRecordingCamera cam;
};

// A uniform 8-bit frame of value v measures v + 1.
TEST_F(AutoControl, MeanWithinFifteenPercentOfTargetChangesNothing)
{
    const struct {
        uint8_t value;
        bool changes;
    } cases[] = {{83, true}, {84, false}, {100, false}, {114, false}, {115, true}};
    const std::array<std::pair<bool, bool>, 3> autos = {
        {{false, true}, {true, false}, {true, true}}};
    for (const auto &[autoExp, autoGain] : autos) {
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << "mean " << c.value + 1 << " auto exp " << autoExp
                                            << " auto gain " << autoGain);
            setAutos(autoExp, autoGain);
            cam.EditableSettings().m_iGain = 100;
            cam.EditableSettings().m_lExposure = 10000;
            EXPECT_EQ(!expGainStep(uniformFrame(kWidth, kHeight, c.value)).empty(), c.changes);
        }
    }
}

TEST_F(AutoControl, ExposureAndGainDecisions)
{
    // One case per line or two, as the table reads.
    // clang-format off
    const struct {
        const char *name;
        bool autoExp, autoGain;
        int gain;
        uint64_t exposure;
        int expReg;
        int maxExpMs;
        uint8_t value; // uniform frame; measures value + 1
        Calls expected;
    } cases[] = {
        {"gain only, dark: up by R/50", false, true, 100, 10000, 1000, 30000, 49, {gain(112)}},
        {"gain only, bright: down by R/100, no floor", false, true, 3, 10000, 1000, 30000, 199,
         {gain(-3)}},
        {"both, dark, long: gain twice", true, true, 100, 200000, 1000, 30000, 49,
         {gain(106), gain(118)}},
        {"both, dark, long, gain reaches max: exposure", true, true, 296, 200000, 1000, 30000, 49,
         {gain(300), exposure(250000)}},
        {"both, dark, short: gain, exposure, gain", true, true, 100, 10000, 1000, 30000, 49,
         {gain(106), exposure(12500), gain(112)}},
        {"both, dark, short, dead band: gain only", true, true, 100, 10000, 2, 30000, 79,
         {gain(106), gain(112)}},
        {"exp only, dark", true, false, 100, 10000, 1000, 30000, 49, {exposure(12500)}},
        {"exp only, dark, limited to the auto maximum", true, false, 100, 28000000, 1000, 30000,
         49, {exposure(30000000)}},
        {"exp only, dark, product beyond 32 bits", true, false, 100, 40000000, 1000, 60000, 0,
         {exposure(59800000)}},
        {"exp only, dark, exposure beyond 32 bits", true, false, 100, 3000000000ull, 1000, 30000,
         49, {exposure(30000000)}},
        {"exp only, bright", true, false, 100, 10000, 1000, 30000, 199, {exposure(7500)}},
        {"exp only, bright, product beyond 32 bits", true, false, 100, 40000000, 1000, 60000, 199,
         {exposure(30000000)}},
        {"both, bright, long: exposure only", true, true, 100, 200000, 1000, 30000, 199,
         {exposure(150000)}},
        {"both, bright, short", true, true, 100, 10000, 1000, 30000, 199,
         {exposure(7500), gain(94)}},
        {"both, bright, short, low gain: floor 1", true, true, 4, 10000, 1000, 30000, 199,
         {exposure(7500), gain(1)}},
        {"both, bright, short, reg 2, low gain: floor 1 twice", true, true, 4, 10000, 2, 30000,
         199, {exposure(7500), gain(1), gain(1)}},
        // Dead band for a shutter of at most two lines: 30 % at reg 2, 45 % below.
        {"reg 2, dark, inside 30 %", true, false, 100, 10000, 2, 30000, 79, {}},
        {"reg 2, dark, at 30 %", true, false, 100, 10000, 2, 30000, 69, {exposure(11500)}},
        {"reg 1, dark, inside 45 %", true, false, 100, 10000, 1, 30000, 59, {}},
        {"reg 0, dark, inside 45 %", true, false, 100, 10000, 0, 30000, 59, {}},
        {"reg 1, dark, at 45 %", true, false, 100, 10000, 1, 30000, 54, {exposure(12250)}},
        {"reg 3, dark: no dead band", true, false, 100, 10000, 3, 30000, 79, {exposure(11000)}},
        {"reg 2, bright, inside 30 %", true, false, 100, 10000, 2, 30000, 128, {}},
        {"reg 2, bright, at 30 %", true, false, 100, 10000, 2, 30000, 129, {exposure(9250)}},
        {"reg 1, bright, inside 45 %", true, false, 100, 10000, 1, 30000, 143, {}},
        {"reg 1, bright, at 45 %", true, false, 100, 10000, 1, 30000, 144, {exposure(8875)}},
    };
    // clang-format on
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        setAutos(c.autoExp, c.autoGain);
        cam.EditableSettings().m_iGain = c.gain;
        cam.EditableSettings().m_lExposure = c.exposure;
        cam.EditableSettings().m_iExpReg = c.expReg;
        cam.EditableSettings().m_iAutoMaxExpMs = c.maxExpMs;
        EXPECT_EQ(expGainStep(uniformFrame(kWidth, kHeight, c.value)), c.expected);
    }
}

TEST_F(AutoControl, AutoGainAloneClimbsByStepsAndStopsAtTheAutoMaximum)
{
    setAutos(false, true);
    cam.EditableSettings().m_iGain = 280;
    auto dark = uniformFrame(kWidth, kHeight, 40);
    for (int step = 0; step < 3; ++step)
        cam.AutoExpGain(dark.data());
    EXPECT_EQ(cam.calls(), (Calls{gain(292), gain(300), gain(300)}));
}

// A 64 x 48 raw frame holds `inside` over the sampled window and `outside`
// around it and past it; in 16-bit frames `inside` sits in byte `valueByte`
// and the other byte is 255. Gain only: a dark measurement (below 85) raises
// the gain to 112, a bright one (above 115) lowers it to 94.
TEST_F(AutoControl, MeasurementFollowsFrameLayout)
{
    const struct {
        const char *name;
        int width, height, bin; // output size and bin of the camera
        bool hardwareBin, fpgaBin, is16, usb3;
        int valueByte;
        uint8_t inside, outside;
        bool bright;
    } cases[] = {
        {"only the central window counts", 64, 48, 1, false, false, false, true, 0, 83, 255, false},
        {"software bin 2: full-size frame, mean x 4", 32, 24, 2, false, false, false, true, 0, 28,
         0, true},
        {"hardware bin 2: output-size frame, mean as is", 64, 48, 2, true, false, false, true, 0,
         28, 255, false},
        {"hardware bin 4: frame doubled, mean x 4", 32, 24, 4, true, false, false, true, 0, 28, 0,
         true},
        {"FPGA bin 2: output-size frame, mean x 4", 64, 48, 2, false, true, false, true, 0, 28, 0,
         true},
        {"16-bit: high byte", 64, 48, 1, false, false, true, true, 1, 49, 255, false},
        {"16-bit legacy USB2: first byte", 64, 48, 1, false, false, true, false, 0, 49, 255, false},
        {"16-bit software bin 2: mean not scaled", 32, 24, 2, false, false, true, true, 1, 49, 0,
         false},
    };
    constexpr int frameWidth = 64, frameHeight = 48;
    setAutos(false, true);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        cam.EditableSettings().m_iWidth = c.width;
        cam.EditableSettings().m_iHeight = c.height;
        cam.EditableSettings().m_iBin = c.bin;
        cam.EditableSettings().m_bHardwareBin = c.hardwareBin;
        cam.DescribeModel().m_bFPGABin = c.fpgaBin;
        cam.EditableSettings().m_b16Bit = c.is16;
        cam.DescribeModel().m_bUSB3Camera = c.usb3;
        cam.EditableSettings().m_iGain = 100;
        const auto frame = makeFrame(
            frameWidth, frameHeight, c.is16 ? 2 : 1,
            windowed(frameWidth, frameHeight, c.inside, c.outside, c.valueByte), c.outside);
        EXPECT_EQ(expGainStep(frame), (Calls{gain(c.bright ? 94 : 112)}));
    }
}

TEST_F(AutoControl, FrameSmallerThanFiveByFiveSkipsBothSteps)
{
    const struct {
        int width, height;
        bool measured;
    } cases[] = {{4, 48, false}, {64, 4, false}, {5, 5, true}};
    setAutos(true, true);
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        cam.EditableSettings().m_iWidth = c.width;
        cam.EditableSettings().m_iHeight = c.height;
        auto frame = makeFrame(c.width, c.height, 1, bayer(60, 20, 20));
        cam.clearCalls();
        cam.AutoExpGain(frame.data());
        cam.AutoWhiBal(frame.data());
        EXPECT_EQ(!cam.calls().empty(), c.measured);
    }
}

TEST_F(AutoControl, WhiteBalanceRunsOnColourCamerasOnly)
{
    const auto reddish = makeFrame(kWidth, kHeight, 1, bayer(200, 100, 100));
    cam.DescribeModel().m_Caps.bColor = false;
    EXPECT_TRUE(whiteBalanceStep(reddish).empty());
    cam.DescribeModel().m_Caps.bColor = true;
    EXPECT_EQ(whiteBalanceStep(reddish), (Calls{balance(24, 49)}));
}

// Channel values of a uniform mosaic are the spread-weighted block averages:
// 200 -> 197, 100 -> 98 (green and the colours alike), 107 -> 104, 99 -> 97,
// 102 -> 99, 50 -> 48. New red = WB_R x G / (R + 1), likewise blue.
TEST_F(AutoControl, WhiteBalanceDecisions)
{
    const struct {
        const char *name;
        int red, green, blue;
        bool is16, autoExp;
        int wbRed, wbBlue;
        std::optional<std::pair<int, int>> expected;
    } cases[] = {
        {"grey", 100, 100, 100, false, false, 50, 50, std::nullopt},
        {"within 4 %", 102, 100, 99, false, false, 50, 50, std::nullopt},
        {"reddish: red down", 200, 100, 100, false, false, 50, 50, {{24, 49}}},
        {"reddish 16-bit", 200, 100, 100, true, false, 50, 50, {{24, 49}}},
        {"bluish: blue down", 100, 100, 200, false, false, 50, 50, {{49, 24}}},
        {"7 % off, exposure regulated: within 10 %", 107, 100, 100, false, true, 50, 50,
         std::nullopt},
        {"7 % off, exposure fixed", 107, 100, 100, false, false, 50, 50, {{46, 49}}},
        {"small red gain creeps up", 99, 100, 200, false, false, 3, 50, {{4, 24}}},
        {"red gain 5 does not creep", 99, 100, 200, false, false, 5, 50, {{5, 24}}},
        {"too dark: R 9, G and B 3", 11, 5, 5, false, false, 50, 50, std::nullopt},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        setAutos(c.autoExp, false);
        cam.EditableSettings().m_b16Bit = c.is16;
        cam.EditableSettings().m_iWB_R = c.wbRed;
        cam.EditableSettings().m_iWB_B = c.wbBlue;
        const auto calls = whiteBalanceStep(
            makeFrame(kWidth, kHeight, c.is16 ? 2 : 1, bayer(c.red, c.green, c.blue, c.is16)));
        if (c.expected)
            EXPECT_EQ(calls, (Calls{balance(c.expected->first, c.expected->second)}));
        else
            EXPECT_TRUE(calls.empty());
    }
}

// The thread looks at the frame the ring got last, read or not; a receive
// buffer the transfers may be refilling is not a frame.
TEST_F(AutoControl, ThreadRegulatesTheNewestFrameOfTheRingAndBalancesEveryFourthPass)
{
    cam.DescribeModel().m_iMaxWidth = kWidth;
    cam.DescribeModel().m_iMaxHeight = kHeight;
    cam.InitVariable();
    ASSERT_NE(cam.GetCirBuf(), nullptr);
    ASSERT_NE(cam.GetFrameBuf(), nullptr);
    std::memset(cam.GetFrameBuf(), 255, size_t(kWidth) * kHeight);
    auto frame = makeFrame(kWidth, kHeight, 1, bayer(60, 30, 30));
    const int bytes = kWidth * kHeight;
    ASSERT_EQ(cam.GetCirBuf()->InsertBuff(frame.data(), bytes, 0, 0, 0, 0, 0, 0), 0);
    std::vector<uint8_t> read(frame.size());
    ASSERT_TRUE(cam.GetCirBuf()->ReadBuff(read.data(), bytes, 0, nullptr));
    setAutos(false, true);
    cam.EditableSettings().m_iFrameTimeUs = 1000;
    cam.EditableSettings().m_iTransferTimeUs = 1000;
    cam.EditableSettings().m_iAutoExpLimitUs = 100000;
    cam.clearCalls();

    cam.StartAutoControlThr();
    const bool balanced = cam.waitForCalls(
        [](const Calls &calls) {
            for (const auto &call : calls)
                if (call.kind == SetterCall::Balance)
                    return true;
            return false;
        },
        30s);
    cam.StopAutoControlThr();
    EXPECT_FALSE(cam.m_AutoCtrlThread.IsRunning());
    ASSERT_TRUE(balanced);

    // One gain step per pass; the balance follows the fourth.
    const Calls calls = cam.calls();
    ASSERT_GE(calls.size(), 5u);
    for (size_t i = 0; i < 4; ++i)
        EXPECT_EQ(calls[i], gain(112 + 12 * int64_t(i)));
    EXPECT_EQ(calls[4].kind, SetterCall::Balance);
}

} // namespace
