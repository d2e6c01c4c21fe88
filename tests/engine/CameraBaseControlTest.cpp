// The control side of the camera object: the control list, the caps table,
// the set/get dispatch with clamping, gamma tables and the camera property
// record. Mostly without a device: the test model records what reaches it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/SimCoolCameraTest.h"
#include "tests/TestCamera.h"

namespace {

using Sensor = TestCoolCamera::Sensor;

std::vector<int> ControlList(TestCoolCamera &camera)
{
    const int count = camera.GetNumOfControls();
    return std::vector<int>(camera.m_CtrlList, camera.m_CtrlList + count);
}

long ValueOf(CCameraBase &camera, ORU_CONTROL_TYPE type)
{
    long value = -12345;
    ORU_BOOL isAuto = ORU_TRUE;
    EXPECT_EQ(camera.GetControlValue(type, &value, &isAuto), ORU_SUCCESS) << type;
    return value;
}

TEST(CameraControls, ListOrderForColourAndMonoCooledModels)
{
    struct Case {
        Sensor sensor;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {Sensor::Color, {0, 1, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14, 18, 8, 15, 16, 17, 21}},
        // No white balance and no mono bin without colour.
        {Sensor::Mono, {0, 1, 5, 6, 9, 10, 11, 12, 13, 14, 8, 15, 16, 17, 21}},
    };
    for (const Case &c : cases) {
        TestCoolCamera camera(c.sensor);
        EXPECT_EQ(ControlList(camera), c.expected);
        EXPECT_EQ(camera.IsAvailable(CTRL_MONO_BIN), c.sensor == Sensor::Color);
    }

    TestCoolCamera camera;
    CameraCaps &caps = camera.DescribeModel().m_Caps;
    caps.bGamma = caps.bOverClock = caps.bPatternAdjust = true;
    caps.bCooler = caps.bAntiDewHeater = caps.bTemperature = false;
    EXPECT_EQ(ControlList(camera),
              (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 9, 7, 10, 11, 12, 13, 14, 18, 20}));
}

TEST(CameraControls, CapsByIndexWriteTheTypeEvenPastTheCount)
{
    TestCoolCamera camera;
    const int count = camera.GetNumOfControls();
    ORU_CONTROL_CAPS caps{};
    ASSERT_TRUE(camera.GetControlCaps(2, &caps));
    EXPECT_EQ(caps.control_type, ORU_WB_R);
    EXPECT_STREQ(caps.name, "WB_R");

    caps.control_type = static_cast<ORU_CONTROL_TYPE>(77);
    EXPECT_FALSE(camera.GetControlCaps(count, &caps));
    EXPECT_EQ(caps.control_type, camera.m_CtrlList[count]);

    // Outside the list itself there is no slot to read.
    for (int index : {-1, 64, 1000}) {
        caps.control_type = static_cast<ORU_CONTROL_TYPE>(77);
        EXPECT_FALSE(camera.GetControlCaps(index, &caps));
        EXPECT_EQ(caps.control_type, 77);
    }
}

TEST(CameraControls, CapsTableValues)
{
    struct Case {
        ORU_CONTROL_TYPE type;
        const char *name;
        int max, min, def;
        ORU_BOOL autoOn, writable;
    };
    // The test model's limits: gain 200/700/0, exposure 10000/2e9/32,
    // bandwidth 40..100 with auto, offset 1/240/0.
    const Case cases[] = {
        {ORU_GAIN, "Gain", 700, 0, 200, ORU_TRUE, ORU_TRUE},
        {ORU_EXPOSURE, "Exposure", 2000000000, 32, 10000, ORU_TRUE, ORU_TRUE},
        {ORU_OFFSET, "Offset", 240, 0, 1, ORU_FALSE, ORU_TRUE},
        {ORU_BANDWIDTH, "BandWidth", 100, 40, 50, ORU_TRUE, ORU_TRUE},
        {ORU_TEMPERATURE, "Temperature", 1000, -500, 20, ORU_FALSE, ORU_FALSE},
        {ORU_AUTO_EXP_MAX_GAIN, "AutoExpMaxGain", 700, 0, 350, ORU_FALSE, ORU_TRUE},
        {ORU_AUTO_EXP_MAX_EXP_MS, "AutoExpMaxExpMS", 60000, 1, 100, ORU_FALSE, ORU_TRUE},
        {ORU_AUTO_EXP_TARGET_BRIGHTNESS, "AutoExpTargetBrightness", 160, 50, 100, ORU_FALSE,
         ORU_TRUE},
        {ORU_COOL_POWER_PERC, "CoolPowerPerc", 100, 0, 0, ORU_FALSE, ORU_FALSE},
        {ORU_TARGET_TEMP, "TargetTemp", 30, -40, 0, ORU_FALSE, ORU_TRUE},
        {ORU_ANTI_DEW_HEATER, "AntiDewHeater", 1, 0, 0, ORU_FALSE, ORU_TRUE},
    };
    TestCoolCamera camera;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ORU_CONTROL_CAPS caps{};
        caps.control_type = static_cast<ORU_CONTROL_TYPE>(77);
        ASSERT_TRUE(camera.GetCtrllCaps(c.type, &caps));
        EXPECT_STREQ(caps.name, c.name);
        EXPECT_EQ(caps.max_value, c.max);
        EXPECT_EQ(caps.min_value, c.min);
        EXPECT_EQ(caps.default_value, c.def);
        EXPECT_EQ(caps.supports_auto, c.autoOn);
        EXPECT_EQ(caps.is_writable, c.writable);
        EXPECT_EQ(caps.control_type, 77) << "the type field is the caller's";
    }
    ORU_CONTROL_CAPS caps{};
    EXPECT_FALSE(camera.GetCtrllCaps(static_cast<ORU_CONTROL_TYPE>(22), &caps));
    EXPECT_FALSE(camera.GetCtrllCaps(static_cast<ORU_CONTROL_TYPE>(-1), &caps));
}

TEST(CameraControls, AutoExposureLimitInMsNeverAbove60000)
{
    const struct {
        int64_t expMaxUs;
        int maxMs;
    } cases[] = {{2000000000, 60000}, {60000000, 60000}, {59999999, 59999}, {30000000, 30000}};
    TestCoolCamera camera;
    for (const auto &c : cases) {
        camera.DescribeModel().m_Limits.lExpMax = c.expMaxUs;
        ORU_CONTROL_CAPS caps{};
        ASSERT_TRUE(camera.GetCtrllCaps(ORU_AUTO_EXP_MAX_EXP_MS, &caps));
        EXPECT_EQ(caps.max_value, c.maxMs) << c.expMaxUs;
    }
}

TEST(CameraControls, ValuesAreClampedToTheCapsRange)
{
    const struct {
        ORU_CONTROL_TYPE type;
        long value;
        long stored;
    } cases[] = {
        {ORU_GAIN, -5, 0},
        {ORU_GAIN, 900, 700},
        {ORU_EXPOSURE, 10, 32},
        {ORU_WB_R, 0, 1},
        {ORU_WB_B, 120, 99},
        {ORU_AUTO_EXP_MAX_EXP_MS, 100000, 60000},
        {ORU_AUTO_EXP_TARGET_BRIGHTNESS, 10, 50},
        {ORU_TARGET_TEMP, -50, -40},
        {ORU_TARGET_TEMP, 35, 30},
    };
    TestCoolCamera camera;
    for (const auto &c : cases) {
        EXPECT_EQ(camera.SetControlValue(c.type, c.value, false), ORU_SUCCESS) << c.type;
        EXPECT_EQ(ValueOf(camera, c.type), c.stored) << c.type << " set to " << c.value;
    }
}

TEST(CameraControls, SameExposureAndAutoFlagReachTheModelOnce)
{
    TestCoolCamera camera;
    EXPECT_EQ(camera.SetControlValue(ORU_EXPOSURE, 20000, false), ORU_SUCCESS);
    EXPECT_EQ(camera.SetControlValue(ORU_EXPOSURE, 20000, false), ORU_SUCCESS);
    EXPECT_EQ(camera.exposuresSet, (std::vector<uint64_t>{20000}));
    EXPECT_EQ(camera.SetControlValue(ORU_EXPOSURE, 20000, true), ORU_SUCCESS);
    EXPECT_EQ(camera.exposuresSet.size(), 2u);

    // A refused exposure is tried again on the next identical request.
    camera.acceptExposure = false;
    EXPECT_EQ(camera.SetControlValue(ORU_EXPOSURE, 30000, false), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(camera.SetControlValue(ORU_EXPOSURE, 30000, false), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(camera.exposuresSet.size(), 4u);
}

TEST(CameraControls, FlipValuesSetTheFlagsAndReadBack)
{
    const struct {
        long value;
        bool horiz, vert;
    } cases[] = {{0, false, false}, {1, true, false}, {2, false, true}, {3, true, true}};
    TestCoolCamera camera;
    for (const auto &c : cases) {
        ASSERT_EQ(camera.SetControlValue(ORU_FLIP, c.value, false), ORU_SUCCESS);
        EXPECT_EQ(camera.Settings().m_bFlipHoriz, c.horiz) << c.value;
        EXPECT_EQ(camera.Settings().m_bFlipVert, c.vert) << c.value;
        EXPECT_EQ(ValueOf(camera, ORU_FLIP), c.value);
    }
}

TEST(CameraControls, UnknownAndReadOnlyTypesAreRefused)
{
    TestCoolCamera camera;
    for (int type : {-1, 22, 100}) {
        long value = 0;
        ORU_BOOL isAuto = ORU_TRUE;
        const auto control = static_cast<ORU_CONTROL_TYPE>(type);
        EXPECT_EQ(camera.SetControlValue(control, 1, false), ORU_ERROR_INVALID_CONTROL_TYPE);
        EXPECT_EQ(camera.GetControlValue(control, &value, &isAuto), ORU_ERROR_INVALID_CONTROL_TYPE);
        EXPECT_EQ(isAuto, ORU_FALSE);
    }
    // Cooler power is only read; setting it reaches the base, which refuses.
    EXPECT_EQ(camera.SetControlValue(ORU_COOL_POWER_PERC, 50, false),
              ORU_ERROR_INVALID_CONTROL_TYPE);
}

TEST(CameraControls, CoolerControlsAreOnlyACooledCamerasOwn)
{
    TestCoolCamera cooled;
    TestCamera uncooled(64, 32, true);
    const ORU_CONTROL_TYPE coolerTypes[] = {ORU_COOL_POWER_PERC, ORU_TARGET_TEMP, ORU_COOLER_ON,
                                            ORU_FAN_ON, ORU_ANTI_DEW_HEATER};
    for (ORU_CONTROL_TYPE type : coolerTypes) {
        long value = 0;
        ORU_BOOL isAuto = ORU_FALSE;
        EXPECT_EQ(uncooled.GetControlValue(type, &value, &isAuto), ORU_ERROR_INVALID_CONTROL_TYPE)
            << type;
        EXPECT_EQ(uncooled.SetControlValue(type, 1, false), ORU_ERROR_INVALID_CONTROL_TYPE) << type;
        EXPECT_EQ(cooled.GetControlValue(type, &value, &isAuto), ORU_SUCCESS) << type;
    }
    EXPECT_EQ(cooled.SetControlValue(ORU_TARGET_TEMP, -15, false), ORU_SUCCESS);
    EXPECT_EQ(ValueOf(cooled, ORU_TARGET_TEMP), -15);
    EXPECT_EQ(uncooled.SetControlValue(ORU_FLIP, ORU_FLIP_BOTH, false), ORU_SUCCESS);
    EXPECT_EQ(ValueOf(uncooled, ORU_FLIP), ORU_FLIP_BOTH);
}

TEST(CameraControls, ControlConvMapsInternalToPublicTypes)
{
    const struct {
        Control_TYPE internal;
        ORU_CONTROL_TYPE type;
    } cases[] = {{CTRL_NONE, ORU_GAIN},
                 {CTRL_EXPOSURE, ORU_EXPOSURE},
                 {CTRL_TEMPERATURE, ORU_TEMPERATURE},
                 {CTRL_HARDWARE_BIN, ORU_HARDWARE_BIN},
                 {CTRL_MONO_BIN, ORU_MONO_BIN},
                 {CTRL_ANTI_DEW_HEATER, ORU_ANTI_DEW_HEATER},
                 {static_cast<Control_TYPE>(18), ORU_GAIN}};
    for (const auto &c : cases)
        EXPECT_EQ(CCameraBase::ControlConv(c.internal), c.type) << c.internal;
}

TEST(CameraControls, GammaTablesFollowTheGamma)
{
    TestCoolCamera camera;
    EXPECT_FALSE(camera.SetGamma(60)) << "no table before the buffers exist";
    camera.InitCamera();

    ASSERT_TRUE(camera.SetGamma(50));
    for (int i = 0; i < 65536; ++i)
        ASSERT_EQ(camera.m_pGammaTable16[i], i);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(camera.m_GammaTable8[i], i);

    const struct {
        int gamma;
        int stored;
        int entry8; // of input 64
    } cases[] = {{150, 100, 127}, {100, 100, 127}, {0, 0, 16}};
    for (const auto &c : cases) {
        ASSERT_TRUE(camera.SetGamma(c.gamma));
        EXPECT_EQ(camera.GetGamma(), c.stored);
        EXPECT_EQ(camera.m_GammaTable8[64], c.entry8) << c.gamma;
        EXPECT_EQ(camera.m_GammaTable8[255], 255);
        EXPECT_EQ(camera.m_pGammaTable16[65535], 65535);
    }
}

TEST(CameraControls, PropertyRecord)
{
    struct Case {
        Sensor sensor;
        std::vector<int> types;
    };
    const Case cases[] = {{Sensor::Color, {0, 1, 3, 2, -1, -1, -1, -1}},
                          {Sensor::Mono, {0, 2, -1, -1, -1, -1, -1, -1}}};
    for (const Case &c : cases) {
        TestCoolCamera camera(c.sensor);
        ORU_CAMERA_INFO info;
        memset(&info, 0x5A, sizeof info);
        camera.GetCameraProperty(&info);
        EXPECT_STREQ(info.name, "TAV ORU6200MC Pro");
        EXPECT_EQ(info.max_width, 64);
        EXPECT_EQ(info.max_height, 48);
        EXPECT_EQ(info.is_color, c.sensor == Sensor::Color ? ORU_TRUE : ORU_FALSE);
        EXPECT_EQ(std::vector<int>(info.supported_image_types, info.supported_image_types + 8),
                  c.types);
        EXPECT_EQ(std::vector<int>(info.supported_bins, info.supported_bins + 4),
                  (std::vector<int>{1, 2, 0, 0}));
        EXPECT_EQ(info.supported_bins[15], 0);
        EXPECT_EQ(info.has_cooler, ORU_TRUE);
        EXPECT_EQ(info.st4_port, ORU_FALSE);
        EXPECT_EQ(info.is_usb3, ORU_TRUE);
        EXPECT_EQ(info.mechanical_shutter, ORU_FALSE);
        EXPECT_EQ(info.bit_depth, 16);
        EXPECT_DOUBLE_EQ(info.pixel_size_um, 3.76);
    }
}

TEST(CameraControls, ElectronsPerADUByGainRule)
{
    const struct {
        const char *name;
        int gain;
        float amplification;
    } cases[] = {
        // Gain in 0.1 dB steps: 10^(g / 200).
        {"TAV ORU6200MC Pro", 0, 1.0f},
        {"TAV ORU6200MC Pro", 200, 10.0f},
        {"TAV ORU6200MC Pro", 60, 1.99526f},
        // The legacy USB2 family: piecewise linear in the gain register.
        {"TAV ORU120MM", 8, 1.5f},
        {"TAV ORU120MC", 20, 2.5f},
        {"TAV ORU120MM", 40, 6.0f},
        {"TAV ORU120MM", 50, 9.0f},
        {"TAV ORU120MM", 70, 22.0f},
        {"TAV ORU120MM", 90, 48.0f},
    };
    TestCoolCamera camera;
    for (const auto &c : cases) {
        camera.DescribeModel().m_szCameraName = c.name;
        camera.EditableSettings().m_iGain = c.gain;
        ORU_CAMERA_INFO info{};
        camera.GetCameraProperty(&info);
        EXPECT_NEAR(info.elec_per_adu, 0.768f / c.amplification, 1e-5) << c.name << " " << c.gain;
    }
}

class CameraMonoBin : public SimCoolCameraTest {};

TEST_F(CameraMonoBin, FPGABinningProgramsAndReadsRegister39)
{
    oru_sim::SimulatedCamera &device = PlugAndOpen();
    camera->DescribeModel().m_bFPGABin = true;
    device.setFpgaRegister(39, 0x83);
    ASSERT_EQ(camera->SetControlValue(ORU_MONO_BIN, 1, false), ORU_SUCCESS);
    EXPECT_EQ(device.fpgaRegister(39), 0x03) << "mono bin clears bit 7, keeps the rest";
    EXPECT_EQ(ValueOf(*camera, ORU_MONO_BIN), 1);
    device.setFpgaRegister(39, 0x80);
    EXPECT_EQ(ValueOf(*camera, ORU_MONO_BIN), 0) << "read back from the camera";
    EXPECT_FALSE(camera->Settings().m_bMonoBin);

    // Without FPGA binning only the flag changes.
    camera->DescribeModel().m_bFPGABin = false;
    device.clearRequests();
    ASSERT_EQ(camera->SetControlValue(ORU_MONO_BIN, 1, false), ORU_SUCCESS);
    EXPECT_EQ(ValueOf(*camera, ORU_MONO_BIN), 1);
    EXPECT_TRUE(device.requests().empty());
}

} // namespace
