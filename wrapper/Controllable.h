// A snapshot of one camera control: its limits and its value when read.
// Changing the fields changes nothing on the camera.
#pragma once

#include <cstdint>
#include <string>

namespace tav_oru {

struct Controllable {
    std::string name;
    int32_t min_value = 0;
    int32_t max_value = 0;
    int32_t default_value = 0;
    int32_t value = 0;
    bool is_writable = false;
    bool is_auto = false;
    bool supports_auto = false;
};

} // namespace tav_oru
