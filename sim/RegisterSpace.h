// The register spaces a host reaches through vendor requests.
#pragma once

namespace oru_sim {

enum class RegisterSpace {
    Camera,  // 16-bit camera registers, requests 0xA6 / 0xA7
    Sensor,  // 8-bit sensor registers, requests 0xB6 / 0xB7
    Fpga,    // 8-bit FPGA registers, requests 0xBD / 0xBC
};

}  // namespace oru_sim
