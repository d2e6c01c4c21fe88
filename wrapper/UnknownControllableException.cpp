#include "wrapper/UnknownControllableException.h"

#include <utility>

namespace tav_oru {

UnknownControllableException::UnknownControllableException(const std::string &name,
                                                           std::vector<std::string> known_names)
    : ControllableException(name, true, false, false), known_names_(std::move(known_names))
{
}

} // namespace tav_oru
