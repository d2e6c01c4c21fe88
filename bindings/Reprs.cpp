#include "bindings/Reprs.h"

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdio>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace tav_oru::python {

namespace {

using Fields = std::vector<std::pair<const char *, std::string>>;

std::string call_form(const char *type, const Fields &fields)
{
    std::string text = std::string(type) + "(";
    for (std::size_t i = 0; i < fields.size(); ++i)
        text += (i == 0 ? "" : ", ") + std::string(fields[i].first) + "=" + fields[i].second;
    return text + ")";
}

template <typename Value>
std::string python_repr(const Value &value)
{
    return py::repr(py::cast(value)).template cast<std::string>();
}

// An enumeration member as Python code names it: ImageType.raw8.
template <typename Enum>
std::string member(Enum value)
{
    return py::str(py::cast(value)).cast<std::string>();
}

template <typename Enum>
std::string members(const std::set<Enum> &values)
{
    std::string text = "{";
    for (const Enum value : values)
        text += (text.size() == 1 ? "" : ", ") + member(value);
    return text + "}";
}

// Without the digits a float picks up on its way to double.
std::string short_float(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

} // namespace

std::string repr(const ROI &roi)
{
    return call_form("ROI", {{"start_x", std::to_string(roi.start_x)},
                             {"start_y", std::to_string(roi.start_y)},
                             {"width", std::to_string(roi.width)},
                             {"height", std::to_string(roi.height)},
                             {"bins", std::to_string(roi.bins)},
                             {"type", member(roi.type)}});
}

std::string repr(const CameraInfo &info)
{
    return call_form("CameraInfo", {{"name", python_repr(info.name)},
                                    {"camera_id", std::to_string(info.camera_id)},
                                    {"max_height", std::to_string(info.max_height)},
                                    {"max_width", std::to_string(info.max_width)},
                                    {"is_color", python_repr(info.is_color)},
                                    {"bayer", member(info.bayer)},
                                    {"supported_bins", python_repr(info.supported_bins)},
                                    {"supported_image_types", members(info.supported_image_types)},
                                    {"pixel_size_um", short_float(info.pixel_size_um)},
                                    {"mechanical_shutter", python_repr(info.mechanical_shutter)},
                                    {"st4_port", python_repr(info.st4_port)},
                                    {"has_cooler", python_repr(info.has_cooler)},
                                    {"is_usb3_host", python_repr(info.is_usb3_host)},
                                    {"is_usb3", python_repr(info.is_usb3)},
                                    {"elec_per_adu", short_float(info.elec_per_adu)},
                                    {"bit_depth", std::to_string(info.bit_depth)},
                                    {"is_trigger", python_repr(info.is_trigger)}});
}

std::string repr(const Controllable &controllable)
{
    return call_form("Controllable", {{"name", python_repr(controllable.name)},
                                      {"value", std::to_string(controllable.value)},
                                      {"min_value", std::to_string(controllable.min_value)},
                                      {"max_value", std::to_string(controllable.max_value)},
                                      {"default_value", std::to_string(controllable.default_value)},
                                      {"is_writable", python_repr(controllable.is_writable)},
                                      {"is_auto", python_repr(controllable.is_auto)},
                                      {"supports_auto", python_repr(controllable.supports_auto)}});
}

std::string repr(const TriggerOutputConfig &config)
{
    return call_form("TriggerOutputConfig", {{"pin_high", python_repr(config.pin_high)},
                                             {"delay_us", std::to_string(config.delay_us)},
                                             {"duration_us", std::to_string(config.duration_us)}});
}

std::string repr(const GainOffsetPresets &presets)
{
    return call_form("GainOffsetPresets",
                     {{"offset_highest_dr", std::to_string(presets.offset_highest_dr)},
                      {"offset_unity_gain", std::to_string(presets.offset_unity_gain)},
                      {"gain_lowest_rn", std::to_string(presets.gain_lowest_rn)},
                      {"offset_lowest_rn", std::to_string(presets.offset_lowest_rn)},
                      {"low_gain", std::to_string(presets.low_gain)},
                      {"medium_gain", std::to_string(presets.medium_gain)},
                      {"high_gain", std::to_string(presets.high_gain)},
                      {"high_offset", std::to_string(presets.high_offset)}});
}

std::string repr(const Frame &frame)
{
    const std::string image = py::str(frame.image.dtype()).cast<std::string>() +
                              py::repr(frame.image.attr("shape")).cast<std::string>();
    return call_form("Frame", {{"number", std::to_string(frame.number)},
                               {"timestamp", py::repr(frame.timestamp).cast<std::string>()},
                               {"exposure_us", std::to_string(frame.exposure_us)},
                               {"dropped_frames", std::to_string(frame.dropped_frames)},
                               {"image", image}});
}

} // namespace tav_oru::python
