#include "sim/PythonSensor.h"

#include <algorithm>
#include <cmath>

#include "sim/SimulatedCamera.h"

namespace oru_sim {

namespace {

constexpr uint16_t kSoftResetRegister = 10;
constexpr uint16_t kClockRegister = 32;
constexpr uint16_t kSchemeRegister = 41;
constexpr uint16_t kLowNoiseRegister = 42;
constexpr uint16_t kZeroRowOverheadRegister = 72;
constexpr uint16_t kSerialiserRegister = 112;
constexpr uint16_t kBlackLevelRegister = 128;
constexpr uint16_t kSequencerRegister = 192;
constexpr uint16_t kTimerClocksRegister = 199;
constexpr uint16_t kExposureRegister = 201;
constexpr uint16_t kAnalogueGainRegister = 204;
constexpr uint16_t kDigitalGainRegister = 205;
constexpr uint16_t kColumnsRegister = 256;
constexpr uint16_t kFirstRowRegister = 257;
constexpr uint16_t kLastRowRegister = 258;

constexpr uint8_t kFpgaWidth = 4;
constexpr uint8_t kFpgaHeight = 8;

constexpr double kClockMHz = 72.0;
constexpr int kAdcBits = 10;
constexpr int kAnalogueStepGain = 60;
constexpr double kUnityDigitalGain = 128.0;

bool bit(uint16_t value, int number)
{
    return (value >> number & 1) != 0;
}

int fpgaPair(const SimulatedCamera& camera, uint8_t low)
{
    return camera.fpgaRegister(low) | camera.fpgaRegister(static_cast<uint8_t>(low + 1)) << 8;
}

int lineTimeNs(int columns, bool zeroRowOverhead)
{
    int line = (columns + 16) * 125 / 36 + (zeroRowOverhead ? 56 : 1000);
    return std::max(line, zeroRowOverhead ? 1260 : 1000);
}

}  // namespace

PythonState PythonSensor::decode(const SimulatedCamera& camera) const
{
    auto reg = [&camera](uint16_t address) { return camera.cameraRegister(address); };
    PythonState state;
    state.sensor.adcBits = kAdcBits;
    state.sensor.colorMosaic = colour_;

    state.powered = bit(reg(kClockRegister), 0) && (reg(kSoftResetRegister) & 0x0FFF) == 0 &&
                    (reg(kSerialiserRegister) & 0x7) == 0x7;
    state.sensor.awake = state.powered && bit(reg(kSequencerRegister), 0);

    int scheme = reg(kSchemeRegister) >> 12 & 0x7;
    state.scheme = scheme <= 3 ? static_cast<PythonScheme>(scheme) : PythonScheme::Unrecognised;
    state.lowNoise = bit(reg(kLowNoiseRegister), 8);
    state.zeroRowOverhead = bit(reg(kZeroRowOverheadRegister), 4);
    state.sensor.mode = scheme << 2 | state.lowNoise << 1 | state.zeroRowOverhead;

    uint16_t columns = reg(kColumnsRegister);
    int firstRow = reg(kFirstRowRegister);
    int lastRow = reg(kLastRowRegister);
    if (columns != 0 || lastRow != 0) {
        int firstKernel = columns & 0xFF;
        state.sensor.windowX = firstKernel * 8;
        state.sensor.windowWidth = std::max(0, ((columns >> 8) - firstKernel + 1) * 8);
        state.sensor.windowY = firstRow;
        state.sensor.windowHeight = std::max(0, lastRow - firstRow + 1);
    } else {
        state.sensor.windowWidth = fpgaPair(camera, kFpgaWidth);
        state.sensor.windowHeight = fpgaPair(camera, kFpgaHeight);
    }

    state.lineTimeNs = lineTimeNs(state.sensor.windowWidth, state.zeroRowOverhead);
    state.sensor.frameTimeUs = 50.0 + state.sensor.windowHeight * state.lineTimeNs / 1000.0;
    state.sensor.exposureUs = reg(kExposureRegister) * reg(kTimerClocksRegister) / kClockMHz;

    state.analogueStage = reg(kAnalogueGainRegister) & 0x3;
    state.digitalGain = reg(kDigitalGainRegister);
    double digitalTenthDb = state.digitalGain > 0 ? 200.0 * std::log10(state.digitalGain / kUnityDigitalGain) : 0.0;
    state.sensor.gainTenthDb = state.analogueStage * kAnalogueStepGain + static_cast<int>(std::lround(digitalTenthDb));
    state.sensor.blackLevel = reg(kBlackLevelRegister) & 0xFF;
    return state;
}

void PythonSensor::registerWritten(SimulatedCamera&, RegisterSpace, uint16_t, uint16_t)
{
    // Decoded on demand from the registers.
}

SensorState PythonSensor::state(const SimulatedCamera& camera) const
{
    return decode(camera).sensor;
}

}  // namespace oru_sim
