#include "bindings/VideoStream.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <stdexcept>
#include <string>
#include <utility>

#include "bindings/FrameArray.h"
#include "wrapper/CameraException.h"

namespace py = pybind11;

namespace tav_oru::python {

namespace {

// The longest stretch spent waiting without looking at pending signals.
constexpr long long kWaitSliceMs = 100;
// The default wait for a frame: twice the exposure and this much more.
constexpr long long kDefaultTimeoutMarginMs = 5000;

std::vector<py::array> arrays_in(const py::object &buffers)
{
    if (py::isinstance<py::array>(buffers))
        return {py::reinterpret_borrow<py::array>(buffers)};
    std::vector<py::array> arrays;
    for (const py::handle item : py::iter(buffers)) {
        if (!py::isinstance<py::array>(item))
            throw py::type_error("stream: buffers must be numpy arrays, not " +
                                 py::str(py::type::of(item).attr("__name__")).cast<std::string>());
        arrays.push_back(py::reinterpret_borrow<py::array>(item));
    }
    if (arrays.empty())
        throw py::value_error("stream: buffers is empty");
    return arrays;
}

} // namespace

VideoStream::VideoStream(std::shared_ptr<Camera> camera, int camera_index,
                         std::optional<int> timeout_ms, const py::object &buffers)
    : camera_(std::move(camera)), camera_index_(camera_index), timeout_ms_(timeout_ms),
      requested_buffers_(buffers)
{
    if (timeout_ms_ && *timeout_ms_ < 0)
        throw py::value_error("stream: timeout_ms must not be negative");
    if (py::isinstance<py::int_>(buffers) && buffers.cast<long>() < 1)
        throw py::value_error("stream: the number of buffers must be at least 1");
    const py::module_ datetime = py::module_::import("datetime");
    from_timestamp_ = datetime.attr("datetime").attr("fromtimestamp");
    utc_ = datetime.attr("timezone").attr("utc");
}

VideoStream::~VideoStream()
{
    try {
        close();
    } catch (...) {
        // Nothing to tell from a destructor: the capture is gone with the camera.
        PyErr_Clear();
    }
}

void VideoStream::start()
{
    if (closed_)
        throw std::runtime_error("the video stream is closed");
    if (running_)
        return;
    roi_ = camera_->get_roi();
    if (roi_.frame_size() > std::numeric_limits<int>::max())
        throw py::value_error("stream: a frame of " + std::to_string(roi_.frame_size()) +
                              " bytes is too large");
    frame_bytes_ = static_cast<int>(roi_.frame_size());
    pool_.clear();
    next_in_pool_ = 0;
    if (py::isinstance<py::int_>(requested_buffers_)) {
        for (long i = requested_buffers_.cast<long>(); i > 0; --i)
            pool_.push_back(frame_array(roi_));
    } else if (!requested_buffers_.is_none()) {
        pool_ = arrays_in(requested_buffers_);
        for (const py::array &buffer : pool_)
            check_fillable(buffer, frame_bytes_, "stream");
    }
    exposure_us_ = camera_->get_control("Exposure").value;
    {
        py::gil_scoped_release unlocked;
        camera_->start_video();
    }
    running_ = true;
}

Frame VideoStream::next()
{
    if (closed_)
        throw py::stop_iteration();
    try {
        start();
        Frame frame;
        frame.image = next_buffer();
        const auto received = read_frame(static_cast<uint8_t *>(frame.image.mutable_data()),
                                         frame_bytes_, frame_timeout_ms(exposure_us_));
        frame.timestamp = from_timestamp_(
            std::chrono::duration<double>(received.time_since_epoch()).count(), utc_);
        frame.number = number_++;
        exposure_us_ = camera_->get_control("Exposure").value;
        frame.exposure_us = exposure_us_;
        dropped_ = camera_->get_dropped_frames();
        frame.dropped_frames = dropped_;
        return frame;
    } catch (...) {
        try {
            close();
        } catch (...) {
            // The first error is the one to report.
            PyErr_Clear();
        }
        throw;
    }
}

void VideoStream::close()
{
    if (closed_)
        return;
    closed_ = true;
    pool_.clear();
    if (!running_)
        return;
    running_ = false;
    py::gil_scoped_release unlocked;
    camera_->stop_video();
}

py::array VideoStream::next_buffer()
{
    if (pool_.empty())
        return frame_array(roi_);
    py::array buffer = pool_[next_in_pool_];
    next_in_pool_ = (next_in_pool_ + 1) % pool_.size();
    return buffer;
}

std::chrono::system_clock::time_point VideoStream::read_frame(uint8_t *data, int size, int wait_ms)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        const long long left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        const int slice = static_cast<int>(std::clamp(left, 0LL, kWaitSliceMs));
        std::optional<std::chrono::system_clock::time_point> received;
        {
            py::gil_scoped_release unlocked;
            if (camera_->get_video_data(data, size, slice))
                received = std::chrono::system_clock::now();
        }
        if (received)
            return *received;
        if (PyErr_CheckSignals() != 0)
            throw py::error_already_set();
        if (Clock::now() >= deadline)
            throw CameraException("no video frame within " + std::to_string(wait_ms) + " ms",
                                  camera_index_, ORU_ERROR_TIMEOUT);
    }
}

int VideoStream::frame_timeout_ms(long exposure_us) const
{
    if (timeout_ms_)
        return *timeout_ms_;
    const long long wait = 2LL * exposure_us / 1000 + kDefaultTimeoutMarginMs;
    return static_cast<int>(std::min<long long>(wait, std::numeric_limits<int>::max()));
}

} // namespace tav_oru::python
