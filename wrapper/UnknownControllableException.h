// A control name the camera does not list, with the names it does list.
#pragma once

#include <string>
#include <vector>

#include "wrapper/ControllableException.h"

namespace tav_oru {

class UnknownControllableException : public ControllableException {
public:
    // The text is that of ControllableException(name, true, false, false).
    UnknownControllableException(const std::string &name, std::vector<std::string> known_names);

    // The camera's control names, in name order.
    const std::vector<std::string> &known_names() const noexcept { return known_names_; }

private:
    std::vector<std::string> known_names_;
};

} // namespace tav_oru
