// The mono twin of the ORU462MC: the same camera with a sensor without the
// colour mosaic, so no white balance, mono binning, RGB24 or Y8.
#pragma once

#include "models/CCameraUncooledColor.h"

class CCameraUncooledMono : public CCameraUncooledColor {
public:
    CCameraUncooledMono();
};
