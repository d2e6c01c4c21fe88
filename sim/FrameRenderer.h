// Turns the synthetic sky into the pixel bytes of one frame: exposure and
// sensor gain scale the sky, the black level is added, the FPGA's colour
// gains multiply the R, G, G, B sites, the result is clipped to the ADC depth
// and carried in the high bits of 16-bit little-endian samples (8-bit output:
// their high byte). Factory hot pixels are saturated. Markers are not
// written here.
//
// The sky is kept per geometry and the last frame per parameters, so a
// stream with unchanged settings renders once. Thread-safe.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "sim/FrameSettings.h"
#include "sim/SkyScene.h"

namespace oru_sim {

struct ImageParameters {
    SkyScene::Geometry geometry;
    int bytesPerPixel = 1;
    double exposureUs = 0;
    int gainTenthDb = 0;
    int blackLevel = 0;
    int adcBits = 12;
    std::array<int, 4> colourGains{};

    // The frame `settings` describe, exposed for `exposureUs`.
    static ImageParameters from(const FrameSettings& settings, double exposureUs);
    bool operator==(const ImageParameters& other) const;
};

class FrameRenderer {
public:
    using Pixels = std::shared_ptr<const std::vector<uint8_t>>;

    // Hot pixels (x, y) in full-sensor coordinates.
    explicit FrameRenderer(std::vector<std::pair<int, int>> hotPixels);

    Pixels render(const ImageParameters& parameters);

private:
    const std::vector<std::pair<int, int>> hotPixels_;
    std::mutex mutex_;
    std::unique_ptr<SkyScene> sky_;
    std::optional<ImageParameters> lastParameters_;
    Pixels lastPixels_;
};

}  // namespace oru_sim
