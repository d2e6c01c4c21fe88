#include "FixedSensorModel.h"

using namespace oru_sim;

FixedSensorModel::FixedSensorModel(const SensorState& state) : state_(state) {}

void FixedSensorModel::registerWritten(SimulatedCamera&, RegisterSpace space, uint16_t address, uint16_t value)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (space == RegisterSpace::Sensor && address == kStandbyRegister)
        state_.awake = (value & 1) == 0;
}

SensorState FixedSensorModel::state(const SimulatedCamera&) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return state_;
}

void FixedSensorModel::set(const SensorState& state)
{
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
}
