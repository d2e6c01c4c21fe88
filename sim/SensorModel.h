// The image sensor of a simulated camera, decoded from what the host wrote to
// it: the physical state tests compare with what the library was asked to do,
// and what the frame stream uses to shape its frames.
#pragma once

#include <cstdint>

#include "sim/RegisterSpace.h"

namespace oru_sim {

class SimulatedCamera;

struct SensorState {
    bool awake = true;             // out of standby, clock running
    double exposureUs = 10000.0;   // integration time of one frame
    double frameTimeUs = 0.0;      // sensor frame period; 0 = not limited by the sensor
    int gainTenthDb = 0;           // analogue and digital gain, 0.1 dB units
    int blackLevel = 0;            // offset added to every pixel, at the ADC depth
    int adcBits = 12;              // significant bits of a sample
    bool colorMosaic = true;       // RGGB mosaic, else monochrome
    int windowX = 0, windowY = 0;  // read-out window on the sensor, sensor pixels
    int windowWidth = 0, windowHeight = 0;
    int binning = 1;  // sensor (hardware) binning factor
    int mode = 0;     // model-specific read-out mode number
};

class SensorModel {
public:
    virtual ~SensorModel() = default;
    // Called after every register write that reaches the camera over USB.
    virtual void registerWritten(SimulatedCamera& camera, RegisterSpace space, uint16_t address, uint16_t value) = 0;
    // The state as decoded from the camera's registers now.
    virtual SensorState state(const SimulatedCamera& camera) const = 0;
};

}  // namespace oru_sim
