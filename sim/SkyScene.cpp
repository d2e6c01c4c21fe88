#include "sim/SkyScene.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace oru_sim {

namespace {

constexpr int kTileSize = 256;  // sensor pixels
constexpr uint64_t kSeed = 0x0A57'0C0F'FEE5'5EEDull;
constexpr double kBackground = 0.02;  // full scale per second
// The mosaic's sensitivity per site (R, G, G, B): weaker in red and blue, so
// that a camera's default white balance gives a nearly neutral picture.
constexpr std::array<double, 4> kSiteResponse{0.92, 1.0, 1.0, 0.55};
// The night sky's own colour, slightly blue.
constexpr std::array<double, 4> kSkyColour{0.95, 1.0, 1.0, 1.1};
constexpr double kFaintestStar = 0.05;  // peak, full scale per second
constexpr double kBrightestStar = 20.0;
constexpr double kNarrowestStar = 0.9;  // sigma, sensor pixels
constexpr double kWidestStar = 2.2;
constexpr double kStarReach = 4.0;  // sigmas painted around a star

// splitmix64: a well-mixed hash of one 64-bit word.
uint64_t mix(uint64_t value)
{
    value += 0x9E3779B97F4A7C15ull;
    value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
    value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
    return value ^ (value >> 31);
}

// Uniform numbers in [0, 1) drawn from one tile's seed.
class TileRandom {
public:
    TileRandom(int tileX, int tileY)
        : state_(
              mix(kSeed ^ (static_cast<uint64_t>(static_cast<uint32_t>(tileX)) << 32) ^ static_cast<uint32_t>(tileY)))
    {
    }
    double next()
    {
        state_ = mix(state_);
        return static_cast<double>(state_ >> 11) * (1.0 / 9007199254740992.0);
    }

private:
    uint64_t state_;
};

struct Star {
    double x, y;                   // sensor pixels
    double peak;                   // full scale per second
    double sigma;                  // sensor pixels
    std::array<double, 4> colour;  // per site
};

std::vector<Star> tileStars(int tileX, int tileY)
{
    TileRandom random(tileX, tileY);
    double draw = random.next();
    int count = draw < 0.4 ? 0 : draw < 0.8 ? 1 : 2;
    std::vector<Star> stars;
    for (int i = 0; i < count; ++i) {
        Star star;
        star.x = (tileX + random.next()) * kTileSize;
        star.y = (tileY + random.next()) * kTileSize;
        star.peak = kFaintestStar * std::pow(kBrightestStar / kFaintestStar, random.next());
        star.sigma = kNarrowestStar + (kWidestStar - kNarrowestStar) * random.next();
        double warmth = random.next();  // 0 blue-white .. 1 red
        star.colour = {kSiteResponse[0] * (0.6 + 0.8 * warmth), 1.0, 1.0, kSiteResponse[3] * (1.4 - 0.8 * warmth)};
        stars.push_back(star);
    }
    return stars;
}

int floorDiv(int value, int divisor)
{
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

}  // namespace

bool SkyScene::Geometry::operator==(const Geometry& other) const
{
    return width == other.width && height == other.height && originX == other.originX && originY == other.originY &&
           binning == other.binning && colourMosaic == other.colourMosaic;
}

SkyScene::SkyScene(const Geometry& geometry)
    : geometry_(geometry),
      levels_(static_cast<size_t>(std::max(geometry.width, 0)) * static_cast<size_t>(std::max(geometry.height, 0)))
{
    geometry_.binning = std::max(geometry_.binning, 1);
    paintBackground();
    paintStars();
}

void SkyScene::paintBackground()
{
    const Geometry& g = geometry_;
    // A gentle gradient across the sensor, separable into row and column terms.
    std::vector<double> column(static_cast<size_t>(g.width));
    for (int x = 0; x < g.width; ++x)
        column[static_cast<size_t>(x)] = 0.25 * std::sin((g.originX + x * g.binning) / 1800.0);
    for (int y = 0; y < g.height; ++y) {
        double row = 1.0 + 0.15 * std::cos((g.originY + y * g.binning) / 1300.0 + 0.7);
        std::array<double, 2> tint{1.0, 1.0};
        if (g.colourMosaic)
            tint = {kSiteResponse[static_cast<size_t>(site(0, y))] * kSkyColour[static_cast<size_t>(site(0, y))],
                    kSiteResponse[static_cast<size_t>(site(1, y))] * kSkyColour[static_cast<size_t>(site(1, y))]};
        uint16_t* out = levels_.data() + static_cast<size_t>(y) * static_cast<size_t>(g.width);
        for (int x = 0; x < g.width; ++x) {
            double flux = kBackground * (row + column[static_cast<size_t>(x)]) * tint[static_cast<size_t>(x & 1)];
            out[x] = static_cast<uint16_t>(std::lround(flux * kLevelsPerFullScale));
        }
    }
}

void SkyScene::paintStars()
{
    const Geometry& g = geometry_;
    if (g.width <= 0 || g.height <= 0)
        return;
    // Stars whose light reaches the frame: those of every tile the frame
    // touches, with a margin for the wings of neighbours.
    int reach = static_cast<int>(std::ceil(kStarReach * kWidestStar));
    int firstTileX = floorDiv(g.originX - reach, kTileSize);
    int lastTileX = floorDiv(g.originX + g.width * g.binning + reach, kTileSize);
    int firstTileY = floorDiv(g.originY - reach, kTileSize);
    int lastTileY = floorDiv(g.originY + g.height * g.binning + reach, kTileSize);
    for (int tileY = firstTileY; tileY <= lastTileY; ++tileY) {
        for (int tileX = firstTileX; tileX <= lastTileX; ++tileX) {
            for (const Star& star : tileStars(tileX, tileY)) {
                // Frame pixel (x, y) samples the sky at sensor (origin + x × binning).
                double centreX = (star.x - g.originX) / g.binning;
                double centreY = (star.y - g.originY) / g.binning;
                double sigma = star.sigma / g.binning;
                double box = kStarReach * sigma;
                int x0 = std::max(0, static_cast<int>(std::floor(centreX - box)));
                int x1 = std::min(g.width - 1, static_cast<int>(std::ceil(centreX + box)));
                int y0 = std::max(0, static_cast<int>(std::floor(centreY - box)));
                int y1 = std::min(g.height - 1, static_cast<int>(std::ceil(centreY + box)));
                double spread = -0.5 / (sigma * sigma);
                for (int y = y0; y <= y1; ++y) {
                    uint16_t* row = levels_.data() + static_cast<size_t>(y) * static_cast<size_t>(g.width);
                    for (int x = x0; x <= x1; ++x) {
                        double dx = x - centreX;
                        double dy = y - centreY;
                        double colour = g.colourMosaic ? star.colour[static_cast<size_t>(site(x, y))] : 1.0;
                        double flux = star.peak * colour * std::exp(spread * (dx * dx + dy * dy));
                        double level = row[x] + flux * kLevelsPerFullScale;
                        row[x] = static_cast<uint16_t>(std::min(65535.0, std::round(level)));
                    }
                }
            }
        }
    }
}

}  // namespace oru_sim
