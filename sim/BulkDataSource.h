// What fills the camera's bulk-IN transfers. A source is told when streaming
// starts or stops (requests 0xA9 / 0xAA), when a transfer is queued, of every
// register write that arrives over USB, of the trigger input line changing
// and of a power cycle; it completes
// transfers through SimulatedCamera::completeBulkTransfer, at once or later
// from a thread of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "sim/RegisterSpace.h"

namespace oru_sim {

class SimulatedCamera;

// Writes at most `capacity` bytes to `destination` and returns how many it
// wrote; fewer than `capacity` ends the transfer short.
using BulkFill = std::function<size_t(uint8_t* destination, size_t capacity)>;

class BulkDataSource {
public:
    virtual ~BulkDataSource() = default;
    // Called without any simulator lock held: on the bus's USB thread, and
    // streamingStopped also on the thread that unplugs a streaming camera.
    virtual void streamingStarted(SimulatedCamera& camera) = 0;
    virtual void streamingStopped(SimulatedCamera& camera) = 0;
    virtual void transferQueued(SimulatedCamera& camera) = 0;
    // After the write is stored and the sensor model has seen it.
    virtual void registerWritten(SimulatedCamera&, RegisterSpace, uint16_t /*address*/, uint16_t /*value*/) {}
    // The FX2 camera firmware stopped (false) or started (true) the sensor
    // clock.
    virtual void sensorClockChanged(SimulatedCamera&, bool /*running*/) {}
    // The external trigger input line went high or low.
    virtual void triggerInputChanged(SimulatedCamera&, bool /*high*/) {}
    // The camera was plugged in again or enumerated again: registers are
    // back at power-on values.
    virtual void powerCycled(SimulatedCamera&) {}
};

}  // namespace oru_sim
