#include "sim/FrameRenderer.h"

#include <algorithm>
#include <cmath>

namespace oru_sim {

namespace {

constexpr int kSites = 4;
constexpr size_t kLevels = 65536;
constexpr double kUnityColourGain = 128.0;

// 16-bit samples are stored as they lie in memory.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "frames are little-endian");

// One 16-bit output sample per sky level and mosaic site.
std::vector<uint16_t> sampleTable(const ImageParameters& p)
{
    int adcBits = std::clamp(p.adcBits, 1, 16);
    double fullScale = (1 << adcBits) - 1;
    double scale =
        fullScale / SkyScene::kLevelsPerFullScale * (p.exposureUs * 1e-6) * std::pow(10.0, p.gainTenthDb / 200.0);
    std::vector<uint16_t> table(kSites * kLevels);
    for (int site = 0; site < kSites; ++site) {
        double colourGain = p.colourGains[static_cast<size_t>(site)] / kUnityColourGain;
        uint16_t* out = table.data() + static_cast<size_t>(site) * kLevels;
        for (size_t level = 0; level < kLevels; ++level) {
            double sample = std::round((p.blackLevel + static_cast<double>(level) * scale) * colourGain);
            out[level] = static_cast<uint16_t>(static_cast<int>(std::clamp(sample, 0.0, fullScale)) << (16 - adcBits));
        }
    }
    return table;
}

template <typename Sample>
void paint(const SkyScene& sky, const std::vector<Sample>& table, uint8_t* frame)
{
    const SkyScene::Geometry& g = sky.geometry();
    const uint16_t* levels = sky.levels().data();
    for (int y = 0; y < g.height; ++y) {
        const Sample* even = table.data() + static_cast<size_t>(SkyScene::site(0, y)) * kLevels;
        const Sample* odd = table.data() + static_cast<size_t>(SkyScene::site(1, y)) * kLevels;
        size_t start = static_cast<size_t>(y) * static_cast<size_t>(g.width);
        const uint16_t* row = levels + start;
        Sample* out = reinterpret_cast<Sample*>(frame) + start;
        int x = 0;
        for (; x + 1 < g.width; x += 2) {
            out[x] = even[row[x]];
            out[x + 1] = odd[row[x + 1]];
        }
        if (x < g.width)
            out[x] = even[row[x]];
    }
}

}  // namespace

ImageParameters ImageParameters::from(const FrameSettings& settings, double exposureUs)
{
    const SensorState& sensor = settings.sensor;
    ImageParameters p;
    p.geometry = SkyScene::Geometry{
        settings.width,    settings.height, sensor.windowX, sensor.windowY, std::max(sensor.binning, 1),
        sensor.colorMosaic};
    p.bytesPerPixel = settings.bytesPerPixel;
    p.exposureUs = exposureUs;
    p.gainTenthDb = sensor.gainTenthDb;
    p.blackLevel = sensor.blackLevel;
    p.adcBits = sensor.adcBits;
    p.colourGains = settings.colourGains;
    return p;
}

bool ImageParameters::operator==(const ImageParameters& other) const
{
    return geometry == other.geometry && bytesPerPixel == other.bytesPerPixel && exposureUs == other.exposureUs &&
           gainTenthDb == other.gainTenthDb && blackLevel == other.blackLevel && adcBits == other.adcBits &&
           colourGains == other.colourGains;
}

FrameRenderer::FrameRenderer(std::vector<std::pair<int, int>> hotPixels) : hotPixels_(std::move(hotPixels)) {}

FrameRenderer::Pixels FrameRenderer::render(const ImageParameters& p)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (lastParameters_ && *lastParameters_ == p)
        return lastPixels_;
    if (!sky_ || !(sky_->geometry() == p.geometry))
        sky_ = std::make_unique<SkyScene>(p.geometry);

    const SkyScene::Geometry& g = sky_->geometry();
    size_t pixels = static_cast<size_t>(g.width) * static_cast<size_t>(g.height);
    auto frame = std::make_shared<std::vector<uint8_t>>(pixels * static_cast<size_t>(p.bytesPerPixel));
    std::vector<uint16_t> samples = sampleTable(p);
    const auto saturated = static_cast<uint16_t>(0xFFFF << (16 - std::clamp(p.adcBits, 1, 16)));
    if (p.bytesPerPixel == 2) {
        paint(*sky_, samples, frame->data());
    } else {
        std::vector<uint8_t> highBytes(samples.size());
        std::transform(samples.begin(), samples.end(), highBytes.begin(),
                       [](uint16_t sample) { return static_cast<uint8_t>(sample >> 8); });
        paint(*sky_, highBytes, frame->data());
    }

    for (const auto& [sensorX, sensorY] : hotPixels_) {
        int dx = sensorX - g.originX;
        int dy = sensorY - g.originY;
        if (dx < 0 || dy < 0)
            continue;
        size_t x = static_cast<size_t>(dx / g.binning);
        size_t y = static_cast<size_t>(dy / g.binning);
        if (x >= static_cast<size_t>(g.width) || y >= static_cast<size_t>(g.height))
            continue;
        size_t at = (y * static_cast<size_t>(g.width) + x) * static_cast<size_t>(p.bytesPerPixel);
        if (p.bytesPerPixel == 2) {
            (*frame)[at] = static_cast<uint8_t>(saturated & 0xFF);
            (*frame)[at + 1] = static_cast<uint8_t>(saturated >> 8);
        } else {
            (*frame)[at] = static_cast<uint8_t>(saturated >> 8);
        }
    }
    lastParameters_ = p;
    lastPixels_ = std::move(frame);
    return lastPixels_;
}

}  // namespace oru_sim
