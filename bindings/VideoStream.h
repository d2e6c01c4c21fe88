// Video capture from Python: a context manager and iterator over frames.
//
//   with camera.stream() as frames:
//       for frame in frames:
//           frame.image, frame.number, frame.timestamp, ...
//
// Entering (or the first frame) starts video capture; leaving the block, an
// exception out of the stream (a time-out, Ctrl-C) and close() stop it.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "wrapper/Camera.h"

namespace tav_oru::python {

// One frame of a stream and what is known about it.
struct Frame {
    pybind11::array image;
    long number = 0;            // frames the stream delivered before this one
    pybind11::object timestamp; // datetime (UTC) when the host received it
    long exposure_us = 0;       // the exposure setting when it arrived
    int dropped_frames = 0;     // frames the camera lost since the capture started
};

// Thread safety: used from one Python thread at a time; waits for a frame
// without the interpreter lock.
class VideoStream {
public:
    // buffers: None for a new array per frame; an int n for n arrays made
    // once and filled in turn; an array or a sequence of arrays (any dtype,
    // C-contiguous, writable, at least one frame) to be filled in turn. A
    // frame handed out stays valid until the stream has filled all the other
    // buffers. timeout_ms: the longest wait for one frame; None waits twice
    // the exposure and 5 seconds more.
    VideoStream(std::shared_ptr<Camera> camera, int camera_index, std::optional<int> timeout_ms,
                const pybind11::object &buffers);
    ~VideoStream();
    VideoStream(const VideoStream &) = delete;
    VideoStream &operator=(const VideoStream &) = delete;

    // Starts video capture unless it runs; a closed stream cannot start again.
    void start();
    // The next frame; StopIteration once closed. An error closes the stream.
    Frame next();
    // Stops video capture; closing again does nothing.
    void close();

    bool is_running() const { return running_; }
    bool is_closed() const { return closed_; }
    // The dropped-frame count read with the last frame.
    int dropped_frames() const { return dropped_; }

private:
    pybind11::array next_buffer();
    // Waits in short slices without the interpreter lock so that Ctrl-C is
    // seen; raises on a signal or when wait_ms pass without a frame. Returns
    // when the frame arrived.
    std::chrono::system_clock::time_point read_frame(uint8_t *data, int size, int wait_ms);
    int frame_timeout_ms(long exposure_us) const;

    std::shared_ptr<Camera> camera_;
    int camera_index_;
    std::optional<int> timeout_ms_;
    pybind11::object requested_buffers_;
    std::vector<pybind11::array> pool_;
    std::size_t next_in_pool_ = 0;
    ROI roi_;
    int frame_bytes_ = 0;
    long number_ = 0;
    int dropped_ = 0;
    long exposure_us_ = 0;
    bool running_ = false;
    bool closed_ = false;
    pybind11::object from_timestamp_;
    pybind11::object utc_;
};

} // namespace tav_oru::python
