#include "sim/ProColorSensor.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "sim/SimulatedCamera.h"

namespace oru_sim {

namespace {

// Sensor registers.
constexpr uint16_t kStandbyRegister = 0x000;  // bit 0 standby, bit 2 wake-up
constexpr uint16_t kDriveModeRegister = 0x001;
constexpr uint16_t kSpeedRegister = 0x002;
constexpr uint16_t kAdRegister = 0x02A;
constexpr uint16_t kStartRowRegister = 0x008;
constexpr uint16_t kOutputRowsRegister = 0x00A;
constexpr uint16_t kShsRegister = 0x018;
constexpr uint16_t kHcgRegister = 0x02F;
constexpr uint16_t kAnalogueGainRegister = 0x030;
constexpr uint16_t kDigitalGainRegister = 0x040;
constexpr uint16_t kBlackLevelRegister = 0x042;
constexpr uint16_t kStartColumnRegister = 0x0A8;
constexpr uint16_t kOutputWidthRegister = 0x1DD;

// FPGA registers.
constexpr uint8_t kFpgaWidth = 4;
constexpr uint8_t kFpgaHeight = 8;
constexpr uint8_t kFpgaVmax = 16;
constexpr uint8_t kFpgaHmax = 19;

constexpr int kOutputWidthPadding = 24;
constexpr int kBinningExtraRows = 2;
constexpr int kAnalogueFullScale = 4095;
constexpr int kHcgGain = 100;
constexpr int kDigitalStepGain = 60;
constexpr int kDigitalStepValue = 16;

struct ModeRegisters {
    ProColorMode mode;
    uint8_t driveMode;  // 0x001
    uint8_t speed;      // 0x002
    uint8_t ad;         // 0x02A
    int rowOffset;
    int binning;
};

constexpr ModeRegisters kModes[] = {
    {ProColorMode::AllPixelNormal, 0x00, 0x80, 0x0A, 25, 1},
    {ProColorMode::AllPixelHighSpeed, 0x00, 0x54, 0x0A, 25, 1},
    {ProColorMode::HardwareBin3, 0x07, 0x54, 0x04, 27, 3},
    {ProColorMode::HardwareBin2And4, 0x05, 0x54, 0x04, 25, 2},
};
constexpr ModeRegisters kUnrecognised{ProColorMode::Unrecognised, 0, 0, 0, 25, 1};

const ModeRegisters& recogniseMode(const SimulatedCamera& camera)
{
    uint8_t driveMode = camera.sensorRegister(kDriveModeRegister);
    uint8_t speed = camera.sensorRegister(kSpeedRegister);
    uint8_t ad = camera.sensorRegister(kAdRegister);
    auto found = std::find_if(std::begin(kModes), std::end(kModes), [&](const ModeRegisters& mode) {
        return mode.driveMode == driveMode && mode.speed == speed && mode.ad == ad;
    });
    return found == std::end(kModes) ? kUnrecognised : *found;
}

// The lowest gain x (0.1 dB) whose code 4095 - 4095 x 10^(-x/200), truncated,
// reaches `code`.
int analogueGain(uint16_t code)
{
    double share = 1.0 - std::min<double>(code, kAnalogueFullScale - 1) / kAnalogueFullScale;
    return static_cast<int>(std::ceil(-200.0 * std::log10(share) - 1e-6));
}

}  // namespace

const char* modeName(ProColorMode mode)
{
    switch (mode) {
    case ProColorMode::AllPixelNormal: return "all-pixel normal";
    case ProColorMode::AllPixelHighSpeed: return "all-pixel high speed";
    case ProColorMode::HardwareBin3: return "hardware bin 3";
    case ProColorMode::HardwareBin2And4: return "hardware bin 2/4";
    case ProColorMode::Unrecognised: break;
    }
    return "unrecognised";
}

ProColorState ProColorSensor::decode(const SimulatedCamera& camera)
{
    ProColorState state;
    const ModeRegisters& mode = recogniseMode(camera);
    state.mode = mode.mode;
    state.sensor.mode = static_cast<int>(mode.mode);
    state.sensor.binning = mode.binning;
    state.sensor.adcBits = 16;
    state.sensor.colorMosaic = true;

    uint8_t standby = camera.sensorRegister(kStandbyRegister);
    state.sensor.awake = (standby & 0x01) == 0 && (standby & 0x04) != 0;

    state.vmax = camera.fpgaValue(kFpgaVmax, 3);
    state.hmax = static_cast<uint16_t>(camera.fpgaValue(kFpgaHmax, 2));
    state.lineTimeUs = state.hmax * 1000.0 / kClockKHz;
    uint32_t shsRegister = camera.sensorValue(kShsRegister, 2);
    state.shs = mode.mode == ProColorMode::HardwareBin2And4 ? shsRegister : shsRegister * 2;
    state.exposureLines = std::max(0, static_cast<int>(state.vmax) - 1 - static_cast<int>(state.shs));
    state.sensor.exposureUs = state.exposureLines * state.lineTimeUs;
    state.sensor.frameTimeUs = state.vmax * state.lineTimeUs;

    state.highConversionGain = (camera.sensorRegister(kHcgRegister) & 0x01) != 0;
    state.analogueCode = static_cast<uint16_t>(camera.sensorValue(kAnalogueGainRegister, 2));
    state.digitalGainSteps = camera.sensorRegister(kDigitalGainRegister) / kDigitalStepValue;
    state.sensor.gainTenthDb = analogueGain(state.analogueCode) + (state.highConversionGain ? kHcgGain : 0) +
                               state.digitalGainSteps * kDigitalStepGain;
    state.sensor.blackLevel = static_cast<int>(camera.sensorValue(kBlackLevelRegister, 2));

    int extraRows = mode.binning > 1 ? kBinningExtraRows : 0;
    state.sensor.windowX = static_cast<int>(camera.sensorValue(kStartColumnRegister, 2)) * 16;
    state.sensor.windowY = std::max(0, static_cast<int>(camera.sensorValue(kStartRowRegister, 2)) - mode.rowOffset);
    state.sensor.windowWidth =
        std::max({0, static_cast<int>(camera.sensorValue(kOutputWidthRegister, 2)) - kOutputWidthPadding,
                  static_cast<int>(camera.fpgaValue(kFpgaWidth, 2))});
    state.sensor.windowHeight = std::max({0, static_cast<int>(camera.sensorValue(kOutputRowsRegister, 2)) - extraRows,
                                          static_cast<int>(camera.fpgaValue(kFpgaHeight, 2))});
    return state;
}

void ProColorSensor::registerWritten(SimulatedCamera&, RegisterSpace, uint16_t, uint16_t)
{
    // Decoded on demand from the registers.
}

ProColorSensor::ProColorSensor(bool colour) : colour_(colour) {}

SensorState ProColorSensor::state(const SimulatedCamera& camera) const
{
    SensorState state = decode(camera).sensor;
    state.colorMosaic = colour_;
    return state;
}

}  // namespace oru_sim
