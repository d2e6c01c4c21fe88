// Temperatures, pulse guiding, trigger-output pins and the log switch of the
// camera object.
#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

#include "log/DbgPrint.h"
#include "tests/SimCoolCameraTest.h"

namespace {

using oru_sim::FailureKind;
using oru_sim::SimulatedCamera;

constexpr uint8_t kReqGuideOn = 0xB0;
constexpr uint8_t kReqGuideOff = 0xB1;
constexpr uint8_t kReqBoardTemp = 0xB3;
constexpr uint8_t kReqTempAdc = 0xC7;

uint32_t FpgaWord(const SimulatedCamera &device, uint8_t first)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | device.fpgaRegister(static_cast<uint8_t>(first + i));
    return value;
}

TEST(CameraTemperature, TMP100Conversion)
{
    const std::pair<int, float> cases[] = {{0x190, 25.0f},     {0xF38, -12.5f},  {0x001, 0.0625f},
                                           {0x7FF, 127.9375f}, {0x800, -128.0f}, {0xFFF, -0.0625f}};
    for (const auto &[raw, celsius] : cases)
        EXPECT_FLOAT_EQ(CCameraBase::TMP100RawToTemp(raw), celsius) << raw;
}

TEST(CameraTemperature, ThermistorInterpolatesAndKeepsTheLastValueOutOfRange)
{
    TestCoolCamera camera;
    EXPECT_EQ(camera.Settings().m_iThermistorMinTemp, -50);
    EXPECT_EQ(camera.Settings().m_iThermistorMaxTemp, 113);

    // 12-bit raw r: R = r x 10 / (4096 - r) kOhm; 8-bit: r x 10 / (256 - r).
    EXPECT_FLOAT_EQ(camera.CalculTempuature(2048, 10), 25.0f);
    EXPECT_NEAR(camera.CalculTempuature(1024, 10), 51.95f, 0.005f);
    EXPECT_FLOAT_EQ(camera.CalculTempuature(static_cast<unsigned char>(128), 10), 25.0f);
    const struct {
        const char *what;
        int raw;
    } outside[] = {
        {"above the table's highest resistance", 4090},
        {"below its lowest", 100},
        {"zero", 0},
        {"past 12 bits", 4096},
        {"negative", -1},
    };
    for (const auto &c : outside)
        EXPECT_FLOAT_EQ(camera.CalculTempuature(c.raw, 10), 25.0f) << c.what;
    EXPECT_FLOAT_EQ(camera.Settings().m_fThermistorTemp, 25.0f);
}

class CameraServices : public SimCoolCameraTest {};

TEST_F(CameraServices, TemperatureReadsKeepThePreviousValueWithoutAReading)
{
    SimulatedCamera &device = PlugAndOpen();
    const struct {
        int sensorType;
        uint8_t request;
    } cases[] = {{0, kReqBoardTemp}, {1, kReqTempAdc}, {2, kReqTempAdc}, {3, kReqBoardTemp}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sensorType);
        camera->DescribeModel().m_iTempSensorType = c.sensorType;
        camera->EditableSettings().m_fTemp = 21.5f;
        camera->EditableSettings().m_fThermistorTemp = 21.5f;
        device.failNextRequests(1, FailureKind::Stall, c.request);
        EXPECT_FLOAT_EQ(camera->GetSensorTemp(), 21.5f) << "failed request";
        device.clearRequests();
        // The simulated chips answer zeros: TMP451 reads 0 degrees, the
        // others treat zero as no reading.
        const float expected = c.sensorType == 3 ? 0.0f : 21.5f;
        EXPECT_FLOAT_EQ(camera->GetSensorTemp(), expected);
        EXPECT_FLOAT_EQ(camera->Settings().m_fTemp, expected);
        const auto sent = device.requests(c.request);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_TRUE(sent[0].setup.deviceToHost());
        EXPECT_EQ(sent[0].setup.length, 2);
    }
}

TEST_F(CameraServices, GuidePulsesOnTheWire)
{
    SimulatedCamera &device = PlugAndOpen();
    for (int direction = GUIDE_NORTH; direction <= GUIDE_WEST; ++direction) {
        SCOPED_TRACE(direction);
        device.clearRequests();
        const GuideD d = static_cast<GuideD>(direction);
        EXPECT_TRUE(camera->PulseGuideOn(d));
        EXPECT_TRUE(camera->PulseGuideOff(d));
        EXPECT_TRUE(camera->pulseGuide(d, 2));
        std::vector<std::pair<int, int>> sent;
        for (const auto &request : device.requests())
            sent.emplace_back(request.setup.request, request.setup.value);
        EXPECT_EQ(sent, (std::vector<std::pair<int, int>>{{kReqGuideOn, direction},
                                                          {kReqGuideOff, direction},
                                                          {kReqGuideOn, direction},
                                                          {kReqGuideOff, direction}}));
    }
    device.clearRequests();
    const GuideD beyond = static_cast<GuideD>(4);
    EXPECT_TRUE(camera->PulseGuideOn(beyond));
    EXPECT_TRUE(camera->PulseGuideOff(beyond));
    EXPECT_TRUE(camera->pulseGuide(beyond, 2));
    EXPECT_TRUE(device.requests().empty());
}

TEST_F(CameraServices, TriggerOutputPinsProgramTheSyncUnits)
{
    SimulatedCamera &device = PlugAndOpen();
    ORU_BOOL high = ORU_FALSE;
    long delay = -1;
    long duration = -1;
    ASSERT_EQ(camera->GetTrigOutPinConf(TRIG_OUTPUT_PINA, &high, &delay, &duration), ORU_SUCCESS);
    EXPECT_EQ(std::make_tuple(high, delay, duration), std::make_tuple(ORU_TRUE, 0L, 0L));

    // Register 41: bit 0/1 enable A/B, bit 4/5 set for an active-low A/B.
    // A duration of 0 disables the pin but keeps its level and delay.
    device.setFpgaRegister(41, 0x01);
    ASSERT_EQ(camera->SetTrigOutPinConf(TRIG_OUTPUT_PINA, false, 100, 0), ORU_SUCCESS);
    EXPECT_EQ(device.fpgaRegister(41), 0x10);
    EXPECT_EQ(FpgaWord(device, 48), 100u);
    EXPECT_EQ(FpgaWord(device, 52), 0u);
    ASSERT_EQ(camera->GetTrigOutPinConf(TRIG_OUTPUT_PINA, &high, &delay, &duration), ORU_SUCCESS);
    EXPECT_EQ(std::make_tuple(high, delay, duration), std::make_tuple(ORU_FALSE, 100L, 0L));

    ASSERT_EQ(camera->SetTrigOutPinConf(TRIG_OUTPUT_PINB, true, 70000, 500), ORU_SUCCESS);
    EXPECT_EQ(device.fpgaRegister(41), 0x12);
    EXPECT_EQ(FpgaWord(device, 56), 70000u);
    EXPECT_EQ(FpgaWord(device, 60), 500u);

    // A negative time means none, not a huge unsigned one.
    ASSERT_EQ(camera->SetTrigOutPinConf(TRIG_OUTPUT_PINB, true, -5, 500), ORU_SUCCESS);
    EXPECT_EQ(FpgaWord(device, 56), 0u);
    ASSERT_EQ(camera->GetTrigOutPinConf(TRIG_OUTPUT_PINB, &high, &delay, &duration), ORU_SUCCESS);
    EXPECT_EQ(delay, 0L);

    device.clearRequests();
    const Trig_Output_Pin pinC = static_cast<Trig_Output_Pin>(2);
    EXPECT_EQ(camera->SetTrigOutPinConf(pinC, true, 1, 1), ORU_ERROR_GENERAL_ERROR);
    EXPECT_EQ(camera->GetTrigOutPinConf(pinC, &high, &delay, &duration), ORU_ERROR_GENERAL_ERROR);
    EXPECT_TRUE(device.requests().empty());
}

TEST(CameraLogSwitch, SwitchesTheProcessWideFlag)
{
    TestCoolCamera camera;
    ORU_BOOL enabled = ORU_TRUE;
    ASSERT_EQ(camera.GetDebugLogIsEnabled(&enabled), ORU_SUCCESS);
    EXPECT_EQ(enabled, ORU_FALSE);
    ASSERT_EQ(camera.EnableDebugLog(ORU_TRUE), ORU_SUCCESS);
    EXPECT_TRUE(g_bDebugPrint);
    camera.GetDebugLogIsEnabled(&enabled);
    EXPECT_EQ(enabled, ORU_TRUE);
    ASSERT_EQ(camera.EnableDebugLog(ORU_FALSE), ORU_SUCCESS);
    EXPECT_FALSE(g_bDebugPrint);
    camera.GetDebugLogIsEnabled(&enabled);
    EXPECT_EQ(enabled, ORU_FALSE);
}

} // namespace
