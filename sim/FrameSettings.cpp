#include "sim/FrameSettings.h"

#include <algorithm>

#include "sim/FpgaRegister.h"
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
    uint8_t control = camera.fpgaRegister(fpga::kControlRegister);
    uint8_t output = camera.fpgaRegister(fpga::kOutputRegister);
    settings.width = registerPair(camera, fpga::kWidthRegister);
    settings.height = registerPair(camera, fpga::kHeightRegister);
    settings.bytesPerPixel = (output & fpga::kWideOutputBit) ? 2 : 1;
    for (size_t site = 0; site < settings.colourGains.size(); ++site)
        settings.colourGains[site] = camera.fpgaRegister(static_cast<uint8_t>(fpga::kFirstGainRegister + site));
    settings.fpgaRunning = (control & fpga::kStopBit) == 0;
    settings.triggerMode = (control & fpga::kTriggerModeBit) != 0;
    settings.waitMode = (control & fpga::kWaitModeBit) != 0;
    settings.ddrInUse =
        (output & fpga::kDdrBypassBit) == 0 && (camera.fpgaRegister(fpga::kStatusRegister) & fpga::kDdrReadyBit) != 0;

    double link = camera.config().superSpeed ? kSuperSpeedLinkRate : kHighSpeedLinkRate;
    // The divider register holds v with percent = 25600 / (v + 256).
    double percent = 25600.0 / (registerPair(camera, fpga::kBandwidthRegister) + 256);
    settings.outputBytesPerSecond = settings.ddrInUse ? std::min(link, kDdrFullScaleRate * percent / 100.0) : link;
    uint8_t trigger = camera.fpgaRegister(fpga::kTriggerSetupRegister);
    settings.triggerExternal = (trigger & fpga::kExternalSourceBit) != 0;
    settings.triggerLevel = (trigger & fpga::kLevelTypeBit) != 0;
    settings.triggerActiveLow = (trigger & fpga::kActiveLowBit) != 0;
    settings.triggerExposureUs = registerQuad(camera, fpga::kTriggerExposureRegister);
    uint8_t sync = camera.fpgaRegister(fpga::kSyncOutputRegister);
    for (size_t output = 0; output < settings.syncOutputs.size(); ++output) {
        SyncOutput& out = settings.syncOutputs[output];
        out.enabled = (sync & (0x01 << output)) != 0;
        out.activeHigh = (sync & (0x10 << output)) == 0;
        uint8_t times = static_cast<uint8_t>(fpga::kSyncTimesRegister + 8 * output);
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
