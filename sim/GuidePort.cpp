#include "sim/GuidePort.h"

namespace oru_sim {

GuidePulse* GuidePort::activePulse(int direction)
{
    for (GuidePulse& pulse : pulses_)
        if (pulse.direction == direction && !pulse.stop)
            return &pulse;
    return nullptr;
}

bool GuidePort::on(uint16_t direction)
{
    if (direction >= kLines)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (GuidePulse* pulse = activePulse(direction))
        ++pulse->repeatedOns;
    else
        pulses_.push_back(GuidePulse{direction, GuidePulse::Clock::now(), std::nullopt, 0});
    return true;
}

bool GuidePort::off(uint16_t direction)
{
    if (direction >= kLines)
        return false;
    std::lock_guard<std::mutex> lock(mutex_);
    if (GuidePulse* pulse = activePulse(direction))
        pulse->stop = GuidePulse::Clock::now();
    return true;
}

void GuidePort::powerCycle()
{
    std::lock_guard<std::mutex> lock(mutex_);
    GuidePulse::Clock::time_point now = GuidePulse::Clock::now();
    for (GuidePulse& pulse : pulses_)
        if (!pulse.stop)
            pulse.stop = now;
}

std::vector<GuidePulse> GuidePort::pulses() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return pulses_;
}

void GuidePort::clearPulses()
{
    std::lock_guard<std::mutex> lock(mutex_);
    pulses_.clear();
}

}  // namespace oru_sim
