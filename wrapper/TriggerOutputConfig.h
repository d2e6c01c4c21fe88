// How one trigger-output pin of a trigger camera fires.
#pragma once

#include <cstdint>

namespace tav_oru {

struct TriggerOutputConfig {
    bool pin_high = true; // active level
    int32_t delay_us = 0;
    int32_t duration_us = 0; // 0: the output is off
};

} // namespace tav_oru
