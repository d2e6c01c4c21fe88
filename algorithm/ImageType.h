// Engine-wide pixel format codes shared by the camera object, the models and
// the image processing.
#pragma once

#include "api/ORUCamera.h"

// Internal output format of a frame.
enum IMAGE_TYPE {
    IMAGE_TYPE_8BIT = 0, // RAW8, or Y8 luminance when not raw
    IMAGE_TYPE_RGB24 = 1,
    IMAGE_TYPE_YUV422 = 2, // one 16-bit word per pixel: luminance low, chroma high
    IMAGE_TYPE_WORD32 = 3, // 16-bit sample p stored as p + p * 1024 + p * 1048576
    IMAGE_TYPE_RAW16 = 4,
};

// Mosaic phase of a colour sensor, numbered as in the public API.
typedef ORU_BAYER_PATTERN BayerPattern;
