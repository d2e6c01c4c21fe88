#include "wrapper/ROIException.h"

namespace tav_oru {

ROIException::ROIException(int value, int modulus, bool is_width)
    : text_(std::string("ROI ") + (is_width ? "width" : "height") + "%" + std::to_string(modulus) +
            " should be 0 (not the case for " + std::to_string(value) + ")")
{
}

ROIException::ROIException(int width, int height, int modulus, const std::string &camera_name)
    : text_("for camera " + camera_name + ", ROI width*height%" + std::to_string(modulus) +
            " should be 0 (not the case for " + std::to_string(width) + "/" +
            std::to_string(height) + ")")
{
}

ROIException::ROIException(int bins)
    : text_("unsupported number of bin(s): " + std::to_string(bins))
{
}

ROIException::ROIException(ImageType type) : text_("unsupported image type: " + to_string(type)) {}

const char *ROIException::what() const noexcept
{
    return text_.c_str();
}

} // namespace tav_oru
