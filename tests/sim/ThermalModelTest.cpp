// The first-order thermal model at chosen instants.
#include <gtest/gtest.h>

#include <cmath>

#include "sim/ThermalModel.h"

using namespace oru_sim;
using std::chrono::seconds;

TEST(ThermalModelTest, MovesExponentiallyTowardTheCoolersEquilibrium)
{
    const ThermalModel::Clock::time_point t0{};
    ThermalSettings settings;
    settings.ambientCelsius = 20.0;
    settings.lowestCelsius = -20.0;
    settings.timeConstantSeconds = 10.0;
    ThermalModel model(settings, t0);
    EXPECT_EQ(model.temperature(t0 + seconds(100)), 20.0) << "starts and stays at ambient";

    model.setPowerFraction(0.75, t0);
    EXPECT_EQ(model.equilibrium(), -10.0);
    const double afterOneConstant = -10.0 + 30.0 * std::exp(-1.0);
    EXPECT_NEAR(model.temperature(t0 + seconds(10)), afterOneConstant, 1e-9);
    EXPECT_NEAR(model.temperature(t0 + seconds(1000)), -10.0, 1e-9);

    // Switched off half-way: it warms from where it got to.
    model.setPowerFraction(0.0, t0 + seconds(10));
    EXPECT_NEAR(model.temperature(t0 + seconds(20)), 20.0 + (afterOneConstant - 20.0) * std::exp(-1.0), 1e-9);

    // New settings keep the present temperature.
    settings.ambientCelsius = 30.0;
    model.setSettings(settings, t0 + seconds(20));
    EXPECT_NEAR(model.temperature(t0 + seconds(20)), 20.0 + (afterOneConstant - 20.0) * std::exp(-1.0), 1e-9);
    EXPECT_NEAR(model.temperature(t0 + seconds(2000)), 30.0, 1e-9);

    model.setTemperature(-5.0, t0 + seconds(2000));
    EXPECT_EQ(model.temperature(t0 + seconds(2000)), -5.0);

    settings.timeConstantSeconds = 0.0;
    model.setSettings(settings, t0 + seconds(2000));
    EXPECT_EQ(model.temperature(t0 + seconds(2000)), 30.0) << "no time constant: at equilibrium at once";

    model.setPowerFraction(2.0, t0 + seconds(2000));
    EXPECT_EQ(model.powerFraction(), 1.0);
}
