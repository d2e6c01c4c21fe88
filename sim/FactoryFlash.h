// What the factory leaves in a camera's SPI flash: the compressed hot-pixel
// map and the ID page.
//
// Hot-pixel image at 0x40000: "ORUD", the image's total length (4 bytes, big
// endian, header included), then (position, value) pairs of the map. The map
// has one bit per sensor pixel, least significant bit first, and is cut into
// 256-byte blocks; a non-zero byte at block offset i is the pair
// ((i mod 16) x 16 + i div 16, byte), and a (0, 0) pair closes every full
// block except one ending the map.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "sim/CameraConfig.h"

namespace oru_sim {

class FactoryFlash {
public:
    static constexpr uint32_t kHotPixelAddress = 0x40000;
    static constexpr uint32_t kHotPixelAreaSize = 0x30000;
    static constexpr uint32_t kIdPageAddress = 0x70000;
    static constexpr uint32_t kIdPageSize = 256;

    struct Area {
        uint32_t address;
        std::vector<uint8_t> bytes;
    };

    // The areas the camera description fills. Throws std::invalid_argument
    // for a hot pixel off the sensor or a map too large for its area.
    static std::vector<Area> contents(const CameraConfig& description);

    static std::vector<uint8_t> hotPixelImage(int width, int height, const std::vector<std::pair<int, int>>& pixels);
    // "ID", the camera ID, the rest of the page erased.
    static std::vector<uint8_t> idPage(const CameraId& id);
};

}  // namespace oru_sim
