// The mono twin of the ORU6200MC Pro: the same camera with a sensor without
// the colour mosaic, so no white balance, mono binning, RGB24 or Y8.
#pragma once

#include "models/CCameraProColor.h"

class CCameraProMono : public CCameraProColor {
public:
    CCameraProMono();
};
