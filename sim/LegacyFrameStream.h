// The image data path of an ORU120 (legacy USB2) camera, driven only by what
// the host wrote: the sensor exposes frames of its window while the
// controller streams (0xA9 until 0xAA), the sensor streams (register 0x301A =
// 0x10DC) and its clock runs (0xAE stops it, 0xAF starts it again). Frames
// leave on endpoint 0x82 at the USB2 link rate, 8 or 16 bits a pixel as
// requests 0xAB / 0xAC select, 16-bit samples significant byte first; the
// first 32-bit word of each frame is the head 0xBB00AA11 (bytes 11 AA 00 BB).
// There is no frame buffer: a frame that ends while no transfer waits, and
// the rest of a frame whose next piece finds no transfer, are lost.
//
// One frame is exposed per sensor frame time. A write to 0x301A starts the
// frame afresh. While the clock is stopped the frame under way neither ends
// nor reads out, and its pixels go on collecting light: the stop adds to its
// exposure.
//
// Safe to use from any thread; runs one thread of its own, which uses the
// camera: a stream must not outlive its camera.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/FrameStreamBase.h"
#include "sim/SentFrameLog.h"
#include "sim/StreamFaults.h"

namespace oru_sim {

// One frame as it left the camera.
struct SentLegacyFrame {
    double exposureUs = 0;
    std::vector<uint8_t> bytes;  // fewer than a frame when it was cut short
};

// Of the fault switches (faults()), short frames, a bad head
// (MarkerFault::HeadMarker; the other marker faults do not apply), withheld
// frames and stalls apply.
class LegacyFrameStream final : public FrameStreamBase {
public:
    static constexpr uint32_t kFrameHead = 0xBB00AA11;

    explicit LegacyFrameStream(SimulatedCamera& camera);
    ~LegacyFrameStream() override;

    void registerWritten(SimulatedCamera& camera, RegisterSpace space, uint16_t address, uint16_t value) override;
    void sensorClockChanged(SimulatedCamera& camera, bool running) override;
    void powerCycled(SimulatedCamera& camera) override;

    // Keeps the last `count` frames sent (0, the default, keeps none).
    void keepSentFrames(size_t count) { sent_.keep(count); }
    std::vector<SentLegacyFrame> sentFrames() const { return sent_.frames(); }

private:
    struct Output {
        std::vector<uint8_t> bytes;
        size_t size = 0;  // bytes to send; a full frame unless cut short
        size_t sent = 0;
        double exposureUs = 0;
        bool recorded = false;
    };
    // Adds what was sent of the frame being sent to the record, once.
    void recordSent();

    std::optional<Clock::time_point> step(std::unique_lock<std::mutex>& lock) override;
    // Unlocks while it renders.
    void expose(double exposureUs, std::unique_lock<std::mutex>& lock);
    std::vector<uint8_t> render(double exposureUs) const;
    std::optional<Clock::time_point> sendNext();
    void endOutput() override;
    void restartFrame();

    std::optional<Clock::time_point> frameEnd_;  // of the frame being exposed
    Clock::duration stoppedDuringFrame_{};       // clock stops within that frame
    std::optional<Clock::time_point> clockStoppedAt_;
    std::optional<Output> output_;
    SentFrameLog<SentLegacyFrame> sent_;
};

}  // namespace oru_sim
