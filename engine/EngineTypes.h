// Engine twins of the public enumerations. They carry the same numbers as
// their ORU_ counterparts, so the flat API passes values through unchanged,
// and like them hold every 32-bit value, so that a number a caller made up
// is refused by the engine's checks rather than being undefined.
#pragma once

#include <cstdint>

#include "api/ORUCamera.h"

enum IMG_TYPE : int32_t {
    IMG_RAW8 = ORU_IMG_RAW8,
    IMG_RGB24 = ORU_IMG_RGB24,
    IMG_RAW16 = ORU_IMG_RAW16,
    IMG_Y8 = ORU_IMG_Y8,
    IMG_END = ORU_IMG_END,
};

enum GuideD : int32_t {
    GUIDE_NORTH = ORU_GUIDE_NORTH,
    GUIDE_SOUTH = ORU_GUIDE_SOUTH,
    GUIDE_EAST = ORU_GUIDE_EAST,
    GUIDE_WEST = ORU_GUIDE_WEST,
};

enum CAM_MODE : int32_t {
    MODE_NORMAL = ORU_MODE_NORMAL,
    MODE_TRIG_SOFT_EDGE = ORU_MODE_TRIG_SOFT_EDGE,
    MODE_TRIG_RISE_EDGE = ORU_MODE_TRIG_RISE_EDGE,
    MODE_TRIG_FALL_EDGE = ORU_MODE_TRIG_FALL_EDGE,
    MODE_TRIG_SOFT_LEVEL = ORU_MODE_TRIG_SOFT_LEVEL,
    MODE_TRIG_HIGH_LEVEL = ORU_MODE_TRIG_HIGH_LEVEL,
    MODE_TRIG_LOW_LEVEL = ORU_MODE_TRIG_LOW_LEVEL,
    MODE_END = ORU_MODE_END,
};

enum Trig_Output_Pin : int32_t {
    TRIG_OUTPUT_PINA = ORU_TRIG_OUTPUT_PINA,
    TRIG_OUTPUT_PINB = ORU_TRIG_OUTPUT_PINB,
};

// The engine's internal control numbering; ControlConv maps it to the public
// ORU_CONTROL_TYPE (1..8 unchanged, 9..17 to 13..21, anything else to 0).
enum Control_TYPE {
    CTRL_NONE = 0,
    CTRL_EXPOSURE = 1,
    CTRL_GAMMA = 2,
    CTRL_WB_R = 3,
    CTRL_WB_B = 4,
    CTRL_OFFSET = 5,
    CTRL_BANDWIDTH = 6,
    CTRL_OVERCLK = 7,
    CTRL_TEMPERATURE = 8,
    CTRL_HARDWARE_BIN = 9,
    CTRL_HIGH_SPEED_MODE = 10,
    CTRL_COOL_POWER_PERC = 11,
    CTRL_TARGET_TEMP = 12,
    CTRL_COOLER_ON = 13,
    CTRL_MONO_BIN = 14,
    CTRL_FAN_ON = 15,
    CTRL_PATTERN_ADJUST = 16,
    CTRL_ANTI_DEW_HEATER = 17,
};
