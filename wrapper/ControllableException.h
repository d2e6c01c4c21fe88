// A control that does not exist, cannot be changed, or got a value out of range.
#pragma once

#include <exception>
#include <string>

namespace tav_oru {

class ControllableException : public std::exception {
public:
    ControllableException(const std::string &name, long value, long min, long max);
    // Callers set exactly one flag.
    ControllableException(const std::string &name, bool no_such_controllable, bool not_writable,
                          bool no_auto_mode);

    const char *what() const noexcept override;
    const std::string &name() const noexcept { return name_; }

private:
    std::string name_;
    std::string text_;
};

} // namespace tav_oru
