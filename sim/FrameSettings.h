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

    struct SyncOutput {
        bool enabled = false;
        bool activeHigh = true;
        uint32_t delayUs = 0;
        uint32_t durationUs = 0;
    };

    int width = 0;
    int height = 0;
    int bytesPerPixel = 1;             // 2 with 16-bit output
    std::array<int, 4> colourGains{};  // R, G, G, B sites; 128 = unity
    bool fpgaRunning = false;
    bool triggerMode = false;
    bool waitMode = false;
    bool ddrInUse = false;            // not bypassed, and ready
    double outputBytesPerSecond = 0;  // link, or the DDR's paced output within it
    bool triggerExternal = false;     // the trigger input line, else register 11 bit 0
    bool triggerLevel = false;        // exposure while valid, else one per edge
    bool triggerActiveLow = false;    // valid on a falling edge or a low level
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
