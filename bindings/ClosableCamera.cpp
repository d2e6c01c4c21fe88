#include "bindings/ClosableCamera.h"

#include <pybind11/pybind11.h>

#include <limits>
#include <optional>
#include <vector>

#include "wrapper/CameraException.h"

namespace py = pybind11;

namespace tav_oru::python {

namespace {

// The array a frame of this ROI fills: rows of pixels, three bytes a pixel for rgb24.
py::array frame_array(const ROI &roi)
{
    std::vector<py::ssize_t> shape{roi.height, roi.width};
    if (roi.type == ImageType::rgb24)
        shape.push_back(3);
    // The camera writes little-endian samples whatever the host's byte order.
    const py::dtype type =
        roi.type == ImageType::raw16 ? py::dtype("<u2") : py::dtype::of<uint8_t>();
    return py::array(type, shape);
}

void check_capture_target(const py::array &image, int size)
{
    if (!py::isinstance<py::array_t<uint8_t>>(image))
        throw py::value_error("capture: the array's element type must be uint8, not " +
                              py::str(image.dtype()).cast<std::string>());
    if ((image.flags() & py::array::c_style) == 0)
        throw py::value_error("capture: the array must be C-contiguous");
    if (!image.writeable())
        throw py::value_error("capture: the array must be writable");
    if (size > image.nbytes())
        throw py::value_error("capture: size " + std::to_string(size) +
                              " is larger than the array's " + std::to_string(image.nbytes()) +
                              " bytes");
}

} // namespace

ClosableCamera::ClosableCamera(int index)
    : camera_(std::make_shared<Camera>(index)), camera_index_(index)
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

void ClosableCamera::set_control(const std::string &name, long value)
{
    camera()->set_control(name, value);
}

void ClosableCamera::set_auto(const std::string &name)
{
    camera()->set_auto(name);
}

void ClosableCamera::set_camera_mode(CameraMode mode)
{
    camera()->set_camera_mode(mode);
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
