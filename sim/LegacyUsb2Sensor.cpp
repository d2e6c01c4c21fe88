#include "sim/LegacyUsb2Sensor.h"

#include <algorithm>
#include <cmath>

#include "sim/SimulatedCamera.h"

namespace oru_sim {

namespace {

constexpr uint16_t kRowStart = 0x3002;
constexpr uint16_t kColumnStart = 0x3004;
constexpr uint16_t kRowEnd = 0x3006;
constexpr uint16_t kColumnEnd = 0x3008;
constexpr uint16_t kFrameLength = 0x300A;
constexpr uint16_t kLineLength = 0x300C;
constexpr uint16_t kIntegration = 0x3012;
constexpr uint16_t kStreamControl = 0x301A;
constexpr uint16_t kBlackLevel = 0x301E;
constexpr uint16_t kPixelDivider = 0x302A;
constexpr uint16_t kSystemDivider = 0x302C;
constexpr uint16_t kPreDivider = 0x302E;
constexpr uint16_t kMultiplier = 0x3030;
constexpr uint16_t kGreenGain = 0x3056;
constexpr uint16_t kBlueGain = 0x3058;
constexpr uint16_t kRedGain = 0x305A;
constexpr uint16_t kAnalogueGain = 0x30B0;

constexpr uint16_t kPllBypassBit = 0x4000;
constexpr double kPllReferenceMHz = 48.0;
constexpr double kCrystalMHz = 24.0;
constexpr int kIntegrationClocks = 26;
constexpr double kUnityFineGain = 32.0;
constexpr double kUnityColourGain = 128.0;

}  // namespace

LegacyUsb2State LegacyUsb2Sensor::decode(const SimulatedCamera& camera)
{
    auto reg = [&camera](uint16_t address) { return camera.cameraRegister(address); };
    LegacyUsb2State state;
    state.sensor.adcBits = 12;
    state.sensor.colorMosaic = true;

    uint16_t analogue = reg(kAnalogueGain);
    state.pllBypassed = (analogue & kPllBypassBit) != 0;
    double dividers = double(reg(kPreDivider)) * reg(kSystemDivider) * reg(kPixelDivider);
    if (state.pllBypassed)
        state.clockMHz = kCrystalMHz;
    else if (dividers > 0)
        state.clockMHz = kPllReferenceMHz * reg(kMultiplier) / dividers;

    state.lineLength = reg(kLineLength);
    state.frameLength = reg(kFrameLength);
    state.integrationLines = reg(kIntegration);
    state.streamControl = reg(kStreamControl);
    state.sensor.awake = state.streamControl == kStreaming;
    if (state.clockMHz > 0) {
        double lineUs = state.lineLength / state.clockMHz;
        state.sensor.exposureUs = state.integrationLines * lineUs + kIntegrationClocks / state.clockMHz;
        int lines = std::max<int>(state.frameLength, state.integrationLines + 1);
        state.sensor.frameTimeUs = lines * lineUs;
    }

    state.sensor.windowX = reg(kColumnStart);
    state.sensor.windowY = std::max(0, reg(kRowStart) - 2);
    state.sensor.windowWidth = std::max(0, reg(kColumnEnd) - reg(kColumnStart) + 1);
    state.sensor.windowHeight = std::max(0, reg(kRowEnd) - reg(kRowStart) + 1);

    state.coarseGainStep = (analogue >> 4) & 0x3;
    state.greenGain = reg(kGreenGain);
    state.redGain = reg(kRedGain);
    state.blueGain = reg(kBlueGain);
    double gain = (1 << state.coarseGainStep) * state.greenGain / kUnityFineGain;
    state.sensor.gainTenthDb = gain > 0 ? static_cast<int>(std::lround(200.0 * std::log10(gain))) : 0;
    state.sensor.blackLevel = reg(kBlackLevel);
    return state;
}

void LegacyUsb2Sensor::registerWritten(SimulatedCamera&, RegisterSpace, uint16_t, uint16_t)
{
    // Decoded on demand from the registers.
}

SensorState LegacyUsb2Sensor::state(const SimulatedCamera& camera) const
{
    return decode(camera).sensor;
}

}  // namespace oru_sim
