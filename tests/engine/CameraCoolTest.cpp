// The cooled layer: DAC values from cooler currents, cooler power on the
// wire, target and rate limits, the PD regulator with its cool-down ramp on
// synthetic temperatures, fan and heater, and the cooler thread's lifecycle.
#include <gtest/gtest.h>

#include <vector>

#include "tests/SimCoolCameraTest.h"

namespace {

using oru_sim::CameraConfig;
using oru_sim::SimulatedCamera;

constexpr uint8_t kReqCoolerDrive = 0xB2;
constexpr uint8_t kReqBoardTemp = 0xB3;

std::vector<int> CoolerValuesSent(const SimulatedCamera &device)
{
    std::vector<int> values;
    for (const auto &request : device.requests(kReqCoolerDrive))
        values.push_back(request.setup.value);
    return values;
}

bool FanOn(const SimulatedCamera &device)
{
    return (device.fpgaRegister(25) & 0x80) == 0;
}

// Forgets the previous reading and the last ramp update, so that the next
// reading passes the rate limit and moves the ramp set-point.
void FreshReading(TestCoolCamera &camera)
{
    camera.m_uPrevTempTime = 0;
    camera.m_uRampLastMs = 0;
}

TEST(CameraCooler, DACValueFromCurrent)
{
    // clang-format off
    const struct {
        int limit;
        float current;
        int dac;
    } cases[] = {
        {40, 1.0f, 228},  // 255 + (220 - 255) x 1.0 / 1.31
        {40, 0.0f, 255},  {40, 1.31f, 220}, {40, 3.0f, 164}, {40, 6.01f, 40},
        {40, 6.4f, 40},   // held to the DAC limit of InitCooling(40)
        {40, 7.0f, 40},   {40, -1.0f, 255}, {20, 6.4f, 20},  {20, 7.0f, 20},
    };
    // clang-format on
    TestCoolCamera camera;
    for (const auto &c : cases) {
        camera.InitCooling(c.limit);
        EXPECT_EQ(camera.CalculDA(c.current), c.dac) << c.current << " A, limit " << c.limit;
    }
}

TEST(CameraCooler, InitCoolingTakesTheNearestRow)
{
    const struct {
        int limit;
        float daMin, iMax;
    } cases[] = {{40, 40, 6.01f}, {45, 50, 5.85f}, {44, 40, 6.01f}, {0, 20, 6.4f}, {19, 20, 6.4f}};
    TestCoolCamera camera;
    EXPECT_FLOAT_EQ(camera.m_fDAMin, 40.0f);
    EXPECT_FLOAT_EQ(camera.m_fDAMax, 255.0f);
    EXPECT_FLOAT_EQ(camera.m_fIMin, 0.0f);
    for (const auto &c : cases) {
        camera.InitCooling(c.limit);
        EXPECT_FLOAT_EQ(camera.m_fDAMin, c.daMin) << c.limit;
        EXPECT_FLOAT_EQ(camera.m_fIMax, c.iMax) << c.limit;
    }
}

TEST(CameraCooler, TargetIsHeldToItsRange)
{
    const struct {
        float target;
        int stored;
    } cases[] = {{-50.0f, -40}, {35.0f, 30}, {12.7f, 12}, {-12.7f, -12}, {-40.0f, -40}};
    TestCoolCamera camera;
    for (const auto &c : cases) {
        camera.SetAutoTemp(false, c.target);
        EXPECT_EQ(camera.Settings().m_iTargetTemp, c.stored) << c.target;
    }
}

class CameraCoolerOnWire : public SimCoolCameraTest {};

TEST_F(CameraCoolerOnWire, PowerPercentOnTheWirePerDriveKind)
{
    // clang-format off
    const struct {
        int driveKind;
        float percent;
        float stored;
        bool fan;
        int sent; // request value, or FPGA register 38
    } cases[] = {
        {0, 150.0f, 100.0f, true, 40},
        {0, 0.0f, 0.0f, false, 255},
        {0, 50.0f, 50.0f, true, 164},
        {1, 150.0f, 100.0f, true, 199}, // 220 x (272 - 40) / 256
        {1, 0.0f, 0.0f, false, 14},     // 220 x (272 - 255) / 256
    };
    // clang-format on
    SimulatedCamera &device = PlugAndOpen();
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "kind " << c.driveKind << ", " << c.percent << " %");
        camera->DescribeModel().m_iCoolerDriveKind = c.driveKind;
        camera->m_iLastDA = -1;
        device.clearRequests();
        EXPECT_TRUE(camera->SetPowerPerc(c.percent));
        EXPECT_FLOAT_EQ(camera->Settings().m_fCoolPowerPerc, c.stored);
        EXPECT_EQ(FanOn(device), c.fan);
        EXPECT_EQ(camera->m_iDAValue, c.sent);
        if (c.driveKind == 1) {
            EXPECT_EQ(device.fpgaRegister(38), c.sent);
            EXPECT_TRUE(CoolerValuesSent(device).empty());
        } else {
            EXPECT_EQ(CoolerValuesSent(device), std::vector<int>{c.sent});
        }
    }
}

TEST_F(CameraCoolerOnWire, SameDACValueIsSentOnce)
{
    SimulatedCamera &device = PlugAndOpen();
    EXPECT_TRUE(camera->SetPowerPerc(50.0f));
    EXPECT_TRUE(camera->SetPowerPerc(50.2f));
    EXPECT_TRUE(camera->SetDA(164));
    EXPECT_EQ(CoolerValuesSent(device), std::vector<int>{164});

    // A value the camera did not take is sent again.
    device.failNextRequests(1, oru_sim::FailureKind::Stall, kReqCoolerDrive);
    EXPECT_FALSE(camera->SetDA(100));
    EXPECT_TRUE(camera->SetDA(100));
    EXPECT_EQ(CoolerValuesSent(device), (std::vector<int>{164, 100, 100}));
    EXPECT_EQ(camera->m_iDAValue, 100);
}

TEST_F(CameraCoolerOnWire, FanNeedsFirmware48)
{
    for (uint8_t firmware : {0x2F, 0x30}) {
        SCOPED_TRACE(static_cast<int>(firmware));
        CameraConfig config = Usb3Config();
        config.firmwareVersion = firmware;
        SimulatedCamera &device = PlugAndOpen(config);
        device.setFpgaRegister(25, 0x80);
        EXPECT_EQ(camera->SetControlValue(ORU_FAN_ON, 1, false), ORU_SUCCESS);
        EXPECT_EQ(FanOn(device), firmware >= 48);
        long value = -1;
        ORU_BOOL isAuto = ORU_TRUE;
        ASSERT_EQ(camera->GetControlValue(ORU_FAN_ON, &value, &isAuto), ORU_SUCCESS);
        EXPECT_EQ(value, firmware >= 48 ? 1 : 0);
        camera.reset();
        bus.unplug(device);
    }
}

TEST_F(CameraCoolerOnWire, AntiDewHeaterPerHeaterKind)
{
    SimulatedCamera &device = PlugAndOpen();
    for (int kind : {0, 2}) {
        SCOPED_TRACE(kind);
        camera->DescribeModel().m_iHeaterKind = kind;
        device.setFpgaRegister(42, 5);
        ASSERT_EQ(camera->SetControlValue(ORU_ANTI_DEW_HEATER, 1, false), ORU_SUCCESS);
        EXPECT_NE(device.fpgaRegister(25) & 0x40, 0);
        EXPECT_EQ(device.fpgaRegister(42), kind >= 2 ? 197 : 5);
        long value = -1;
        ORU_BOOL isAuto = ORU_TRUE;
        ASSERT_EQ(camera->GetControlValue(ORU_ANTI_DEW_HEATER, &value, &isAuto), ORU_SUCCESS);
        EXPECT_EQ(value, 1);
        ASSERT_EQ(camera->SetControlValue(ORU_ANTI_DEW_HEATER, 0, false), ORU_SUCCESS);
        EXPECT_EQ(device.fpgaRegister(25) & 0x40, 0);
        EXPECT_EQ(device.fpgaRegister(42), kind >= 2 ? 0 : 5);
    }
    // Power and switch disagreeing: the switch wins.
    device.setFpgaRegister(25, 0x40);
    device.setFpgaRegister(42, 0);
    EXPECT_TRUE(camera->GetLensHeat());
}

TEST(CameraCooler, RateLimitIgnoresFastJumps)
{
    const struct {
        float limit;
        float previous, reading;
        bool accepted;
    } cases[] = {
        {2.0f, 20.0f, 23.0f, false}, // 3 degrees in 1 s
        {2.0f, 20.0f, 18.5f, true},
        {0.11f, 20.0f, 20.5f, false},
        {0.11f, 20.0f, 20.1f, true},
    };
    TestCoolCamera camera;
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.previous << " -> " << c.reading);
        camera.DescribeModel().m_fCoolRateLimit = c.limit;
        camera.m_uPrevTempTime = GetTickCount() - 1000;
        camera.m_fPrevTemp = c.previous;
        camera.AutoTemp(c.reading);
        EXPECT_FLOAT_EQ(camera.m_fPrevTemp, c.accepted ? c.reading : c.previous);
    }
    // Two different readings in the same moment are a jump, not a division by zero.
    camera.DescribeModel().m_fCoolRateLimit = 2.0f;
    camera.m_uPrevTempTime = GetTickCount();
    camera.m_fPrevTemp = 20.0f;
    camera.AutoTemp(20.5f);
    EXPECT_FLOAT_EQ(camera.m_fPrevTemp, 20.0f);
}

TEST_F(CameraCoolerOnWire, WithTheCoolerOffAutoTempOnlyRecords)
{
    SimulatedCamera &device = PlugAndOpen();
    camera->SetPowerPerc(30.0f);
    camera->SetAutoTemp(false, -10.0f);
    device.clearRequests();
    FreshReading(*camera);
    camera->AutoTemp(25.0f);
    EXPECT_FLOAT_EQ(camera->m_fPrevTemp, 25.0f);
    EXPECT_NE(camera->m_uPrevTempTime, 0u);
    EXPECT_FLOAT_EQ(camera->Settings().m_fCoolPowerPerc, 30.0f);
    EXPECT_TRUE(device.requests().empty());
}

TEST_F(CameraCoolerOnWire, RegulatorDrivesThePowerTowardsTheTarget)
{
    SimulatedCamera &device = PlugAndOpen();
    camera->SetPowerPerc(0.0f);
    camera->EditableSettings().m_fTemp = 20.0f;
    ASSERT_EQ(camera->SetControlValue(ORU_TARGET_TEMP, -10, false), ORU_SUCCESS);
    ASSERT_EQ(camera->SetControlValue(ORU_COOLER_ON, 1, false), ORU_SUCCESS);
    EXPECT_TRUE(camera->Settings().m_bCoolerOn);
    EXPECT_TRUE(camera->m_bRampActive);
    EXPECT_EQ(camera->m_iRampStartTemp, 20) << "the simulated chip has no reading: last value";

    // Warm: every step raises the power until the DAC moves by a count.
    float power = camera->Settings().m_fCoolPowerPerc;
    for (int step = 0; step < 5; ++step) {
        FreshReading(*camera);
        device.clearRequests();
        camera->AutoTemp(20.0f);
        EXPECT_GT(camera->Settings().m_fCoolPowerPerc, power) << step;
        EXPECT_EQ(CoolerValuesSent(device).size(), 1u) << step;
        power = camera->Settings().m_fCoolPowerPerc;
    }
    EXPECT_LT(camera->m_iDAValue, 255);
    EXPECT_FALSE(camera->m_bTargetReached);

    // Too warm but already cooling faster than 0.2 degrees a second: hold.
    camera->m_uPrevTempTime = GetTickCount() - 1000;
    camera->m_fPrevTemp = 20.5f;
    camera->AutoTemp(20.0f);
    EXPECT_FLOAT_EQ(camera->Settings().m_fCoolPowerPerc, power);

    // Below the target: the power falls and the target counts as reached.
    FreshReading(*camera);
    camera->AutoTemp(-11.0f);
    EXPECT_LT(camera->Settings().m_fCoolPowerPerc, power);
    EXPECT_GT(camera->Settings().m_fCoolPowerPerc, 0.0f);
    EXPECT_TRUE(camera->m_bTargetReached);
    EXPECT_FLOAT_EQ(camera->m_fRampSetPoint, -10.0f);

    // Switching the cooler off drops the power to 0.
    device.clearRequests();
    ASSERT_EQ(camera->SetControlValue(ORU_COOLER_ON, 0, false), ORU_SUCCESS);
    EXPECT_FALSE(camera->Settings().m_bCoolerOn);
    EXPECT_EQ(CoolerValuesSent(device), std::vector<int>{255});
    long value = -1;
    ORU_BOOL isAuto = ORU_TRUE;
    ASSERT_EQ(camera->GetControlValue(ORU_COOL_POWER_PERC, &value, &isAuto), ORU_SUCCESS);
    EXPECT_EQ(value, 0);
}

TEST_F(CameraCoolerOnWire, AVanishingOutputStillEndsTheStep)
{
    PlugAndOpen();
    camera->SetPowerPerc(50.0f);
    camera->EditableSettings().m_fTemp = 20.0f;
    camera->SetAutoTemp(true, -10.0f);
    // An output too small to change a float power of 50 must not spin.
    camera->PID_init(1e-7f, 0.0f, 0.0f);
    FreshReading(*camera);
    camera->AutoTemp(20.0f);
    EXPECT_FLOAT_EQ(camera->Settings().m_fCoolPowerPerc, 50.0f);
}

TEST_F(CameraCoolerOnWire, ThreadServesCachedTemperatureAndSwitchesOffWhenStopped)
{
    SimulatedCamera &device = PlugAndOpen();
    camera->EditableSettings().m_fTemp = 12.5f;
    device.clearRequests();
    EXPECT_FLOAT_EQ(camera->GetTemp(), 12.5f);
    EXPECT_EQ(device.requests(kReqBoardTemp).size(), 1u) << "no thread: the sensor is read";

    camera->SetPowerPerc(60.0f);
    camera->StartAutoTempThr();
    device.clearRequests();
    EXPECT_FLOAT_EQ(camera->GetTemp(), 12.5f);
    long tenths = 0;
    ORU_BOOL isAuto = ORU_TRUE;
    ASSERT_EQ(camera->GetControlValue(ORU_TEMPERATURE, &tenths, &isAuto), ORU_SUCCESS);
    EXPECT_EQ(tenths, 125);
    EXPECT_TRUE(device.requests(kReqBoardTemp).empty()) << "the thread alone reads the sensor";

    camera->CloseCamera();
    EXPECT_FALSE(camera->m_TempThread.IsRunning());
    EXPECT_EQ(CoolerValuesSent(device), std::vector<int>{255}) << "cooler off on leaving";
    EXPECT_FLOAT_EQ(camera->Settings().m_fCoolPowerPerc, 0.0f);
    EXPECT_FALSE(camera->IsOpen());
}

TEST_F(CameraCoolerOnWire, DestroyingARunningCameraStopsItsThreads)
{
    SimulatedCamera &device = PlugAndOpen();
    ASSERT_TRUE(camera->InitCamera());
    camera->SetPowerPerc(60.0f);
    camera->StartAutoTempThr();
    ASSERT_TRUE(camera->StartCapture(false));
    const auto live = camera->liveLoops;
    ASSERT_TRUE(camera->WaitForLoop());
    device.clearRequests();
    camera.reset();
    EXPECT_EQ(*live, 0);
    EXPECT_EQ(CoolerValuesSent(device), std::vector<int>{255}) << "the cooler thread ran its exit";
}

} // namespace
