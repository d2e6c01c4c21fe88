// The model's reference settings of gain and offset.
#pragma once

namespace tav_oru {

struct GainOffsetPresets {
    int offset_highest_dr = 0; // offset for the highest dynamic range
    int offset_unity_gain = 0; // offset at unity gain
    int gain_lowest_rn = 0;    // gain with the lowest read noise
    int offset_lowest_rn = 0;  // offset that goes with that gain
    int low_gain = 0;
    int medium_gain = 0;
    int high_gain = 0;
    int high_offset = 0; // offset that goes with the high gain
};

} // namespace tav_oru
