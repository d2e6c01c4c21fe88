// A region of interest that the camera cannot take.
#pragma once

#include <exception>
#include <string>

#include "wrapper/Enums.h"

namespace tav_oru {

class ROIException : public std::exception {
public:
    // value (the width when is_width, else the height) is not a multiple of modulus.
    ROIException(int value, int modulus, bool is_width);
    // width x height is not a multiple of modulus on this camera.
    ROIException(int width, int height, int modulus, const std::string &camera_name);
    explicit ROIException(int bins);
    explicit ROIException(ImageType type);

    const char *what() const noexcept override;

private:
    std::string text_;
};

} // namespace tav_oru
