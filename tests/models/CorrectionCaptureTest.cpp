// The corrections on captured frames, end to end: the factory hot-pixel map
// in the simulated camera's flash repairs the pixels the camera shows
// saturated, and a dark bitmap is subtracted from every 8-bit frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/TempHome.h"
#include "api/CameraRegistry.h"
#include "api/ORUCamera.h"
#include "engine/CCameraBase.h"
#include "sim/FrameStream.h"
#include "sim/ModelCatalog.h"
#include "sim/SimulatedBus.h"

using oru_sim::CameraConfig;
using oru_sim::FrameStream;
using oru_sim::SentFrame;

namespace {

constexpr int kSensorWidth = 6248;
constexpr int kSensorHeight = 4176;
constexpr int kWidth = 640;
constexpr int kHeight = 480;

// Hot pixels inside the centred 640 x 480 window, which starts at (2800, 1848).
const std::vector<std::pair<int, int>> kHotPixels = {
    {2900, 1900}, {3001, 2001}, {3200, 2101}, {3410, 2300}, {2822, 1871}};

class CorrectionCaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CameraConfig camera = oru_sim::ModelCatalog::find("ORU6200MC Pro");
        camera.hotPixels = kHotPixels;
        sim_ = &bus_.addCamera(camera);
        stream_ = std::dynamic_pointer_cast<FrameStream>(sim_->dataSource());
        ASSERT_NE(stream_, nullptr);
        stream_->keepSentFrames(8);
        ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
        ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);
        ASSERT_EQ(ORUInitCamera(0), ORU_SUCCESS);
        ASSERT_EQ(ORUSetROIFormat(0, kWidth, kHeight, 1, ORU_IMG_RAW8), ORU_SUCCESS);
        ASSERT_EQ(ORUGetStartPos(0, &startX_, &startY_), ORU_SUCCESS);
        ASSERT_EQ(ORUSetControlValue(0, ORU_EXPOSURE, 20000, ORU_FALSE), ORU_SUCCESS);
        ASSERT_EQ(ORUSetControlValue(0, ORU_GAIN, 450, ORU_FALSE), ORU_SUCCESS);
    }
    void TearDown() override { ORUCloseCamera(0); }

    CCameraBase &Camera() { return *RegistryCamera(0); }

    using PixelRule = std::function<int(size_t index, uint8_t sent)>;

    // One video frame and the frame the camera sent for it: the sent frame
    // that, with `rule` applied, differs from it in the fewest pixels (a few
    // hot pixels and the hidden markers).
    std::pair<std::vector<uint8_t>, std::vector<uint8_t>>
    CaptureOne(const PixelRule &rule = [](size_t, uint8_t sent) { return int(sent); })
    {
        std::vector<uint8_t> delivered(kWidth * kHeight);
        EXPECT_EQ(ORUStartVideoCapture(0), ORU_SUCCESS);
        // Skip the first frame, taken while the stream was starting.
        EXPECT_EQ(ORUGetVideoData(0, delivered.data(), int32_t(delivered.size()), 3000),
                  ORU_SUCCESS);
        EXPECT_EQ(ORUGetVideoData(0, delivered.data(), int32_t(delivered.size()), 3000),
                  ORU_SUCCESS);
        EXPECT_EQ(ORUStopVideoCapture(0), ORU_SUCCESS);
        for (const SentFrame &sent : stream_->sentFrames())
            if (Matches(sent.bytes, delivered, rule))
                return {delivered, sent.bytes};
        ADD_FAILURE() << "the delivered frame matches no sent frame";
        return {delivered, {}};
    }

    static bool Matches(const std::vector<uint8_t> &sent, const std::vector<uint8_t> &delivered,
                        const PixelRule &rule)
    {
        if (sent.size() != delivered.size())
            return false;
        size_t differing = 0;
        for (size_t i = 0; i < sent.size(); ++i)
            differing += rule(i, sent[i]) != delivered[i];
        return differing < 200;
    }

    size_t IndexOf(std::pair<int, int> sensorPixel) const
    {
        return size_t(sensorPixel.second - startY_) * kWidth + size_t(sensorPixel.first - startX_);
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
    oru_sim::SimulatedCamera *sim_ = nullptr;
    std::shared_ptr<FrameStream> stream_;
    int startX_ = 0;
    int startY_ = 0;
};

} // namespace

TEST_F(CorrectionCaptureTest, FactoryHotPixelsAreRepairedOnlyWhileCorrectionIsOn)
{
    ASSERT_TRUE(Camera().Settings().m_bHPC) << "initialisation loads the factory map";
    auto [corrected, sentWithHpc] = CaptureOne();
    ASSERT_FALSE(sentWithHpc.empty());
    for (const auto &hot : kHotPixels) {
        EXPECT_EQ(sentWithHpc[IndexOf(hot)], 255) << "the camera shows it saturated";
        EXPECT_LT(corrected[IndexOf(hot)], 255) << hot.first << "," << hot.second;
    }

    ASSERT_TRUE(Camera().SetHPCStates(false));
    auto [raw, sentWithout] = CaptureOne();
    for (const auto &hot : kHotPixels)
        EXPECT_EQ(raw[IndexOf(hot)], 255) << hot.first << "," << hot.second;
}

TEST_F(CorrectionCaptureTest, DarkFrameIsSubtractedFromEveryEightBitFrame)
{
    ASSERT_TRUE(Camera().SetHPCStates(false));
    // A dark frame with a ramp across each 16 columns: mean 7.
    std::vector<uint8_t> dark(size_t(kSensorWidth) * kSensorHeight);
    for (size_t i = 0; i < dark.size(); ++i)
        dark[i] = uint8_t((i % kSensorWidth) % 16);
    std::string path = home_.path() + "/dark.bmp";
    ASSERT_TRUE(Camera().CreateBMP(kSensorWidth, kSensorHeight, dark.data(), path.data()));
    ASSERT_EQ(ORUEnableDarkSubtract(0, path.data()), ORU_SUCCESS);
    ASSERT_EQ(ORUSetROIFormat(0, kWidth, kHeight, 1, ORU_IMG_RAW8), ORU_SUCCESS);

    const int mean = 7;
    const int startX = startX_;
    const PixelRule subtracted = [mean, startX](size_t i, uint8_t sent) {
        const int d = (startX + int(i % kWidth)) % 16;
        return std::min(std::max(sent - d, 0), 255 - mean) + mean;
    };
    auto [delivered, sent] = CaptureOne(subtracted);
    ASSERT_FALSE(sent.empty());
    const auto lit = std::count_if(sent.begin(), sent.end(), [](uint8_t v) { return v > 20; });
    ASSERT_GT(lit, 10000) << "the sky must give the subtraction something to work on";
    // Away from the marker words at both ends, every pixel follows the rule.
    for (size_t i = 8; i + 8 < sent.size(); ++i)
        ASSERT_EQ(delivered[i], subtracted(i, sent[i])) << "pixel " << i;

    ASSERT_EQ(ORUDisableDarkSubtract(0), ORU_SUCCESS);
    auto [plain, sentPlain] = CaptureOne();
    EXPECT_TRUE(std::equal(plain.begin() + 8, plain.end() - 8, sentPlain.begin() + 8));
}
