// Video and snap capture of the ORU6200MC Pro through the flat API, the real
// libusb and a simulated camera: frame delivery, exposure status, the
// working loop's reactions to lost and empty frames, and the call sequence
// errors of the capture functions.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "TempHome.h"
#include "api/ORUCamera.h"
#include "sim/SimulatedBus.h"

using oru_sim::CameraSpec;
using oru_sim::SimulatedCamera;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint16_t kProductId = 0x1001;

// One ORU6200MC Pro opened and initialised through the flat API.
class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim_ = &bus_.addCamera(CameraSpec::usb3Camera(kProductId));
        ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
        ORU_CAMERA_INFO info{};
        ASSERT_EQ(ORUGetCameraProperty(&info, 0), ORU_SUCCESS);
        id_ = info.camera_id;
        ASSERT_EQ(ORUOpenCamera(id_), ORU_SUCCESS);
        ASSERT_EQ(ORUInitCamera(id_), ORU_SUCCESS);
    }
    void TearDown() override { ORUCloseCamera(id_); }

    // A small window and an exposure shorter than one frame, so that the
    // working loop waits only about two frame periods per transfer.
    void SmallFastRoi(ORU_IMG_TYPE type = ORU_IMG_RAW8)
    {
        ASSERT_EQ(ORUSetROIFormat(id_, 640, 480, 1, type), ORU_SUCCESS);
        ASSERT_EQ(ORUSetControlValue(id_, ORU_EXPOSURE, 32, ORU_FALSE), ORU_SUCCESS);
    }

    ORU_EXPOSURE_STATUS Status()
    {
        ORU_EXPOSURE_STATUS status = ORU_EXP_IDLE;
        EXPECT_EQ(ORUGetExpStatus(id_, &status), ORU_SUCCESS);
        return status;
    }

    // Polls the exposure status until it leaves `working` or `limit` passes.
    ORU_EXPOSURE_STATUS WaitWhileWorking(std::chrono::milliseconds limit)
    {
        const Clock::time_point end = Clock::now() + limit;
        ORU_EXPOSURE_STATUS status = Status();
        while (status == ORU_EXP_WORKING && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            status = Status();
        }
        return status;
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
    SimulatedCamera *sim_ = nullptr;
    int id_ = -1;
};

TEST_F(CaptureTest, SnapWithoutDataFailsOnlyAfterItsRetryWindow)
{
    SmallFastRoi();
    sim_->setDataSource(nullptr);
    const Clock::time_point start = Clock::now();
    ASSERT_EQ(ORUStartExposure(id_, ORU_FALSE), ORU_SUCCESS);
    EXPECT_EQ(Status(), ORU_EXP_WORKING);

    EXPECT_EQ(WaitWhileWorking(std::chrono::seconds(5)), ORU_EXP_FAILED);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1000));
    std::vector<unsigned char> frame(640 * 480);
    EXPECT_EQ(ORUGetDataAfterExp(id_, frame.data(), static_cast<int32_t>(frame.size())),
              ORU_ERROR_TIMEOUT);
    EXPECT_EQ(Status(), ORU_EXP_FAILED);
}

TEST_F(CaptureTest, CaptureCallsRefuseEachOtherWhileRunning)
{
    SmallFastRoi();
    sim_->setDataSource(nullptr);
    std::vector<unsigned char> frame(640 * 480);

    ASSERT_EQ(ORUStartExposure(id_, ORU_FALSE), ORU_SUCCESS);
    EXPECT_EQ(ORUStartVideoCapture(id_), ORU_ERROR_EXPOSURE_IN_PROGRESS);
    EXPECT_EQ(ORUGetDataAfterExp(id_, frame.data(), static_cast<int32_t>(frame.size())),
              ORU_ERROR_TIMEOUT);
    EXPECT_EQ(Status(), ORU_EXP_WORKING);
    ASSERT_EQ(ORUStopExposure(id_), ORU_SUCCESS);

    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    EXPECT_EQ(ORUStartExposure(id_, ORU_FALSE), ORU_ERROR_VIDEO_MODE_ACTIVE);
    EXPECT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
}

} // namespace
