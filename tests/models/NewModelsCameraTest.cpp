// The ORU6200MM Pro, ORU462MC and ORU462MM through the flat API against
// their named simulated cameras: identity, controls and image types of the
// colour and mono twins, frames streamed, the class-scope mode timing two
// cameras of a model share, and a long exposure without the DDR.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/TempHome.h"
#include "api/ORUCamera.h"
#include "models/CCameraUncooledColor.h"
#include "sim/FrameStream.h"
#include "sim/ModelCatalog.h"
#include "sim/SimulatedBus.h"

using oru_sim::SimulatedCamera;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;

class NewModelsCameraTest : public ::testing::Test {
protected:
    ~NewModelsCameraTest() override
    {
        for (int id = 0; id < 4; ++id)
            ORUCloseCamera(id);
    }

    // Opens and initialises the camera listed at `index`; its camera ID.
    int OpenAt(int index, ORU_CAMERA_INFO *info = nullptr)
    {
        ORU_CAMERA_INFO listed{};
        EXPECT_EQ(ORUGetCameraProperty(&listed, index), ORU_SUCCESS);
        EXPECT_EQ(ORUOpenCamera(listed.camera_id), ORU_SUCCESS);
        EXPECT_EQ(ORUInitCamera(listed.camera_id), ORU_SUCCESS);
        if (info != nullptr)
            *info = listed;
        return listed.camera_id;
    }

    bool ListsControl(int id, ORU_CONTROL_TYPE type)
    {
        int count = 0;
        EXPECT_EQ(ORUGetNumOfControls(id, &count), ORU_SUCCESS);
        for (int i = 0; i < count; ++i) {
            ORU_CONTROL_CAPS caps{};
            EXPECT_EQ(ORUGetControlCaps(id, i, &caps), ORU_SUCCESS);
            if (caps.control_type == type)
                return true;
        }
        return false;
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
};

} // namespace

TEST_F(NewModelsCameraTest, EachModelOpensInitialisesAndStreams)
{
    struct Case {
        const char *model;
        bool colour;
        int bitDepth;
        bool st4;
        bool trigger;
    };
    const Case cases[] = {
        {"ORU6200MM Pro", false, 16, false, false},
        {"ORU462MC", true, 12, true, true},
        {"ORU462MM", false, 12, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.model);
        SimulatedCamera &sim = bus_.addCamera(oru_sim::ModelCatalog::find(c.model));
        ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
        ORU_CAMERA_INFO info{};
        const int id = OpenAt(0, &info);
        EXPECT_EQ(std::string(info.name), std::string("TAV ") + c.model);
        EXPECT_EQ(info.is_color, c.colour ? ORU_TRUE : ORU_FALSE);
        EXPECT_EQ(info.bit_depth, c.bitDepth);
        EXPECT_EQ(info.st4_port, c.st4 ? ORU_TRUE : ORU_FALSE);
        EXPECT_EQ(info.is_trigger, c.trigger ? ORU_TRUE : ORU_FALSE);
        const std::vector<ORU_IMG_TYPE> types =
            c.colour
                ? std::vector<ORU_IMG_TYPE>{ORU_IMG_RAW8, ORU_IMG_RGB24, ORU_IMG_Y8, ORU_IMG_RAW16}
                : std::vector<ORU_IMG_TYPE>{ORU_IMG_RAW8, ORU_IMG_RAW16};
        for (size_t i = 0; i <= types.size(); ++i)
            EXPECT_EQ(info.supported_image_types[i], i < types.size() ? types[i] : ORU_IMG_END)
                << i;
        for (ORU_CONTROL_TYPE control : {ORU_WB_R, ORU_WB_B, ORU_MONO_BIN})
            EXPECT_EQ(ListsControl(id, control), c.colour) << "control " << control;
        // A mono sensor's pixels all get the same FPGA gain.
        const uint32_t gains = sim.fpgaValue(12, 4);
        EXPECT_EQ(gains == 0x80808080u, !c.colour) << std::hex << gains;

        ASSERT_EQ(ORUSetROIFormat(id, kWidth, kHeight, 1, ORU_IMG_RAW8), ORU_SUCCESS);
        ASSERT_EQ(ORUSetControlValue(id, ORU_EXPOSURE, 1000, ORU_FALSE), ORU_SUCCESS);
        ASSERT_EQ(ORUStartVideoCapture(id), ORU_SUCCESS);
        std::vector<unsigned char> frame(kWidth * kHeight);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(ORUGetVideoData(id, frame.data(), kWidth * kHeight, 5000), ORU_SUCCESS) << i;
        EXPECT_EQ(ORUStopVideoCapture(id), ORU_SUCCESS);
        EXPECT_EQ(ORUCloseCamera(id), ORU_SUCCESS);
        bus_.unplug(sim);
    }
}

TEST_F(NewModelsCameraTest, TwoCamerasOfAModelShareTheModeTiming)
{
    auto first = oru_sim::ModelCatalog::find("ORU462MC");
    first.address = oru_sim::PortAddress{1, {1}};
    auto second = first;
    second.address = oru_sim::PortAddress{1, {2}};
    const SimulatedCamera *sims[2] = {&bus_.addCamera(first), &bus_.addCamera(second)};
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 2);
    const int a = OpenAt(0);
    const int b = OpenAt(1);

    // Camera A in high-speed 8-bit mode runs at its shortest line...
    ASSERT_EQ(ORUSetROIFormat(a, kWidth, kHeight, 1, ORU_IMG_RAW8), ORU_SUCCESS);
    ASSERT_EQ(ORUSetControlValue(a, ORU_HIGH_SPEED_MODE, 1, ORU_FALSE), ORU_SUCCESS);
    ASSERT_EQ(ORUSetControlValue(a, ORU_BANDWIDTH, 100, ORU_FALSE), ORU_SUCCESS);
    EXPECT_EQ(CCameraUncooledColor::s_ModeTiming.iMinHMAX, 245);
    // B, at the normal clock, runs its full frame at 261 clocks a line.
    const SimulatedCamera &simOfA = *sims[sims[0]->fpgaValue(19, 2) == 245 ? 0 : 1];
    ASSERT_EQ(simOfA.fpgaValue(19, 2), 245u);
    // ...until camera B's 16-bit mode sets the model's shortest line, which
    // A's timing then uses too.
    ASSERT_EQ(ORUSetROIFormat(b, kWidth, kHeight, 1, ORU_IMG_RAW16), ORU_SUCCESS);
    EXPECT_EQ(CCameraUncooledColor::s_ModeTiming.iMinHMAX, 261);
    ASSERT_EQ(ORUSetControlValue(a, ORU_BANDWIDTH, 100, ORU_FALSE), ORU_SUCCESS);
    EXPECT_EQ(simOfA.fpgaValue(19, 2), 261u);
}

TEST_F(NewModelsCameraTest, LongExposureSnapWithoutDdr)
{
    SimulatedCamera &sim = bus_.addCamera(oru_sim::ModelCatalog::find("ORU462MC"));
    auto stream = std::dynamic_pointer_cast<oru_sim::FrameStream>(sim.dataSource());
    ASSERT_NE(stream, nullptr);
    stream->keepSentFrames(4);
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    const int id = OpenAt(0);
    ASSERT_EQ(ORUSetROIFormat(id, kWidth, kHeight, 1, ORU_IMG_RAW16), ORU_SUCCESS);
    ASSERT_EQ(ORUSetControlValue(id, ORU_EXPOSURE, 1100000, ORU_FALSE), ORU_SUCCESS);

    ASSERT_EQ(ORUStartExposure(id, ORU_FALSE), ORU_SUCCESS);
    ORU_EXPOSURE_STATUS status = ORU_EXP_WORKING;
    const Clock::time_point end = Clock::now() + std::chrono::seconds(5);
    while (status == ORU_EXP_WORKING && Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_EQ(ORUGetExpStatus(id, &status), ORU_SUCCESS);
    }
    ASSERT_EQ(status, ORU_EXP_SUCCESS);
    std::vector<unsigned char> image(kWidth * kHeight * 2);
    EXPECT_EQ(ORUGetDataAfterExp(id, image.data(), static_cast<int32_t>(image.size())),
              ORU_SUCCESS);
    const std::vector<oru_sim::SentFrame> sent = stream->sentFrames();
    ASSERT_EQ(sent.size(), 1u);
    // The loop holds the trigger for the exposure and its wake-up steps.
    EXPECT_GE(sent[0].exposureUs, 1100000);
    EXPECT_LT(sent[0].exposureUs, 2000000);
}
