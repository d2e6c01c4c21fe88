#include "sim/FrameSettings.h"

#include <algorithm>

#include "sim/FpgaRegisterFile.h"
#include "sim/SimulatedCamera.h"

namespace oru_sim {

namespace {

// Even a tiny frame takes this long on the sensor.
constexpr double kShortestPeriodUs = 100.0;

int registerPair(const SimulatedCamera& camera, uint8_t low)
{
    return camera.fpgaRegister(low) | (camera.fpgaRegister(static_cast<uint8_t>(low + 1)) << 8);
}

uint32_t registerQuad(const SimulatedCamera& camera, uint8_t low)
{
    return static_cast<uint32_t>(registerPair(camera, low)) |
           static_cast<uint32_t>(registerPair(camera, static_cast<uint8_t>(low + 2))) << 16;
}

}  // namespace

FrameSettings FrameSettings::read(const SimulatedCamera& camera)
{
    FrameSettings settings;
    uint8_t control = camera.fpgaRegister(kControlRegister);
    uint8_t output = camera.fpgaRegister(kOutputRegister);
    settings.width = registerPair(camera, kWidthRegister);
    settings.height = registerPair(camera, kHeightRegister);
    settings.bytesPerPixel = (output & kWideOutputBit) ? 2 : 1;
    for (size_t site = 0; site < settings.colourGains.size(); ++site)
        settings.colourGains[site] = camera.fpgaRegister(static_cast<uint8_t>(kFirstGainRegister + site));
    settings.fpgaRunning = (control & kStopBit) == 0;
    settings.triggerMode = (control & kTriggerModeBit) != 0;
    settings.waitMode = (control & kWaitModeBit) != 0;
    settings.ddrInUse = (output & kDdrBypassBit) == 0 && (camera.fpgaRegister(FpgaRegisterFile::kStatusRegister) & FpgaRegisterFile::kDdrReadyBit) != 0;

    double link = camera.config().superSpeed ? kSuperSpeedLinkRate : kHighSpeedLinkRate;
    // The divider register holds v with percent = 25600 / (v + 256).
    double percent = 25600.0 / (registerPair(camera, kBandwidthRegister) + 256);
    settings.outputBytesPerSecond = settings.ddrInUse ? std::min(link, kDdrFullScaleRate * percent / 100.0) : link;
    uint8_t trigger = camera.fpgaRegister(kTriggerSetupRegister);
    settings.triggerExternal = (trigger & kExternalSourceBit) != 0;
    settings.triggerLevel = (trigger & kLevelTypeBit) != 0;
    settings.triggerActiveLow = (trigger & kActiveLowBit) != 0;
    settings.triggerExposureUs = registerQuad(camera, kTriggerExposureRegister);
    uint8_t sync = camera.fpgaRegister(kSyncOutputRegister);
    for (size_t output = 0; output < settings.syncOutputs.size(); ++output) {
        SyncOutput& out = settings.syncOutputs[output];
        out.enabled = (sync & (0x01 << output)) != 0;
        out.activeHigh = (sync & (0x10 << output)) == 0;
        uint8_t times = static_cast<uint8_t>(kSyncTimesRegister + 8 * output);
        out.delayUs = registerQuad(camera, times);
        out.durationUs = registerQuad(camera, static_cast<uint8_t>(times + 4));
    }
    settings.sensor = camera.sensorState();
    return settings;
}

size_t FrameSettings::frameBytes() const
{
    return static_cast<size_t>(width) * static_cast<size_t>(height) * static_cast<size_t>(bytesPerPixel);
}

double FrameSettings::framePeriodUs() const
{
    return std::max({sensor.exposureUs, sensor.frameTimeUs, kShortestPeriodUs});
}

}  // namespace oru_sim
