#include "wrapper/ROI.h"

#include "wrapper/ROIException.h"

namespace tav_oru {

namespace {

// The legacy USB2 family's bare model designation; only that exact name on a
// USB2 link has the area rule.
constexpr char kLegacyUsb2Designation[] = "ORU120";
constexpr int kLegacyUsb2AreaModulus = 1024;
constexpr int kWidthModulus = 8;
constexpr int kHeightModulus = 2;

int bytes_per_pixel(ImageType type)
{
    switch (type) {
    case ImageType::raw8:
    case ImageType::y8: return 1;
    case ImageType::raw16: return 2;
    case ImageType::rgb24: return 3;
    }
    return 0;
}

} // namespace

void ROI::valid(const CameraInfo &info) const
{
    if (width % kWidthModulus != 0)
        throw ROIException(width, kWidthModulus, true);
    if (height % kHeightModulus != 0)
        throw ROIException(height, kHeightModulus, false);
    if (info.name == kLegacyUsb2Designation && !info.is_usb3 &&
        (static_cast<int64_t>(width) * height) % kLegacyUsb2AreaModulus != 0)
        throw ROIException(width, height, kLegacyUsb2AreaModulus, info.name);
    if (info.supported_bins.count(bins) == 0)
        throw ROIException(bins);
    if (info.supported_image_types.count(type) == 0)
        throw ROIException(type);
}

int64_t ROI::frame_size() const
{
    return static_cast<int64_t>(width) * height * bytes_per_pixel(type);
}

} // namespace tav_oru
