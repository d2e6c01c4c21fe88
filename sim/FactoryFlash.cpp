#include "sim/FactoryFlash.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace oru_sim {

namespace {

constexpr size_t kBlockSize = 256;

}  // namespace

std::vector<uint8_t> FactoryFlash::hotPixelImage(int width, int height, const std::vector<std::pair<int, int>>& pixels)
{
    size_t pixelCount = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<uint8_t> map(pixelCount / 8, 0);
    for (const auto& [x, y] : pixels) {
        size_t bit = static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x);
        if (x < 0 || y < 0 || x >= width || y >= height || bit / 8 >= map.size())
            throw std::invalid_argument("hot pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is off the " +
                                        std::to_string(width) + " x " + std::to_string(height) + " sensor");
        map[bit / 8] |= static_cast<uint8_t>(1u << (bit % 8));
    }

    std::vector<uint8_t> image{'O', 'R', 'U', 'D', 0, 0, 0, 0};
    for (size_t block = 0; block < map.size(); block += kBlockSize) {
        size_t end = std::min(block + kBlockSize, map.size());
        for (size_t i = block; i < end; ++i) {
            if (map[i] == 0)
                continue;
            size_t offset = i - block;
            image.push_back(static_cast<uint8_t>((offset % 16) * 16 + offset / 16));
            image.push_back(map[i]);
        }
        if (end - block == kBlockSize && end != map.size())
            image.insert(image.end(), {0, 0});
    }
    if (image.size() > kHotPixelAreaSize)
        throw std::invalid_argument("hot-pixel map of " + std::to_string(image.size()) +
                                    " bytes does not fit the flash area");
    uint32_t length = static_cast<uint32_t>(image.size());
    for (size_t i = 0; i < 4; ++i)
        image[4 + i] = static_cast<uint8_t>(length >> (24 - 8 * i));
    return image;
}

std::vector<uint8_t> FactoryFlash::idPage(const CameraId& id)
{
    std::vector<uint8_t> page(kIdPageSize, 0xFF);
    page[0] = 'I';
    page[1] = 'D';
    std::copy(id.begin(), id.end(), page.begin() + 2);
    return page;
}

std::vector<FactoryFlash::Area> FactoryFlash::contents(const CameraConfig& description)
{
    std::vector<Area> areas;
    if (description.sensorWidth > 0 && description.sensorHeight > 0)
        areas.push_back({kHotPixelAddress,
                         hotPixelImage(description.sensorWidth, description.sensorHeight, description.hotPixels)});
    if (description.flashCameraId)
        areas.push_back({kIdPageAddress, idPage(*description.flashCameraId)});
    return areas;
}

}  // namespace oru_sim
