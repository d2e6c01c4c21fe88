// The Python module `bindings`: the tav_oru wrapper, one to one. Errors of the
// wrapper reach Python as RuntimeError carrying the exception's text.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <string>

#include "bindings/ClosableCamera.h"
#include "wrapper/Camera.h"
#include "wrapper/CameraException.h"
#include "wrapper/ControllableException.h"
#include "wrapper/Sdk.h"
#include "wrapper/Udev.h"

namespace py = pybind11;
using namespace tav_oru;

namespace {

void add_enumerations(py::module_ &m)
{
    py::enum_<BayerPattern>(m, "BayerPattern")
        .value("None", BayerPattern::None)
        .value("RG", BayerPattern::RG)
        .value("BG", BayerPattern::BG)
        .value("GR", BayerPattern::GR)
        .value("GB", BayerPattern::GB);
    py::enum_<ImageType>(m, "ImageType")
        .value("raw8", ImageType::raw8)
        .value("rgb24", ImageType::rgb24)
        .value("raw16", ImageType::raw16)
        .value("y8", ImageType::y8);
    py::enum_<GuideDirection>(m, "GuideDirection")
        .value("NORTH", GuideDirection::NORTH)
        .value("SOUTH", GuideDirection::SOUTH)
        .value("EAST", GuideDirection::EAST)
        .value("WEST", GuideDirection::WEST);
    py::enum_<CameraMode>(m, "CameraMode")
        .value("normal", CameraMode::normal)
        .value("soft_edge", CameraMode::soft_edge)
        .value("rise_edge", CameraMode::rise_edge)
        .value("fall_edge", CameraMode::fall_edge)
        .value("soft_level", CameraMode::soft_level)
        .value("high_level", CameraMode::high_level)
        .value("low_level", CameraMode::low_level);
}

void add_exceptions(py::module_ &m)
{
    // Plain classes for building these errors from Python; what the library
    // raises is RuntimeError.
    py::class_<ControllableException>(m, "ControllableException")
        // Registered before the integer form: True and False are ints too.
        .def(py::init<const std::string &, bool, bool, bool>())
        .def(py::init<const std::string &, long, long, long>())
        .def("__str__", &ControllableException::what);
    py::class_<CameraException>(m, "CameraException")
        .def(py::init([](const std::string &message, int camera_index, int code, bool udev_issue) {
            return CameraException(message, camera_index, static_cast<ORU_ERROR_CODE>(code),
                                   udev_issue);
        }))
        .def("__str__", &CameraException::what);
}

void add_values(py::module_ &m)
{
    py::class_<Controllable>(m, "Controllable")
        .def_readonly("name", &Controllable::name)
        .def_readonly("min_value", &Controllable::min_value)
        .def_readonly("max_value", &Controllable::max_value)
        .def_readonly("default_value", &Controllable::default_value)
        .def_readonly("is_writable", &Controllable::is_writable)
        .def_readonly("supports_auto", &Controllable::supports_auto)
        .def_readwrite("value", &Controllable::value)
        .def_readwrite("is_auto", &Controllable::is_auto);

    py::class_<ROI>(m, "ROI")
        .def(py::init<>())
        .def_readwrite("start_x", &ROI::start_x)
        .def_readwrite("start_y", &ROI::start_y)
        .def_readwrite("width", &ROI::width)
        .def_readwrite("height", &ROI::height)
        .def_readwrite("bins", &ROI::bins)
        .def_readwrite("type", &ROI::type)
        .def("valid", &ROI::valid);

    py::class_<CameraInfo>(m, "CameraInfo")
        .def_readonly("name", &CameraInfo::name)
        .def_readonly("camera_id", &CameraInfo::camera_id)
        .def_readonly("max_height", &CameraInfo::max_height)
        .def_readonly("max_width", &CameraInfo::max_width)
        .def_readonly("is_color", &CameraInfo::is_color)
        .def_readonly("bayer", &CameraInfo::bayer)
        .def_readonly("supported_bins", &CameraInfo::supported_bins)
        .def_readonly("supported_image_types", &CameraInfo::supported_image_types)
        .def_readonly("pixel_size_um", &CameraInfo::pixel_size_um)
        .def_readonly("mechanical_shutter", &CameraInfo::mechanical_shutter)
        .def_readonly("st4_port", &CameraInfo::st4_port)
        .def_readonly("has_cooler", &CameraInfo::has_cooler)
        .def_readonly("is_usb3_host", &CameraInfo::is_usb3_host)
        .def_readonly("is_usb3", &CameraInfo::is_usb3)
        .def_readonly("elec_per_adu", &CameraInfo::elec_per_adu)
        .def_readonly("bit_depth", &CameraInfo::bit_depth)
        .def_readonly("is_trigger", &CameraInfo::is_trigger);
}

void add_functions(py::module_ &m)
{
    m.def("get_nb_cameras", &get_nb_cameras,
          "Enumerates the connected cameras and returns how many there are.");
    m.def("create_udev_file", [] { return internal::create_udev_file(); },
          "Writes the udev rule file \"99-oru.rules\" into the current directory.");
    m.def("close_camera", &close_camera, "Closes the camera with this camera ID.");
    m.def("get_sdk_version", &get_sdk_version);
}

void add_camera(py::module_ &m)
{
    using python::ClosableCamera;
    py::class_<ClosableCamera>(m, "Camera")
        .def(py::init<int>(), "Enumerates, opens and initialises the camera at this index.")
        .def("close", &ClosableCamera::close, "Closes the camera; closing twice is harmless.")
        .def("__enter__", [](ClosableCamera &camera) -> ClosableCamera & { return camera; },
             py::return_value_policy::reference)
        .def("__exit__", [](ClosableCamera &camera, const py::args &) { camera.close(); })
        .def("set_roi", &ClosableCamera::set_roi)
        .def("get_roi", &ClosableCamera::get_roi)
        .def("get_controls", &ClosableCamera::get_controls)
        .def("set_control", &ClosableCamera::set_control)
        .def("set_auto", &ClosableCamera::set_auto)
        .def("set_camera_mode", &ClosableCamera::set_camera_mode)
        .def("set_pulse_guide_on", &ClosableCamera::set_pulse_guide_on)
        .def("set_pulse_guide_off", &ClosableCamera::set_pulse_guide_off)
        .def("enable_dark_substract", &ClosableCamera::enable_dark_substract)
        .def("disable_dark_substract", &ClosableCamera::disable_dark_substract)
        .def("__str__", &ClosableCamera::to_string)
        .def("get_info", &ClosableCamera::get_info)
        .def("capture", py::overload_cast<py::array, int>(&ClosableCamera::capture),
             py::arg("image").noconvert(), py::arg("size"),
             "Takes one exposure into image (a writable C-contiguous uint8 array) and fills "
             "its first size bytes.")
        .def("capture", py::overload_cast<>(&ClosableCamera::capture),
             "Takes one exposure into a new array: uint8 (height, width) for raw8 and y8, "
             "uint8 (height, width, 3) for rgb24 (bytes blue, green, red), uint16 "
             "(height, width) for raw16.");
}

} // namespace

PYBIND11_MODULE(bindings, m)
{
    m.doc() = "tav_oru bindings";
    add_enumerations(m);
    add_exceptions(m);
    add_values(m);
    add_functions(m);
    add_camera(m);
}
