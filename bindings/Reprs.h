// repr() texts of the module's value classes, in the form of a call:
// ROI(start_x=16, start_y=8, width=320, height=240, bins=1, type=ImageType.raw8).
#pragma once

#include <string>

#include "bindings/VideoStream.h"
#include "wrapper/CameraInfo.h"
#include "wrapper/Controllable.h"
#include "wrapper/GainOffsetPresets.h"
#include "wrapper/ROI.h"
#include "wrapper/TriggerOutputConfig.h"

namespace tav_oru::python {

std::string repr(const ROI &roi);
std::string repr(const CameraInfo &info);
std::string repr(const Controllable &controllable);
std::string repr(const TriggerOutputConfig &config);
std::string repr(const GainOffsetPresets &presets);
// The image as its dtype and shape: Frame(number=3, ..., image=uint8(480, 640)).
std::string repr(const Frame &frame);

} // namespace tav_oru::python
