// The trigger camera modes end to end on the ORU462MC: the flat API selects a
// mode, the trigger loop waits for each triggered frame, and the simulated
// camera exposes a frame only when its software signal or external input
// line triggers it.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "tests/FlatCameraTest.h"
#include "tests/TempHome.h"
#include "api/ORUCamera.h"
#include "sim/FrameStream.h"
#include "sim/ModelCatalog.h"
#include "sim/SimulatedBus.h"

using oru_sim::SimulatedCamera;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// Two 1 MiB pieces per frame.
constexpr int kWidth = 1280;
constexpr int kHeight = 960;
constexpr int kFrameBytes = kWidth * kHeight;
constexpr int32_t kEdgeExposureUs = 2000;

class TriggerModeTest : public FlatCameraTest {
protected:
    void SetUp() override
    {
        OpenCamera("ORU462MC");
        stream_->keepSentFrames(16);
        ASSERT_EQ(ORUSetROIFormat(id_, kWidth, kHeight, 1, ORU_IMG_RAW8), ORU_SUCCESS);
        ASSERT_EQ(ORUSetControlValue(id_, ORU_EXPOSURE, kEdgeExposureUs, ORU_FALSE), ORU_SUCCESS);
    }

    // Starts capture in `mode` and waits until the trigger loop waits for
    // its first frame.
    void StartIn(ORU_CAMERA_MODE mode)
    {
        ASSERT_EQ(ORUSetCameraMode(id_, mode), ORU_SUCCESS);
        ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
        const Clock::time_point end = Clock::now() + milliseconds(3000);
        while (sim_->waitingBulkTransfers() == 0 && Clock::now() < end)
            std::this_thread::sleep_for(milliseconds(2));
        ASSERT_GT(sim_->waitingBulkTransfers(), 0u);
    }

    ORU_ERROR_CODE ReadFrame(int waitMs)
    {
        std::vector<unsigned char> frame(kFrameBytes);
        return ORUGetVideoData(id_, frame.data(), kFrameBytes, waitMs);
    }

    void SoftTrigger(bool on)
    {
        ASSERT_EQ(ORUSendSoftTrigger(id_, on ? ORU_TRUE : ORU_FALSE), ORU_SUCCESS);
    }
};

} // namespace

TEST_F(TriggerModeTest, EdgeModesDeliverOneFramePerTrigger)
{
    struct Case {
        const char *name;
        ORU_CAMERA_MODE mode;
        bool lineIdle;
        std::function<void()> trigger;
    };
    const auto pulse = [this] { sim_->pulseTriggerInput(milliseconds(5)); };
    const Case cases[] = {
        {"soft edge", ORU_MODE_TRIG_SOFT_EDGE, false,
         [this] {
             SoftTrigger(true);
             SoftTrigger(false);
         }},
        {"rising edge", ORU_MODE_TRIG_RISE_EDGE, false, pulse},
        {"falling edge", ORU_MODE_TRIG_FALL_EDGE, true, pulse},
    };
    // Sync output A pulses with each triggered exposure.
    ASSERT_EQ(ORUSetTriggerOutputIOConf(id_, ORU_TRIG_OUTPUT_PINA, ORU_TRUE, 100, 500),
              ORU_SUCCESS);
    size_t pulses = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim_->setTriggerInput(c.lineIdle);
        StartIn(c.mode);
        EXPECT_EQ(ReadFrame(300), ORU_ERROR_TIMEOUT) << "no frame without a trigger";
        const size_t sentBefore = stream_->sentFrames().size();
        for (int i = 0; i < 3; ++i) {
            c.trigger();
            EXPECT_EQ(ReadFrame(5000), ORU_SUCCESS) << "trigger " << i;
        }
        EXPECT_EQ(ReadFrame(300), ORU_ERROR_TIMEOUT) << "one frame per trigger";
        int dropped = -1;
        EXPECT_EQ(ORUGetDroppedFrames(id_, &dropped), ORU_SUCCESS);
        EXPECT_EQ(dropped, 0);
        ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);

        const std::vector<oru_sim::SentFrame> sent = stream_->sentFrames();
        ASSERT_EQ(sent.size(), sentBefore + 3);
        for (size_t i = sentBefore; i < sent.size(); ++i)
            EXPECT_EQ(sent[i].exposureUs, kEdgeExposureUs) << "the FPGA's trigger exposure time";
        pulses += 3;
        const std::vector<oru_sim::SyncPulse> syncPulses = stream_->syncPulses();
        ASSERT_EQ(syncPulses.size(), pulses);
        EXPECT_EQ(syncPulses.back().output, 0);
        EXPECT_TRUE(syncPulses.back().activeHigh);
        EXPECT_EQ(syncPulses.back().durationUs, 500u);
    }
}

TEST_F(TriggerModeTest, LevelModesExposeWhileTheSignalIsValid)
{
    struct Case {
        const char *name;
        ORU_CAMERA_MODE mode;
        bool lineIdle;
        std::function<void(milliseconds)> hold;
    };
    const auto pulse = [this](milliseconds valid) { sim_->pulseTriggerInput(valid); };
    const Case cases[] = {
        {"soft level", ORU_MODE_TRIG_SOFT_LEVEL, false,
         [this](milliseconds valid) {
             SoftTrigger(true);
             std::this_thread::sleep_for(valid);
             SoftTrigger(false);
         }},
        {"high level", ORU_MODE_TRIG_HIGH_LEVEL, false, pulse},
        {"low level", ORU_MODE_TRIG_LOW_LEVEL, true, pulse},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim_->setTriggerInput(c.lineIdle);
        StartIn(c.mode);
        EXPECT_EQ(ReadFrame(300), ORU_ERROR_TIMEOUT) << "nothing while the signal is not valid";
        const size_t sentBefore = stream_->sentFrames().size();
        c.hold(milliseconds(120));
        EXPECT_EQ(ReadFrame(5000), ORU_SUCCESS);
        EXPECT_EQ(ReadFrame(300), ORU_ERROR_TIMEOUT) << "one frame per valid period";
        ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);

        const std::vector<oru_sim::SentFrame> sent = stream_->sentFrames();
        ASSERT_EQ(sent.size(), sentBefore + 1);
        // The soft signal's two writes may reach the camera a little closer.
        EXPECT_GE(sent.back().exposureUs, 110000);
        EXPECT_LT(sent.back().exposureUs, 500000);
    }
}

TEST_F(TriggerModeTest, ModeChangesDuringCaptureAreRefused)
{
    StartIn(ORU_MODE_TRIG_SOFT_EDGE);
    for (ORU_CAMERA_MODE mode : {ORU_MODE_NORMAL, ORU_MODE_TRIG_RISE_EDGE, ORU_MODE_TRIG_SOFT_EDGE})
        EXPECT_EQ(ORUSetCameraMode(id_, mode), ORU_ERROR_INVALID_SEQUENCE) << mode;
    ORU_CAMERA_MODE current = ORU_MODE_END;
    ASSERT_EQ(ORUGetCameraMode(id_, &current), ORU_SUCCESS);
    EXPECT_EQ(current, ORU_MODE_TRIG_SOFT_EDGE);

    ASSERT_EQ(ORUStopVideoCapture(id_), ORU_SUCCESS);
    ASSERT_EQ(ORUSetCameraMode(id_, ORU_MODE_NORMAL), ORU_SUCCESS);
    EXPECT_EQ(sim_->fpgaRegister(0) & 0x80, 0) << "trigger mode off again";
    ASSERT_EQ(ORUStartVideoCapture(id_), ORU_SUCCESS);
    EXPECT_EQ(ReadFrame(5000), ORU_SUCCESS) << "free-running frames in the normal mode";
}

TEST_F(TriggerModeTest, AGoneCameraEndsTheTriggerLoop)
{
    StartIn(ORU_MODE_TRIG_SOFT_EDGE);
    bus_.unplug(*sim_);
    // The transfer waiting for a trigger ends with no-device: the loop ends
    // instead of counting lost frames, and the camera reports itself removed.
    int dropped = -1;
    ORU_ERROR_CODE result = ORU_SUCCESS;
    WaitFor([&] { return (result = ORUGetDroppedFrames(id_, &dropped)) != ORU_SUCCESS; },
            milliseconds(1000));
    EXPECT_EQ(result, ORU_ERROR_CAMERA_REMOVED);
    const Clock::time_point stop = Clock::now();
    EXPECT_EQ(ORUStopVideoCapture(id_), ORU_ERROR_CAMERA_REMOVED);
    EXPECT_LT(MsSince(stop), 500) << "the loop had not ended";
}

TEST(TriggerModeEdgeOnly, LevelModesAreRefused)
{
    TempHome home;
    oru_sim::SimulatedBus bus;
    auto description = oru_sim::ModelCatalog::find("ORU462MC");
    description.fpgaVersion.registers[0] = 0xA0; // edge trigger modes only
    bus.addCamera(description);
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    ORU_CAMERA_INFO info{};
    ASSERT_EQ(ORUGetCameraProperty(&info, 0), ORU_SUCCESS);
    const int id = info.camera_id;
    ASSERT_EQ(ORUOpenCamera(id), ORU_SUCCESS);
    ASSERT_EQ(ORUInitCamera(id), ORU_SUCCESS);

    ORU_SUPPORTED_MODE supported{};
    ASSERT_EQ(ORUGetCameraSupportMode(id, &supported), ORU_SUCCESS);
    const ORU_CAMERA_MODE listed[] = {ORU_MODE_NORMAL, ORU_MODE_TRIG_SOFT_EDGE,
                                      ORU_MODE_TRIG_RISE_EDGE, ORU_MODE_TRIG_FALL_EDGE,
                                      ORU_MODE_END};
    for (size_t i = 0; i < sizeof listed / sizeof listed[0]; ++i)
        EXPECT_EQ(supported.SupportedCameraMode[i], listed[i]) << i;

    struct Case {
        ORU_CAMERA_MODE mode;
        ORU_ERROR_CODE result;
    };
    const Case cases[] = {
        {ORU_MODE_TRIG_SOFT_LEVEL, ORU_ERROR_INVALID_MODE},
        {ORU_MODE_TRIG_LOW_LEVEL, ORU_ERROR_INVALID_MODE},
        {ORU_MODE_TRIG_FALL_EDGE, ORU_SUCCESS},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ORUSetCameraMode(id, c.mode), c.result) << c.mode;
    EXPECT_EQ(ORUCloseCamera(id), ORU_SUCCESS);
}
