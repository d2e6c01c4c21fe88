// Reads the frames of a running video capture on a thread of its own and
// hands each to a sink, so that the driver's event loop never waits for one.
// It notices a camera that stopped delivering: a read refused outright, or
// no frame for much longer than the exposure.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace oru_indi {

class VideoReader {
public:
    // Called on the reader's thread; it may change the frame in place.
    using FrameSink = std::function<void(uint8_t *frame, size_t bytes)>;

    VideoReader(int cameraId, size_t frameBytes, std::chrono::microseconds exposure,
                FrameSink sink);
    // Stops the thread (within one short read).
    ~VideoReader();
    VideoReader(const VideoReader &) = delete;
    VideoReader &operator=(const VideoReader &) = delete;

    void setExposure(std::chrono::microseconds exposure);
    // True once since the last call when frames stopped coming.
    bool takeFailure();
    uint64_t frames() const { return m_Frames; }

private:
    void run();

    const int m_CameraId;
    std::vector<uint8_t> m_Frame;
    FrameSink m_Sink;
    std::atomic<int64_t> m_ExposureUs;
    std::atomic<bool> m_Failed{false};
    std::atomic<uint64_t> m_Frames{0};
    std::atomic<bool> m_Stop{false};
    std::thread m_Thread;
};

} // namespace oru_indi
