#include "wrapper/Enums.h"

#include <array>

namespace tav_oru {

namespace {

constexpr std::array<const char *, 4> kImageTypeNames = {"raw8", "rgb24", "raw16", "y8"};
constexpr std::array<const char *, 5> kBayerPatternNames = {"None", "RG", "BG", "GR", "GB"};

template <std::size_t N>
std::string name_or_empty(const std::array<const char *, N> &names, int32_t value)
{
    if (value < 0 || static_cast<std::size_t>(value) >= N)
        return {};
    return names[static_cast<std::size_t>(value)];
}

} // namespace

std::string to_string(ImageType type)
{
    return name_or_empty(kImageTypeNames, static_cast<int32_t>(type));
}

std::string to_string(BayerPattern pattern)
{
    return name_or_empty(kBayerPatternNames, static_cast<int32_t>(pattern));
}

ORU_IMG_TYPE get_native(ImageType type)
{
    return static_cast<ORU_IMG_TYPE>(type);
}

ORU_CAMERA_MODE get_native(CameraMode mode)
{
    return static_cast<ORU_CAMERA_MODE>(mode);
}

ORU_GUIDE_DIRECTION get_native(GuideDirection direction)
{
    return static_cast<ORU_GUIDE_DIRECTION>(direction);
}

ORU_TRIG_OUTPUT get_native(TriggerOutput pin)
{
    return static_cast<ORU_TRIG_OUTPUT>(pin);
}

} // namespace tav_oru
