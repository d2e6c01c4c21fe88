// The fault switches of a frame stream, for tests and for users who check
// their error handling: short frames, broken markers, frames that never come,
// a stalled endpoint, a cable pulled mid-frame. One-shot switches apply to
// the next frame the camera sends (a frame held back is not sent). Thread-safe.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>

namespace oru_sim {

enum class MarkerFault {
    HeadMarker,       // word 0 is not 0x5A7E
    TailMarker,       // the last word is not 0x3CF0
    CounterMismatch,  // the second counter copy differs from the first
};

class StreamFaults {
public:
    // What happens to one frame the camera is about to send.
    struct FrameFaults {
        bool withhold = false;  // nothing is sent: the host's transfers stay waiting
        size_t shortBy = 0;     // bytes missing at the end
        std::optional<MarkerFault> marker;
        std::optional<size_t> unplugAfter;  // frame bytes out before the camera is pulled out
    };

    void shortenNextFrame(size_t bytes);
    // From now on every `period`-th frame is `bytes` short (1: every frame);
    // period 0 switches it off.
    void shortenFramesPeriodically(size_t bytes, int period);
    void corruptNextFrame(MarkerFault fault);
    void withholdNextFrames(int count);
    // From now on every `period`-th frame is held back; 0 switches it off.
    void withholdFramesPeriodically(int period);
    // From now on the first transfer of every `period`-th frame stalls;
    // 0 switches it off.
    void stallFramesPeriodically(int period);
    // From now on every `period`-th frame carries `fault`; 0 switches it off.
    void corruptFramesPeriodically(MarkerFault fault, int period);
    // The next transfer that would carry frame data ends with a stall instead;
    // the rest of that frame is dropped.
    void stallNextTransfer();
    // The camera is pulled out once `afterBytes` of the next frame are out:
    // the transfer that would carry the following bytes ends with no-device.
    void unplugDuringNextFrame(size_t afterBytes);
    void clear();

    // A user's switch: "drop-every=N", "short-every=N[:BYTES]" (default
    // 4096 bytes), "stall-every=N" or "bad-marker-every=N[:head|tail|counter]"
    // (default head). Throws std::invalid_argument for anything else.
    void apply(const std::string& setting);
    static std::string usage();

    // For the stream: the faults of the frame it starts now, and whether the
    // transfer it fills now stalls.
    FrameFaults takeFrameFaults();
    bool takeStall();

private:
    static bool due(int period, int& phase);

    std::mutex mutex_;
    size_t shortNextBy_ = 0;
    size_t shortPeriodicallyBy_ = 0;
    int shortPeriod_ = 0;
    int shortPhase_ = 0;
    std::optional<MarkerFault> marker_;
    int withholdCount_ = 0;
    int withholdPeriod_ = 0;
    int withholdPhase_ = 0;
    int stallPeriod_ = 0;
    int stallPhase_ = 0;
    std::optional<MarkerFault> periodicMarker_;
    int markerPeriod_ = 0;
    int markerPhase_ = 0;
    bool stall_ = false;
    std::optional<size_t> unplugAfter_;
};

}  // namespace oru_sim
