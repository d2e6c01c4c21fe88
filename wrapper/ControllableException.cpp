#include "wrapper/ControllableException.h"

namespace tav_oru {

ControllableException::ControllableException(const std::string &name, long value, long min,
                                             long max)
    : name_(name), text_("out of bound value for " + name + ": " + std::to_string(value) +
                         "is not in the range " + std::to_string(min) + "; " + std::to_string(max))
{
}

ControllableException::ControllableException(const std::string &name, bool no_such_controllable,
                                             bool not_writable, bool no_auto_mode)
    : name_(name)
{
    const std::string change_failed = "failed to change the value of " + name + ": ";
    if (no_such_controllable)
        text_ += "no such controllable: " + name;
    if (not_writable)
        text_ += change_failed + "not writable";
    if (no_auto_mode)
        text_ += change_failed + "to auto-mode (not supported)";
}

const char *ControllableException::what() const noexcept
{
    return text_.c_str();
}

} // namespace tav_oru
