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
    ORU_ERROR_CODE code() const noexcept { return code_; }
    int camera_index() const noexcept { return camera_index_; }

private:
    std::string text_;
    ORU_ERROR_CODE code_;
    int camera_index_;
};

// The flat error code's name ("ORU_ERROR_TIMEOUT"); empty for success and
// for numbers that are no code.
std::string error_code_name(ORU_ERROR_CODE code);

} // namespace tav_oru
