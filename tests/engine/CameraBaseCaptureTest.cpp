// Capture lifecycle and camera modes of the camera object on a simulated
// camera: which thread starts, the snap hand-over, when settings are saved,
// and the FPGA trigger set-up of each mode.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "tests/SimCoolCameraTest.h"

namespace {

using oru_sim::CameraConfig;
using oru_sim::SimulatedCamera;

constexpr uint8_t kEdgeAndLevelTrigger = 0xC0;
constexpr uint8_t kEdgeTriggerOnly = 0xA3;

class CameraCapture : public SimCoolCameraTest {
protected:
    bool SettingsSaved() const { return std::filesystem::exists(home.configFile()); }

    SimulatedCamera &PlugTriggerCamera(uint8_t triggerCaps)
    {
        CameraConfig config = Usb3Config();
        config.fpgaVersion.registers[0] = triggerCaps;
        return PlugAndOpen(config);
    }
};

TEST_F(CameraCapture, ClosedCameraStartsNothing)
{
    TestCoolCamera closed;
    CaptureState &capture = closed.GetCaptureState();
    capture.SnapSucceeded();
    capture.PublishExposureStatus();
    EXPECT_FALSE(closed.StartExposure());
    EXPECT_FALSE(closed.StartCapture(false));
    EXPECT_EQ(capture.ExpStatus(), ORU_EXP_SUCCESS);
    EXPECT_EQ(closed.loopStarts, 0);
}

TEST_F(CameraCapture, VideoStartedTwiceRunsOneThreadAndStopSaves)
{
    PlugAndOpen();
    EXPECT_TRUE(camera->StartCapture(false));
    EXPECT_TRUE(camera->StartCapture(false));
    EXPECT_TRUE(camera->IsCaptureRunning());
    EXPECT_EQ(camera->GetCaptureState().ExpStatus(), ORU_EXP_WORKING);
    EXPECT_FALSE(camera->GetCaptureState().IsSnap());

    EXPECT_TRUE(camera->StopCapture());
    EXPECT_FALSE(camera->IsCaptureRunning());
    EXPECT_EQ(camera->loopStarts, 1);
    EXPECT_TRUE(SettingsSaved()) << "a video capture saves when it stops";
}

TEST_F(CameraCapture, StopWithNothingRunningSavesNothing)
{
    PlugAndOpen();
    EXPECT_TRUE(camera->StopCapture());
    EXPECT_FALSE(SettingsSaved());
}

TEST_F(CameraCapture, SnapHandOverAndSaveOnClose)
{
    PlugAndOpen();
    ASSERT_TRUE(camera->StartExposure());
    CaptureState &capture = camera->GetCaptureState();
    EXPECT_TRUE(capture.IsSnap());
    EXPECT_EQ(capture.ExpStatus(), ORU_EXP_WORKING);

    unsigned char frame[16];
    EXPECT_FALSE(camera->GetImageAfterExp(frame, sizeof frame)) << "the snap has not finished";
    EXPECT_EQ(capture.ExpStatus(), ORU_EXP_WORKING);
    EXPECT_EQ(camera->imageReads, 0);

    // What the working loop publishes when its snap succeeds.
    capture.SnapSucceeded();
    capture.PublishExposureStatus();
    EXPECT_TRUE(camera->GetImageAfterExp(frame, sizeof frame));
    EXPECT_EQ(capture.ExpStatus(), ORU_EXP_IDLE);
    EXPECT_EQ(camera->imageReads, 1);

    EXPECT_TRUE(camera->StopCapture());
    EXPECT_FALSE(SettingsSaved()) << "a snap saves when the camera closes";
    camera->CloseCamera();
    EXPECT_TRUE(SettingsSaved());
    EXPECT_FALSE(camera->IsOpen());
}

TEST_F(CameraCapture, TriggerModeCapturesOnTheTriggerThread)
{
    PlugTriggerCamera(kEdgeAndLevelTrigger);
    ASSERT_EQ(camera->SetCameraMode(MODE_TRIG_SOFT_EDGE), ORU_SUCCESS);
    ASSERT_TRUE(camera->StartCapture(false));
    EXPECT_TRUE(camera->m_TrigThread.IsRunning());
    EXPECT_FALSE(camera->m_WorkThread.IsRunning());
    EXPECT_EQ(camera->SetCameraMode(MODE_NORMAL), ORU_ERROR_INVALID_SEQUENCE);
    EXPECT_EQ(camera->Settings().m_iCameraMode, MODE_TRIG_SOFT_EDGE);
    EXPECT_TRUE(camera->StopCapture());
    EXPECT_FALSE(camera->IsCaptureRunning());
}

TEST_F(CameraCapture, ModesAreRefusedUnlessTheCameraSupportsThem)
{
    const struct {
        const char *what;
        bool trigger, edge, level;
        int mode;
        int result;
    } cases[] = {
        {"beyond the last mode", true, true, true, 7, ORU_ERROR_INVALID_MODE},
        {"negative", true, true, true, -1, ORU_ERROR_INVALID_MODE},
        {"no trigger camera", false, false, false, 1, ORU_ERROR_INVALID_MODE},
        {"level mode on an edge-only camera", true, true, false, 4, ORU_ERROR_INVALID_MODE},
        {"edge mode on a level-only camera", true, false, true, 3, ORU_ERROR_INVALID_MODE},
        {"edge mode on an edge-only camera", true, true, false, 3, ORU_SUCCESS},
        {"level mode on a level-only camera", true, false, true, 6, ORU_SUCCESS},
        {"normal on no trigger camera", false, false, false, 0, ORU_SUCCESS},
    };
    PlugTriggerCamera(kEdgeTriggerOnly);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        camera->EditableSettings().m_iCameraMode = MODE_NORMAL;
        camera->DescribeModel().m_Caps.bTrigger = c.trigger;
        camera->DescribeModel().m_Caps.bEdgeTrigger = c.edge;
        camera->DescribeModel().m_Caps.bLevelTrigger = c.level;
        EXPECT_EQ(camera->SetCameraMode(static_cast<CAM_MODE>(c.mode)), c.result);
        EXPECT_EQ(camera->Settings().m_iCameraMode, c.result == ORU_SUCCESS ? c.mode : MODE_NORMAL);
    }
}

TEST_F(CameraCapture, EachModeProgramsTheFPGATriggerUnit)
{
    // Register 40: bit 0 external source, bit 2 set unless soft mode, bit 4
    // set for level triggers, bit 5 set for falling/low. Register 0 bit 7:
    // trigger mode.
    const struct {
        CAM_MODE mode;
        uint8_t reg40;
        bool triggerMode;
    } steps[] = {
        {MODE_TRIG_SOFT_EDGE, 0x04, true},
        {MODE_TRIG_RISE_EDGE, 0x05, true},
        {MODE_TRIG_FALL_EDGE, 0x25, true},
        {MODE_TRIG_SOFT_LEVEL, 0x14, true},
        {MODE_TRIG_HIGH_LEVEL, 0x15, true},
        {MODE_TRIG_LOW_LEVEL, 0x35, true},
        // Back to normal: software source, soft mode; type and level kept.
        {MODE_NORMAL, 0x30, false},
    };
    SimulatedCamera &device = PlugTriggerCamera(kEdgeAndLevelTrigger);
    camera->EditableSettings().m_lExposure = 25000;
    for (const auto &step : steps) {
        SCOPED_TRACE(step.mode);
        const size_t exposuresBefore = camera->exposuresSet.size();
        ASSERT_EQ(camera->SetCameraMode(step.mode), ORU_SUCCESS);
        EXPECT_EQ(device.fpgaRegister(40), step.reg40);
        EXPECT_EQ((device.fpgaRegister(0) & 0x80) != 0, step.triggerMode);
        EXPECT_NE(device.fpgaRegister(0) & 0x10, 0) << "the FPGA is stopped";
        ASSERT_EQ(camera->exposuresSet.size(), exposuresBefore + 1);
        EXPECT_EQ(camera->exposuresSet.back(), 25000u) << "the exposure is applied again";
    }

    // The same mode again touches nothing.
    device.clearRequests();
    EXPECT_EQ(camera->SetCameraMode(MODE_NORMAL), ORU_SUCCESS);
    EXPECT_TRUE(device.requests().empty());

    // Normal mode keeps the trigger unit on for long exposures.
    ASSERT_EQ(camera->SetCameraMode(MODE_TRIG_RISE_EDGE), ORU_SUCCESS);
    camera->EditableSettings().m_bLongExpMode = true;
    ASSERT_EQ(camera->SetCameraMode(MODE_NORMAL), ORU_SUCCESS);
    EXPECT_NE(device.fpgaRegister(0) & 0x80, 0);
}

} // namespace
