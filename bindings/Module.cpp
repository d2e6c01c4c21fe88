// The Python module `bindings`: the tav_oru wrapper, a video stream, and the
// exception family that the wrapper's errors become (bindings/ErrorTypes.h).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <string>

#include "bindings/CheckedEnum.h"
#include "bindings/ClosableCamera.h"
#include "bindings/ErrorTypes.h"
#include "bindings/Reprs.h"
#include "bindings/VideoStream.h"
#include "wrapper/Camera.h"
#include "wrapper/Sdk.h"
#include "wrapper/Udev.h"

namespace py = pybind11;
using namespace tav_oru;

namespace {

void add_enumerations(py::module_ &m)
{
    py::enum_<BayerPattern> bayer(m, "BayerPattern");
    bayer.value("None", BayerPattern::None)
        .value("RG", BayerPattern::RG)
        .value("BG", BayerPattern::BG)
        .value("GR", BayerPattern::GR)
        .value("GB", BayerPattern::GB);
    python::refuse_unknown_values(bayer);
    py::enum_<ImageType> image_type(m, "ImageType");
    image_type.value("raw8", ImageType::raw8)
        .value("rgb24", ImageType::rgb24)
        .value("raw16", ImageType::raw16)
        .value("y8", ImageType::y8);
    python::refuse_unknown_values(image_type);
    py::enum_<GuideDirection> direction(m, "GuideDirection");
    direction.value("NORTH", GuideDirection::NORTH)
        .value("SOUTH", GuideDirection::SOUTH)
        .value("EAST", GuideDirection::EAST)
        .value("WEST", GuideDirection::WEST);
    python::refuse_unknown_values(direction);
    py::enum_<CameraMode> mode(m, "CameraMode");
    mode.value("normal", CameraMode::normal)
        .value("soft_edge", CameraMode::soft_edge)
        .value("rise_edge", CameraMode::rise_edge)
        .value("fall_edge", CameraMode::fall_edge)
        .value("soft_level", CameraMode::soft_level)
        .value("high_level", CameraMode::high_level)
        .value("low_level", CameraMode::low_level);
    python::refuse_unknown_values(mode);
    py::enum_<TriggerOutput> pin(m, "TriggerOutput");
    pin.value("PINA", TriggerOutput::PINA).value("PINB", TriggerOutput::PINB);
    python::refuse_unknown_values(pin);
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
        .def_readwrite("is_auto", &Controllable::is_auto)
        .def("__repr__", py::overload_cast<const Controllable &>(&python::repr));

    py::class_<ROI>(m, "ROI")
        .def(
            py::init([](int start_x, int start_y, int width, int height, int bins, ImageType type) {
                return ROI{start_x, start_y, width, height, bins, type};
            }),
            py::kw_only(), py::arg("start_x") = 0, py::arg("start_y") = 0, py::arg("width") = 0,
            py::arg("height") = 0, py::arg("bins") = 0, py::arg("type") = ImageType::y8,
            "A region of interest; what is not given is 0, the type y8.")
        .def_readwrite("start_x", &ROI::start_x)
        .def_readwrite("start_y", &ROI::start_y)
        .def_readwrite("width", &ROI::width)
        .def_readwrite("height", &ROI::height)
        .def_readwrite("bins", &ROI::bins)
        .def_readwrite("type", &ROI::type)
        .def("valid", &ROI::valid)
        .def("__repr__", py::overload_cast<const ROI &>(&python::repr));

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
        .def_readonly("is_trigger", &CameraInfo::is_trigger)
        .def("__repr__", py::overload_cast<const CameraInfo &>(&python::repr));

    py::class_<TriggerOutputConfig>(m, "TriggerOutputConfig")
        .def_readonly("pin_high", &TriggerOutputConfig::pin_high)
        .def_readonly("delay_us", &TriggerOutputConfig::delay_us)
        .def_readonly("duration_us", &TriggerOutputConfig::duration_us)
        .def("__repr__", py::overload_cast<const TriggerOutputConfig &>(&python::repr));

    py::class_<GainOffsetPresets>(m, "GainOffsetPresets")
        .def_readonly("offset_highest_dr", &GainOffsetPresets::offset_highest_dr)
        .def_readonly("offset_unity_gain", &GainOffsetPresets::offset_unity_gain)
        .def_readonly("gain_lowest_rn", &GainOffsetPresets::gain_lowest_rn)
        .def_readonly("offset_lowest_rn", &GainOffsetPresets::offset_lowest_rn)
        .def_readonly("low_gain", &GainOffsetPresets::low_gain)
        .def_readonly("medium_gain", &GainOffsetPresets::medium_gain)
        .def_readonly("high_gain", &GainOffsetPresets::high_gain)
        .def_readonly("high_offset", &GainOffsetPresets::high_offset)
        .def("__repr__", py::overload_cast<const GainOffsetPresets &>(&python::repr));
}

void add_functions(py::module_ &m)
{
    m.def("get_nb_cameras", &get_nb_cameras,
          "Enumerates the connected cameras and returns how many there are.");
    m.def(
        "create_udev_file", [] { return internal::create_udev_file(); },
        "Writes the udev rule file \"99-oru.rules\" into the current directory.");
    m.def("close_camera", &close_camera, "Closes the camera with this camera ID.");
    m.def("get_sdk_version", &get_sdk_version);
}

void add_stream(py::module_ &m)
{
    using python::Frame;
    using python::VideoStream;
    py::class_<Frame>(m, "Frame", "One video frame and what is known about it.")
        .def_readonly("image", &Frame::image, "The frame, shaped like capture()'s.")
        .def_readonly("number", &Frame::number,
                      "Frames the stream delivered before this one (0 for the first).")
        .def_readonly("timestamp", &Frame::timestamp,
                      "When the host received the frame (datetime, UTC).")
        .def_readonly("exposure_us", &Frame::exposure_us, "The exposure setting in µs.")
        .def_readonly("dropped_frames", &Frame::dropped_frames,
                      "Frames the camera lost since the video capture started.")
        .def("__repr__", py::overload_cast<const Frame &>(&python::repr));

    py::class_<VideoStream>(m, "VideoStream", "Video frames of a camera; see Camera.stream.")
        .def(
            "__enter__",
            [](VideoStream &stream) -> VideoStream & {
                stream.start();
                return stream;
            },
            py::return_value_policy::reference_internal)
        .def("__exit__",
             [](VideoStream &stream, const py::object &error_type, const py::object &,
                const py::object &) {
                 if (error_type.is_none()) {
                     stream.close();
                     return;
                 }
                 // The error that ends the block is the one to see.
                 try {
                     stream.close();
                 } catch (const std::exception &) {
                 }
             })
        .def(
            "__iter__", [](VideoStream &stream) -> VideoStream & { return stream; },
            py::return_value_policy::reference_internal)
        .def("__next__", &VideoStream::next)
        .def("close", &VideoStream::close, "Stops the video capture; closing twice is harmless.")
        .def_property_readonly("running", &VideoStream::is_running)
        .def_property_readonly("closed", &VideoStream::is_closed)
        .def_property_readonly("dropped_frames", &VideoStream::dropped_frames,
                               "The dropped-frame count read with the last frame.");
}

void add_camera(py::module_ &m)
{
    using python::ClosableCamera;
    py::class_<ClosableCamera>(m, "Camera")
        .def(py::init<int>(), "Enumerates, opens and initialises the camera at this index.")
        .def("close", &ClosableCamera::close, "Closes the camera; closing twice is harmless.")
        .def(
            "__enter__", [](ClosableCamera &camera) -> ClosableCamera & { return camera; },
            py::return_value_policy::reference)
        .def("__exit__", [](ClosableCamera &camera, const py::args &) { camera.close(); })
        .def("__repr__", &ClosableCamera::repr)
        .def("set_roi", &ClosableCamera::set_roi)
        .def("get_roi", &ClosableCamera::get_roi,
             "The current ROI with the start position the camera uses.")
        .def("get_controls", &ClosableCamera::get_controls)
        .def("get_control", &ClosableCamera::get_control, py::arg("name"), "One control, read now.")
        .def("set_control", &ClosableCamera::set_control, py::arg("name"), py::arg("value"),
             "Sets a manual value and returns the value the camera applied (it clamps to the "
             "control's range).")
        .def("set_auto", &ClosableCamera::set_auto)
        .def("set_camera_mode", &ClosableCamera::set_camera_mode)
        .def("get_camera_mode", &ClosableCamera::get_camera_mode)
        .def("get_supported_modes", &ClosableCamera::get_supported_modes)
        .def("send_soft_trigger", &ClosableCamera::send_soft_trigger, py::arg("start") = true,
             "Starts (start=False: ends) a software trigger in a soft trigger mode.")
        .def("set_trigger_output", &ClosableCamera::set_trigger_output, py::arg("pin"),
             py::arg("pin_high"), py::arg("delay_us"), py::arg("duration_us"),
             "Configures a trigger-output pin; a duration of 0 switches it off.")
        .def("get_trigger_output", &ClosableCamera::get_trigger_output, py::arg("pin"))
        .def("get_gain_offset_presets", &ClosableCamera::get_gain_offset_presets,
             "The model's reference settings of gain and offset.")
        .def("get_serial_number", &ClosableCamera::get_serial_number,
             "The factory serial number as 16 hexadecimal digits.")
        .def("get_user_id", &ClosableCamera::get_user_id,
             "The user ID kept in the camera (up to 8 bytes).")
        .def("set_user_id", &ClosableCamera::set_user_id, py::arg("user_id"),
             "Writes the user ID (bytes or str, up to 8 bytes) into the camera.")
        .def("get_dropped_frames", &ClosableCamera::get_dropped_frames,
             "Frames lost since the video capture started.")
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
             "(height, width) for raw16.")
        .def("stream", &ClosableCamera::stream, py::kw_only(), py::arg("timeout_ms") = py::none(),
             py::arg("buffers") = py::none(),
             "A video stream: a context manager and iterator of Frame objects. Video runs "
             "from entering (or the first frame) until the block ends, an error or close(). "
             "buffers: None for a new array per frame, n for n arrays filled in turn, or "
             "arrays of your own filled in turn (a frame stays valid until the others have "
             "been filled). timeout_ms: the longest wait for a frame (default twice the "
             "exposure and 5 s); waiting longer raises CameraException with code "
             "ORU_ERROR_TIMEOUT.");
}

} // namespace

PYBIND11_MODULE(bindings, m)
{
    m.doc() = "tav_oru bindings";
    python::add_error_types(m);
    add_enumerations(m);
    add_values(m);
    add_functions(m);
    add_stream(m);
    add_camera(m);
}
