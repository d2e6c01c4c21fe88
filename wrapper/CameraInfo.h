// What a camera is: model name, sensor size, capabilities.
#pragma once

#include <cstdint>
#include <set>
#include <string>

#include "api/ORUCamera.h"
#include "wrapper/Enums.h"

namespace tav_oru {

struct CameraInfo {
    std::string name;
    int camera_id = 0; // the flat camera ID
    int max_height = 0;
    int max_width = 0;
    bool is_color = false;
    BayerPattern bayer = BayerPattern::None;
    std::set<int> supported_bins;
    std::set<ImageType> supported_image_types;
    double pixel_size_um = 0.0;
    bool mechanical_shutter = false;
    bool st4_port = false;
    bool has_cooler = false;
    bool is_usb3_host = false;
    bool is_usb3 = false;
    float elec_per_adu = 0.0F;
    int bit_depth = 0;
    bool is_trigger = false;

    // Converts the flat record: ORU_BOOL flags count only when exactly 1
    // (the shutter flag when non-zero), the bin list ends at the first 0, the
    // type list at the first ORU_IMG_END, unknown types are skipped.
    static CameraInfo from_native(const ORU_CAMERA_INFO &record);

    // A few lines of text, each ended by a newline.
    std::string to_string() const;
};

} // namespace tav_oru
