#include "bindings/ClosableCamera.h"

#include <pybind11/pybind11.h>

#include <limits>
#include <optional>

#include "bindings/FrameArray.h"
#include "wrapper/CameraException.h"

namespace py = pybind11;

namespace tav_oru::python {

namespace {

void check_capture_target(const py::array &image, int size)
{
    if (!py::isinstance<py::array_t<uint8_t>>(image))
        throw py::value_error("capture: the array's element type must be uint8, not " +
                              py::str(image.dtype()).cast<std::string>());
    check_fillable(image, size, "capture");
}

} // namespace

ClosableCamera::ClosableCamera(int index)
    : camera_(std::make_shared<Camera>(index)), camera_index_(index),
      opened_as_(camera_->get_info())
{
}

void ClosableCamera::close()
{
    camera_.reset();
}

CameraInfo ClosableCamera::get_info() const
{
    return camera()->get_info();
}

void ClosableCamera::set_roi(const ROI &roi)
{
    camera()->set_roi(roi);
}

ROI ClosableCamera::get_roi() const
{
    return camera()->get_roi();
}

std::map<std::string, Controllable> ClosableCamera::get_controls() const
{
    return camera()->get_controls();
}

Controllable ClosableCamera::get_control(const std::string &name) const
{
    return camera()->get_control(name);
}

long ClosableCamera::set_control(const std::string &name, long value)
{
    return camera()->set_control(name, value);
}

void ClosableCamera::set_auto(const std::string &name)
{
    camera()->set_auto(name);
}

void ClosableCamera::set_camera_mode(CameraMode mode)
{
    camera()->set_camera_mode(mode);
}

CameraMode ClosableCamera::get_camera_mode() const
{
    return camera()->get_camera_mode();
}

std::vector<CameraMode> ClosableCamera::get_supported_modes() const
{
    return camera()->get_supported_modes();
}

void ClosableCamera::send_soft_trigger(bool start)
{
    camera()->send_soft_trigger(start);
}

void ClosableCamera::set_trigger_output(TriggerOutput pin, bool pin_high, int32_t delay_us,
                                        int32_t duration_us)
{
    camera()->set_trigger_output(pin, TriggerOutputConfig{pin_high, delay_us, duration_us});
}

TriggerOutputConfig ClosableCamera::get_trigger_output(TriggerOutput pin) const
{
    return camera()->get_trigger_output(pin);
}

GainOffsetPresets ClosableCamera::get_gain_offset_presets() const
{
    return camera()->get_gain_offset_presets();
}

std::string ClosableCamera::get_serial_number() const
{
    return camera()->get_serial_number();
}

py::bytes ClosableCamera::get_user_id() const
{
    return py::bytes(camera()->get_user_id());
}

void ClosableCamera::set_user_id(const std::string &id)
{
    camera()->set_user_id(id);
}

int ClosableCamera::get_dropped_frames() const
{
    return camera()->get_dropped_frames();
}

void ClosableCamera::set_pulse_guide_on(GuideDirection direction)
{
    camera()->set_pulse_guide_on(direction);
}

void ClosableCamera::set_pulse_guide_off(GuideDirection direction)
{
    camera()->set_pulse_guide_off(direction);
}

void ClosableCamera::enable_dark_substract(const std::filesystem::path &path)
{
    camera()->enable_dark_substract(path);
}

void ClosableCamera::disable_dark_substract()
{
    camera()->disable_dark_substract();
}

std::string ClosableCamera::to_string() const
{
    return camera()->to_string();
}

std::string ClosableCamera::repr() const
{
    std::string text = "<tav_oru.Camera " + std::to_string(camera_index_) + ": " +
                       py::repr(py::str(opened_as_.name)).cast<std::string>();
    if (camera_)
        text += ", camera ID " + std::to_string(opened_as_.camera_id);
    else
        text += ", closed";
    return text + ">";
}

std::unique_ptr<VideoStream> ClosableCamera::stream(std::optional<int> timeout_ms,
                                                    const py::object &buffers) const
{
    return std::make_unique<VideoStream>(camera(), camera_index_, timeout_ms, buffers);
}

void ClosableCamera::capture(py::array image, int size)
{
    check_capture_target(image, size);
    capture_unlocked(static_cast<uint8_t *>(image.mutable_data()), size);
}

py::array ClosableCamera::capture()
{
    py::array image = frame_array(camera()->get_roi());
    if (image.nbytes() > std::numeric_limits<int>::max())
        throw py::value_error("capture: a frame of " + std::to_string(image.nbytes()) +
                              " bytes is too large");
    capture_unlocked(static_cast<uint8_t *>(image.mutable_data()),
                     static_cast<int>(image.nbytes()));
    return image;
}

std::shared_ptr<Camera> ClosableCamera::camera() const
{
    if (!camera_)
        throw CameraException("the camera is closed", camera_index_, ORU_ERROR_CAMERA_CLOSED);
    return camera_;
}

void ClosableCamera::capture_unlocked(uint8_t *buffer, int size)
{
    const std::shared_ptr<Camera> camera = this->camera();
    std::optional<py::error_already_set> interruption;
    const auto keep_waiting = [&interruption] {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() == 0)
            return true;
        interruption.emplace();
        return false;
    };
    try {
        py::gil_scoped_release unlocked;
        camera->capture(buffer, size, keep_waiting);
    } catch (...) {
        // The wrapper reports the stop as its own error; the caller wants the signal's.
        if (interruption)
            throw *interruption;
        throw;
    }
}

} // namespace tav_oru::python
