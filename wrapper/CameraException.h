// A failed flat-API call of a camera, or the system's udev set-up found wanting.
#pragma once

#include <exception>
#include <string>

#include "api/ORUCamera.h"

namespace tav_oru {

class CameraException : public std::exception {
public:
    // With udev_issue true, index and code are not reported: the constructor
    // writes the udev rule file into rules_directory and the text explains
    // how to install it (or that writing it failed).
    CameraException(const std::string &message, int camera_index, ORU_ERROR_CODE code,
                    bool udev_issue = false, const std::string &rules_directory = ".");

    const char *what() const noexcept override;

private:
    std::string text_;
};

} // namespace tav_oru
