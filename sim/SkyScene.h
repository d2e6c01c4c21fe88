// A deterministic synthetic night sky as the sensor sees it: a smooth
// background and Gaussian stars, placed per 256-pixel tile of the sensor from
// a fixed seed, so that every window and binning shows the same sky (a few
// hundred stars on a large sensor). On a colour sensor the RGGB sites see a
// tinted background and stars of different colours.
//
// Brightness is kept as 16-bit levels per frame pixel; one level is
// 1 / kLevelsPerFullScale of the ADC's full scale per second of exposure at
// unity gain.
#pragma once

#include <cstdint>
#include <vector>

namespace oru_sim {

class SkyScene {
public:
    static constexpr double kLevelsPerFullScale = 8192.0;

    struct Geometry {
        int width = 0;  // frame pixels
        int height = 0;
        int originX = 0;  // sensor pixel under frame pixel (0, 0)
        int originY = 0;
        int binning = 1;  // sensor pixels per frame pixel, each way
        bool colourMosaic = false;

        bool operator==(const Geometry& other) const;
    };

    explicit SkyScene(const Geometry& geometry);

    const Geometry& geometry() const { return geometry_; }
    // Row by row, width × height levels.
    const std::vector<uint16_t>& levels() const { return levels_; }

    // Mosaic site of a frame pixel: 0 R, 1 and 2 G, 3 B.
    static int site(int x, int y) { return ((y & 1) << 1) | (x & 1); }

private:
    void paintBackground();
    void paintStars();

    Geometry geometry_;
    std::vector<uint16_t> levels_;
};

}  // namespace oru_sim
