// The sensor's temperature as a first-order system: it moves exponentially,
// with one time constant, toward the equilibrium the cooler allows,
//   ambient - power x (ambient - lowest reachable),
// power being the cooler's share of its full current (0 to 1).
//
// Pure model: the caller passes the time; not thread-safe on its own.
#pragma once

#include <chrono>

namespace oru_sim {

struct ThermalSettings {
    double ambientCelsius = 20.0;
    double lowestCelsius = -15.0;       // reached at full cooler power
    double timeConstantSeconds = 60.0;  // 0 or less: the temperature jumps
};

class ThermalModel {
public:
    using Clock = std::chrono::steady_clock;

    ThermalModel(const ThermalSettings& settings, Clock::time_point now);

    double temperature(Clock::time_point now) const;
    // The temperature the sensor settles at with the present power.
    double equilibrium() const;
    double powerFraction() const { return power_; }
    const ThermalSettings& settings() const { return settings_; }

    void setTemperature(double celsius, Clock::time_point now);
    void setPowerFraction(double power, Clock::time_point now);
    // The sensor keeps its present temperature and heads for the new
    // equilibrium from there.
    void setSettings(const ThermalSettings& settings, Clock::time_point now);

private:
    ThermalSettings settings_;
    double power_ = 0.0;
    double startCelsius_;  // temperature at start_
    Clock::time_point start_;
};

}  // namespace oru_sim
