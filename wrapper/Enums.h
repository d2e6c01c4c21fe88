// The wrapper's enumerations, their names and their flat-API twins.
#pragma once

#include <cstdint>
#include <string>

#include "api/ORUCamera.h"

namespace tav_oru {

// Same numbers as ORU_IMG_TYPE.
enum class ImageType : int32_t { raw8 = 0, rgb24 = 1, raw16 = 2, y8 = 3 };

// The flat ORU_BAYER_PATTERN plus one; None means unknown.
enum class BayerPattern : int32_t { None = 0, RG = 1, BG = 2, GR = 3, GB = 4 };

// Same numbers as ORU_CAMERA_MODE.
enum class CameraMode : int32_t {
    normal = 0,
    soft_edge = 1,
    rise_edge = 2,
    fall_edge = 3,
    soft_level = 4,
    high_level = 5,
    low_level = 6
};

// Same numbers as ORU_GUIDE_DIRECTION.
enum class GuideDirection : int32_t { NORTH = 0, SOUTH = 1, EAST = 2, WEST = 3 };

// Same numbers as ORU_TRIG_OUTPUT.
enum class TriggerOutput : int32_t { PINA = 0, PINB = 1 };

// "raw8", "rgb24", "raw16", "y8"; empty for any other value.
std::string to_string(ImageType type);
// "None", "RG", "BG", "GR", "GB"; empty for any other value.
std::string to_string(BayerPattern pattern);

ORU_IMG_TYPE get_native(ImageType type);
ORU_CAMERA_MODE get_native(CameraMode mode);
ORU_GUIDE_DIRECTION get_native(GuideDirection direction);
ORU_TRIG_OUTPUT get_native(TriggerOutput pin);

} // namespace tav_oru
