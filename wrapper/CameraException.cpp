#include "wrapper/CameraException.h"

#include <array>

#include "wrapper/Udev.h"

namespace tav_oru {

namespace {

constexpr std::array<const char *, 18> kErrorCodeNames = {
    "",
    "ORU_ERROR_INVALID_INDEX",
    "ORU_ERROR_ID",
    "ORU_ERROR_INVALID_CONTROL_TYPE",
    "ORU_ERROR_CAMERA_CLOSED",
    "ORU_ERROR_CAMERA_REMOVED",
    "ORU_ERROR_INVALID_PATH",
    "ORU_ERROR_INVALID_FILEFORMAT",
    "ORU_ERROR_INVALID_SIZE",
    "ORU_ERROR_INVALID_IMGTYPE",
    "ORU_ERROR_OUTOF_BOUNDARY",
    "ORU_ERROR_TIMEOUT",
    "ORU_ERROR_INVALID_SEQUENCE",
    "ORU_ERROR_BUFFER_TOO_SMALL",
    "ORU_ERROR_VIDEO_MODE_ACTIVE",
    "ORU_ERROR_EXPOSURE_IN_PROGRESS",
    "ORU_ERROR_GENERAL_ERROR",
    "ORU_ERROR_INVALID_MODE",
};
// Exception texts name codes 1 to 16 only; a later code prints no name.
constexpr int kLastNamedInText = ORU_ERROR_GENERAL_ERROR;

constexpr char kManualAddress[] = "https://tav-oru.example.org/linux-manual";

std::string name_in_text(ORU_ERROR_CODE code)
{
    return static_cast<int>(code) <= kLastNamedInText ? error_code_name(code) : std::string();
}

std::string udev_advice(bool rule_file_created)
{
    std::string text = "ORU Camera:\n";
    text += "the command 'cat ";
    text += internal::kUsbfsMemoryFile;
    text += "' did not return the expected value of '200' "
            "which may indicate incorrect udev rules for the ORU camera.\n";
    if (rule_file_created) {
        text += "A file '99-oru.rules' has been created in the current directory, please run in a "
                "terminal:\n"
                "  sudo install 99-oru.rules /lib/udev/rules.d\n"
                "and reconnect the camera\n";
    } else {
        text += "There has been a failed attempt to create a '99-oru.rules file in the current "
                "directory.'\n"
                "See 'install udev rule' in:\n";
        text += kManualAddress;
    }
    return text;
}

} // namespace

std::string error_code_name(ORU_ERROR_CODE code)
{
    const int value = static_cast<int>(code);
    if (value < 0 || static_cast<std::size_t>(value) >= kErrorCodeNames.size())
        return {};
    return kErrorCodeNames[static_cast<std::size_t>(value)];
}

CameraException::CameraException(const std::string &message, int camera_index, ORU_ERROR_CODE code,
                                 bool udev_issue, const std::string &rules_directory)
    : code_(code), camera_index_(camera_index)
{
    if (udev_issue) {
        text_ = udev_advice(internal::create_udev_file(rules_directory));
        return;
    }
    text_ = "ORU Camera: (camera index: " + std::to_string(camera_index) + ") " + message +
            " (error code: " + std::to_string(static_cast<int>(code)) + ": " + name_in_text(code) +
            ")";
}

const char *CameraException::what() const noexcept
{
    return text_.c_str();
}

} // namespace tav_oru
