// What shapes the camera's frame stream, decoded from the FPGA registers and
// the sensor state at one moment.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "sim/SensorModel.h"

namespace oru_sim {

class SimulatedCamera;

struct FrameSettings {
    // Bytes per second of the USB3 and of the USB2 link.
    static constexpr double kSuperSpeedLinkRate = 390e6;
    static constexpr double kHighSpeedLinkRate = 43.272e6;
    // The DDR's output at 100 % of the bandwidth divider (registers 36/37),
    // on either link: the host sets a share of it, and the link caps it.
    static constexpr double kDdrFullScaleRate = 400e6;
    // The FPGA registers and bits of the image data path.
    static constexpr uint8_t kControlRegister = 0;
    static constexpr uint8_t kStopBit = 0x10;
    static constexpr uint8_t kWaitModeBit = 0x40;
    static constexpr uint8_t kTriggerModeBit = 0x80;
    static constexpr uint8_t kWidthRegister = 4;   // and 5
    static constexpr uint8_t kHeightRegister = 8;  // and 9
    static constexpr uint8_t kOutputRegister = 10;
    static constexpr uint8_t kWideOutputBit = 0x10;
    static constexpr uint8_t kDdrBypassBit = 0x40;
    static constexpr uint8_t kTriggerSignalRegister = 11;
    static constexpr uint8_t kTriggerSignalBit = 0x01;
    static constexpr uint8_t kFirstGainRegister = 12;  // to 15
    static constexpr uint8_t kReloadRegister = 24;
    static constexpr uint8_t kReloadBit = 0x01;
    // In FpgaRegisterFile::kStatusRegister, beside its DDR-ready bit:
    static constexpr uint8_t kSyncBit = 0x10;       // sensor and FPGA in sync
    static constexpr uint8_t kFrameHeldBit = 0x04;  // DDR holds a complete frame
    static constexpr uint8_t kBandwidthRegister = 36;  // and 37
    // The trigger unit: source, type and polarity, and the exposure time of
    // edge triggers in microseconds (registers 44 to 47).
    static constexpr uint8_t kTriggerSetupRegister = 40;
    static constexpr uint8_t kExternalSourceBit = 0x01;
    static constexpr uint8_t kLevelTypeBit = 0x10;  // clear: edge
    static constexpr uint8_t kActiveLowBit = 0x20;  // clear: rising edge or high level
    static constexpr uint8_t kTriggerExposureRegister = 44;
    // Sync outputs A and B: enables (bits 0, 1) and inverted levels (bits 4,
    // 5) in register 41; delay and keep times in microseconds from register
    // 48 on, four bytes each, A before B.
    static constexpr uint8_t kSyncOutputRegister = 41;
    static constexpr uint8_t kSyncTimesRegister = 48;

    struct SyncOutput {
        bool enabled = false;
        bool activeHigh = true;
        uint32_t delayUs = 0;
        uint32_t durationUs = 0;
    };

    int width = 0;
    int height = 0;
    int bytesPerPixel = 1;                 // 2 with 16-bit output
    std::array<int, 4> colourGains{};      // R, G, G, B sites; 128 = unity
    bool fpgaRunning = false;
    bool triggerMode = false;
    bool waitMode = false;
    bool ddrInUse = false;                 // not bypassed, and ready
    double outputBytesPerSecond = 0;       // link, or the DDR's paced output within it
    bool triggerExternal = false;          // the trigger input line, else register 11 bit 0
    bool triggerLevel = false;             // exposure while valid, else one per edge
    bool triggerActiveLow = false;         // valid on a falling edge or a low level
    uint32_t triggerExposureUs = 0;
    std::array<SyncOutput, 2> syncOutputs{};
    SensorState sensor;

    static FrameSettings read(const SimulatedCamera& camera);

    size_t frameBytes() const;
    // Trigger and wait mode: the host times each exposure itself.
    bool longExposureMode() const { return triggerMode && waitMode; }
    // Trigger mode alone: frames come only on triggers.
    bool triggeredMode() const { return triggerMode && !waitMode; }
    // Free-running frame period in microseconds.
    double framePeriodUs() const;
};

}  // namespace oru_sim
