// A region of interest: position, size, binning and image type.
#pragma once

#include <cstdint>

#include "wrapper/CameraInfo.h"
#include "wrapper/Enums.h"

namespace tav_oru {

struct ROI {
    int start_x = 0; // in binned pixels
    int start_y = 0;
    int width = 0; // output (binned) size
    int height = 0;
    int bins = 0;
    ImageType type = ImageType::y8;

    // Throws a ROIException for the first rule this ROI breaks on the camera
    // described by info. Start positions are left to the camera.
    void valid(const CameraInfo &info) const;

    // Bytes of one image of this ROI; 0 for an unknown type.
    int64_t frame_size() const;
};

} // namespace tav_oru
