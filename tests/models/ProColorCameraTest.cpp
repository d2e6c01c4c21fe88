// The ORU6200MC Pro as a user drives it, through the flat API against the
// named simulated model: decoded sensor state, settings that survive a reopen,
// the guide port, and the cooler regulating the simulated thermal model.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tests/TempHome.h"
#include "api/ORUCamera.h"
#include "sim/CameraBoard.h"
#include "sim/GuidePort.h"
#include "sim/ModelCatalog.h"
#include "sim/ProColorSensor.h"
#include "sim/SimulatedBus.h"

using oru_sim::SimulatedCamera;

namespace {

int32_t ControlValue(int id, ORU_CONTROL_TYPE type)
{
    int32_t value = 0;
    ORU_BOOL isAuto = ORU_FALSE;
    EXPECT_EQ(ORUGetControlValue(id, type, &value, &isAuto), ORU_SUCCESS);
    return value;
}

class ProColorCameraTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim_ = &bus_.addCamera(oru_sim::ModelCatalog::find("ORU6200MC Pro"));
        Open();
    }
    void TearDown() override { ORUCloseCamera(0); }

    void Open()
    {
        ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
        ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);
        ASSERT_EQ(ORUInitCamera(0), ORU_SUCCESS);
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
    SimulatedCamera *sim_ = nullptr;
};

} // namespace

TEST_F(ProColorCameraTest, ExposureGainAndWindowReachTheSensor)
{
    struct Case {
        int32_t exposureUs;
        int32_t gain;
    };
    for (const Case c : {Case{1000, 0}, Case{100000, 200}, Case{250000, 461}}) {
        ASSERT_EQ(ORUSetControlValue(0, ORU_EXPOSURE, c.exposureUs, ORU_FALSE), ORU_SUCCESS);
        ASSERT_EQ(ORUSetControlValue(0, ORU_GAIN, c.gain, ORU_FALSE), ORU_SUCCESS);
        const oru_sim::SensorState state = sim_->sensorState();
        const oru_sim::ProColorState decoded = oru_sim::ProColorSensor::decode(*sim_);
        EXPECT_NEAR(state.exposureUs, c.exposureUs, 2 * decoded.lineTimeUs) << c.exposureUs;
        EXPECT_EQ(state.gainTenthDb, c.gain);
    }

    ASSERT_EQ(ORUSetROIFormat(0, 640, 480, 2, ORU_IMG_RAW8), ORU_SUCCESS);
    ASSERT_EQ(ORUSetStartPos(0, 100, 50), ORU_SUCCESS);
    const oru_sim::SensorState state = sim_->sensorState();
    EXPECT_EQ(state.windowX, 192) << "200 sensor pixels, down to the 16-pixel grid";
    EXPECT_EQ(state.windowY, 100);
    EXPECT_EQ(state.windowWidth, 1280);
    EXPECT_EQ(state.windowHeight, 960);
}

TEST_F(ProColorCameraTest, SettingsSurviveCloseAndReopen)
{
    ASSERT_EQ(ORUSetControlValue(0, ORU_EXPOSURE, 5000000, ORU_FALSE), ORU_SUCCESS);
    ASSERT_EQ(ORUSetControlValue(0, ORU_GAIN, 321, ORU_FALSE), ORU_SUCCESS);
    ASSERT_EQ(ORUSetControlValue(0, ORU_FLIP, ORU_FLIP_VERT, ORU_FALSE), ORU_SUCCESS);
    ASSERT_EQ(ORUCloseCamera(0), ORU_SUCCESS);

    Open();
    EXPECT_EQ(ControlValue(0, ORU_EXPOSURE), 100000) << "a stored long exposure loads as 100 ms";
    EXPECT_EQ(ControlValue(0, ORU_GAIN), 321);
    EXPECT_EQ(ControlValue(0, ORU_FLIP), ORU_FLIP_VERT);
}

TEST_F(ProColorCameraTest, GuidePulsesReachTheGuidePort)
{
    ASSERT_EQ(ORUPulseGuideOn(0, ORU_GUIDE_EAST), ORU_SUCCESS);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(ORUPulseGuideOff(0, ORU_GUIDE_EAST), ORU_SUCCESS);

    const std::vector<oru_sim::GuidePulse> pulses = sim_->guidePort().pulses();
    ASSERT_EQ(pulses.size(), 1u);
    EXPECT_EQ(pulses[0].direction, ORU_GUIDE_EAST);
    ASSERT_TRUE(pulses[0].stop.has_value());
    EXPECT_GE(*pulses[0].stop - pulses[0].start, std::chrono::milliseconds(50));
}

TEST_F(ProColorCameraTest, CoolerOnDrivesTheSensorTemperatureDownAndThePowerUp)
{
    oru_sim::ThermalSettings thermal;
    thermal.ambientCelsius = 20.0;
    thermal.lowestCelsius = -20.0;
    thermal.timeConstantSeconds = 0.5;
    sim_->board().setThermalSettings(thermal);
    sim_->board().setSensorTemperature(20.0);
    // Let the regulator thread take a reading at ambient first.
    std::this_thread::sleep_for(std::chrono::milliseconds(4000));
    const int32_t startTemp = ControlValue(0, ORU_TEMPERATURE);

    ASSERT_EQ(ORUSetControlValue(0, ORU_TARGET_TEMP, -10, ORU_FALSE), ORU_SUCCESS);
    ASSERT_EQ(ORUSetControlValue(0, ORU_COOLER_ON, 1, ORU_FALSE), ORU_SUCCESS);
    EXPECT_EQ(ControlValue(0, ORU_TARGET_TEMP), -10);
    EXPECT_EQ(ControlValue(0, ORU_COOLER_ON), 1);

    // The regulator steps every 3.6 s; a few steps must show the effect.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    int32_t power = 0;
    int32_t temp = startTemp;
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        power = ControlValue(0, ORU_COOL_POWER_PERC);
        temp = ControlValue(0, ORU_TEMPERATURE);
        if (power > 0 && temp <= startTemp - 5)
            break;
    }
    EXPECT_GT(power, 0);
    EXPECT_GT(sim_->board().coolerPowerFraction(), 0.0);
    EXPECT_LE(temp, startTemp - 5) << "temperature in 0.1 degC";
    EXPECT_TRUE(sim_->fanOn());

    ASSERT_EQ(ORUSetControlValue(0, ORU_COOLER_ON, 0, ORU_FALSE), ORU_SUCCESS);
    EXPECT_EQ(ControlValue(0, ORU_COOL_POWER_PERC), 0);
    EXPECT_EQ(sim_->board().coolerPowerFraction(), 0.0);
}
