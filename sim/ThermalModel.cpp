#include "sim/ThermalModel.h"

#include <algorithm>
#include <cmath>

namespace oru_sim {

ThermalModel::ThermalModel(const ThermalSettings& settings, Clock::time_point now)
    : settings_(settings),
      startCelsius_(settings.ambientCelsius),
      start_(now)
{
}

double ThermalModel::equilibrium() const
{
    return settings_.ambientCelsius - power_ * (settings_.ambientCelsius - settings_.lowestCelsius);
}

double ThermalModel::temperature(Clock::time_point now) const
{
    if (settings_.timeConstantSeconds <= 0.0)
        return equilibrium();
    double elapsed = std::max(0.0, std::chrono::duration<double>(now - start_).count());
    return equilibrium() + (startCelsius_ - equilibrium()) * std::exp(-elapsed / settings_.timeConstantSeconds);
}

void ThermalModel::setTemperature(double celsius, Clock::time_point now)
{
    startCelsius_ = celsius;
    start_ = now;
}

void ThermalModel::setPowerFraction(double power, Clock::time_point now)
{
    setTemperature(temperature(now), now);
    power_ = std::clamp(power, 0.0, 1.0);
}

void ThermalModel::setSettings(const ThermalSettings& settings, Clock::time_point now)
{
    setTemperature(temperature(now), now);
    settings_ = settings;
}

}  // namespace oru_sim
