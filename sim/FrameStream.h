// The image data path of an FX3 camera, driven only by what the host wrote:
// the sensor exposes frames, the FPGA frames them (head and tail markers, a
// 16-bit counter), holds them in its DDR buffer or passes them straight on,
// paces the output, and the controller sends them on the bulk-IN endpoint.
//
// Frames flow while the controller streams (0xA9 until 0xAA), the FPGA runs
// (register 0 bit 4 clear) and the sensor is awake. The size comes from the
// FPGA registers (4/5 width, 8/9 height, register 10 bit 4 for 2 bytes per
// pixel). One frame is exposed per max(exposure, sensor frame time); without
// DDR (register 10 bit 6 set, or DDR not ready) it leaves at the link rate
// and is lost when no transfer waits for it; with DDR the newest frame is
// held until transfers wait and leaves at the rate the bandwidth divider
// (registers 36/37) allows within the link. A transfer ends at the end of a
// frame, so the next frame starts in a fresh transfer. The counter numbers
// the frames the FPGA passes on: without DDR every exposed frame, also one
// that is lost because no transfer waits; with DDR a frame when it leaves
// the buffer, so that one a newer frame replaced there never had a number.
//
// Long-exposure mode (register 0 bits 7 and 6): the sensor idles in sync
// (register 35 bit 0x10); setting register 11 bit 0 starts an exposure,
// clearing it ends it (its length is the real time between the two writes),
// and the frame is read into the DDR (register 35 bit 0x04 while it is held)
// and sent. Writing register 24 bit 0 sends the held frame again.
//
// Trigger mode (register 0 bit 7 without bit 6): frames come only on
// triggers. The trigger signal is register 11 bit 0 (software) or the
// camera's trigger input line (register 40 bit 0); it is valid when high, or
// when low with register 40 bit 5. An edge trigger (register 40 bit 4 clear)
// exposes one frame per change to valid for the trigger exposure time of
// registers 44-47 (us); a level trigger exposes while the signal stays valid.
// A trigger during an exposure is ignored. Each triggered exposure starts a
// pulse on every enabled sync output (register 41), recorded for tests.
//
// Without DDR a frame that no transfer waits for is lost, except a triggered
// or long exposure: the FPGA keeps that one frame until the host asks.
//
// Safe to use from any thread; runs one thread of its own, which uses the
// camera: a stream must not outlive its camera.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "sim/FrameRenderer.h"
#include "sim/FrameSettings.h"
#include "sim/FrameStreamBase.h"
#include "sim/SentFrameLog.h"
#include "sim/StreamFaults.h"

namespace oru_sim {

// One frame as it left the camera.
struct SentFrame {
    uint16_t counter = 0;
    std::vector<uint8_t> bytes;  // fewer than a frame when it was cut short
    double exposureUs = 0;
};

// A pulse on a sync output, as the trigger unit started it.
struct SyncPulse {
    int output = 0;  // 0 A, 1 B
    bool activeHigh = true;
    std::chrono::steady_clock::time_point start;  // exposure start plus the delay
    uint32_t durationUs = 0;
};

class FrameStream final : public FrameStreamBase {
public:
    static constexpr uint16_t kHeadMarker = 0x5A7E;
    static constexpr uint16_t kTailMarker = 0x3CF0;

    explicit FrameStream(SimulatedCamera& camera);
    ~FrameStream() override;

    void registerWritten(SimulatedCamera& camera, RegisterSpace space, uint16_t address, uint16_t value) override;
    void triggerInputChanged(SimulatedCamera& camera, bool high) override;
    void powerCycled(SimulatedCamera& camera) override;

    // Keeps the last `count` frames sent, reloads included (0, the
    // default, keeps none).
    void keepSentFrames(size_t count) { sent_.keep(count); }
    std::vector<SentFrame> sentFrames() const { return sent_.frames(); }
    // The frame with `counter` as the camera would send it now, faults aside.
    std::vector<uint8_t> expectedFrame(uint16_t counter) const;
    std::vector<SyncPulse> syncPulses() const;

private:
    struct Frame {
        std::optional<uint16_t> counter;  // given when the frame leaves the FPGA
        ImageParameters image;
    };
    struct Output {
        Frame frame;
        FrameRenderer::Pixels pixels;
        size_t size = 0;  // bytes to send; a full frame unless cut short
        size_t sent = 0;
        std::optional<MarkerFault> marker;
        std::optional<size_t> unplugAfter;
        std::vector<uint8_t> record;
        bool recorded = false;

        void copyOut(uint8_t* destination, size_t bytes, bool keep);
    };
    // Adds what was sent of the frame in output to the record, once.
    void recordSent();

    std::optional<Clock::time_point> step(std::unique_lock<std::mutex>& lock) override;
    bool flowing(const FrameSettings& settings) const;
    // Triggers follow the software signal and the input line.
    void followTrigger(const FrameSettings& settings);
    void beginTriggeredExposure(const FrameSettings& settings, Clock::time_point now);
    std::optional<Clock::time_point> stepTriggered(const FrameSettings& settings, Clock::time_point now,
                                                   std::unique_lock<std::mutex>& lock);
    // A frame the host asked for (trigger or long exposure) waits for it.
    void expose(const FrameSettings& settings, double exposureUs, bool asked, std::unique_lock<std::mutex>& lock);
    // Unlocks while it renders: takes its frame by value.
    void beginOutput(Frame frame, std::unique_lock<std::mutex>& lock);
    std::optional<Clock::time_point> sendNext(const FrameSettings& settings, std::unique_lock<std::mutex>& lock);
    void endOutput() override;
    void forgetHeldFrame();
    void publishStatus(const FrameSettings& settings);

    uint16_t nextCounter_ = 0;
    std::optional<Clock::time_point> nextExposureEnd_;  // free-running sensor
    bool triggerSignal_ = false;                        // register 11 bit 0
    bool triggerInput_ = false;                         // the input line
    bool triggerValid_ = false;
    std::optional<Clock::time_point> edgeExposureEnd_;
    double edgeExposureUs_ = 0;
    std::vector<SyncPulse> syncPulses_;
    std::optional<Clock::time_point> exposureStart_;  // long exposure running
    std::optional<double> finishedExposureUs_;        // long exposure to read out
    std::optional<Frame> held_;                       // in DDR
    bool heldUnsent_ = false;
    std::optional<Output> output_;
    SentFrameLog<SentFrame> sent_;
};

}  // namespace oru_sim
