// A sensor model for stream tests: the test sets the state directly, except
// standby, which follows sensor register 0x0000 bit 0 as written over USB (so
// that the stream hears of it).
#pragma once

#include <mutex>

#include "sim/SensorModel.h"

class FixedSensorModel : public oru_sim::SensorModel {
public:
    static constexpr uint16_t kStandbyRegister = 0x0000;

    explicit FixedSensorModel(const oru_sim::SensorState& state);

    void registerWritten(oru_sim::SimulatedCamera& camera, oru_sim::RegisterSpace space, uint16_t address,
                         uint16_t value) override;
    oru_sim::SensorState state(const oru_sim::SimulatedCamera& camera) const override;

    void set(const oru_sim::SensorState& state);

private:
    mutable std::mutex mutex_;
    oru_sim::SensorState state_;
};
