#include "sim/UncooledSensor.h"

#include <algorithm>
#include <iterator>

#include "sim/SimulatedCamera.h"

namespace oru_sim {

namespace {

// Sensor registers.
constexpr uint16_t kStandbyRegister = 0x3000;      // bit 0
constexpr uint16_t kReadoutStopRegister = 0x3002;  // bit 0
constexpr uint16_t kAdcRegister = 0x3005;          // 0: 10-bit ADC
constexpr uint16_t kClockRegister = 0x3009;        // bits 0-1 clock select, bit 4 HCG
constexpr uint16_t kBlackLevelRegister = 0x300A;
constexpr uint16_t kGainRegister = 0x3014;
constexpr uint16_t kShsRegister = 0x3020;
constexpr uint16_t kWindowYRegister = 0x303C;
constexpr uint16_t kWindowHeightRegister = 0x303E;
constexpr uint16_t kWindowXRegister = 0x3040;
constexpr uint16_t kWindowWidthRegister = 0x3042;

// FPGA registers.
constexpr uint8_t kFpgaVmax = 16;
constexpr uint8_t kFpgaHmax = 19;

constexpr int kClocksKHz[] = {37124, 18562, 9281};
constexpr uint8_t kHcgBit = 0x10;
constexpr int kHcgGain = 60;
constexpr int kGainStep = 3;

}  // namespace

UncooledSensor::UncooledSensor(bool colour) : colour_(colour) {}

UncooledState UncooledSensor::decode(const SimulatedCamera& camera)
{
    UncooledState state;
    uint8_t clock = camera.sensorRegister(kClockRegister);
    state.clockSelect = clock & 0x03;
    state.clockKHz = state.clockSelect < std::size(kClocksKHz) ? kClocksKHz[state.clockSelect] : 0;
    state.highConversionGain = (clock & kHcgBit) != 0;
    state.highSpeed = camera.sensorRegister(kAdcRegister) == 0;

    state.sensor.mode = state.highSpeed ? 1 : 0;
    state.sensor.adcBits = state.highSpeed ? 10 : 12;
    state.sensor.colorMosaic = true;
    state.sensor.binning = 1;
    state.sensor.awake = (camera.sensorRegister(kStandbyRegister) & 0x01) == 0 &&
                         (camera.sensorRegister(kReadoutStopRegister) & 0x01) == 0;

    state.vmax = camera.fpgaValue(kFpgaVmax, 3);
    state.hmax = static_cast<uint16_t>(camera.fpgaValue(kFpgaHmax, 2));
    state.lineTimeUs = state.clockKHz > 0 ? state.hmax * 1000.0 / state.clockKHz : 0.0;
    state.shs = camera.sensorValue(kShsRegister, 3) & 0x3FFFF;
    int exposureLines = std::max(0, static_cast<int>(state.vmax) - 1 - static_cast<int>(state.shs));
    state.sensor.exposureUs = exposureLines * state.lineTimeUs;
    state.sensor.frameTimeUs = state.vmax * state.lineTimeUs;

    state.sensor.gainTenthDb =
        camera.sensorRegister(kGainRegister) * kGainStep + (state.highConversionGain ? kHcgGain : 0);
    state.sensor.blackLevel = static_cast<int>(camera.sensorValue(kBlackLevelRegister, 2));
    state.sensor.windowX = static_cast<int>(camera.sensorValue(kWindowXRegister, 2));
    state.sensor.windowY = static_cast<int>(camera.sensorValue(kWindowYRegister, 2));
    state.sensor.windowWidth = static_cast<int>(camera.sensorValue(kWindowWidthRegister, 2));
    state.sensor.windowHeight = static_cast<int>(camera.sensorValue(kWindowHeightRegister, 2));
    return state;
}

void UncooledSensor::registerWritten(SimulatedCamera&, RegisterSpace, uint16_t, uint16_t)
{
    // Decoded on demand from the registers.
}

SensorState UncooledSensor::state(const SimulatedCamera& camera) const
{
    SensorState state = decode(camera).sensor;
    state.colorMosaic = colour_;
    return state;
}

}  // namespace oru_sim
