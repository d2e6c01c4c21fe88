#include "launcher/PlugFaults.h"

#include <cmath>
#include <cstdlib>
#include <stdexcept>

namespace oru_sim {

namespace {

// A day is far beyond any test run; it keeps the sum of both delays finite.
constexpr double kLongestDelay = 86400.0;

PlugFaults::Seconds seconds(const std::string& text, const std::string& setting)
{
    char* end = nullptr;
    double value = text.empty() ? -1.0 : std::strtod(text.c_str(), &end);
    if (!end || *end != '\0' || !std::isfinite(value) || value < 0.0 || value > kLongestDelay)
        throw std::invalid_argument("bad number of seconds \"" + text + "\" in fault \"" + setting + "\"");
    return PlugFaults::Seconds(value);
}

}  // namespace

bool PlugFaults::apply(const std::string& setting)
{
    size_t equals = setting.find('=');
    std::string name = setting.substr(0, equals);
    std::string value = equals == std::string::npos ? "" : setting.substr(equals + 1);
    if (name == "unplug-after")
        unplugAfter = seconds(value, setting);
    else if (name == "replug-after")
        replugAfter = seconds(value, setting);
    else
        return false;
    return true;
}

void PlugFaults::check() const
{
    if (replugAfter && !unplugAfter)
        throw std::invalid_argument("fault replug-after needs unplug-after on the same camera");
}

std::string PlugFaults::usage()
{
    return "      unplug-after=SECONDS  the camera is pulled out SECONDS after COMMAND starts (e.g.\n"
           "                            2.5): its transfers end with no-device, later calls on open\n"
           "                            handles fail\n"
           "      replug-after=SECONDS  with unplug-after: the camera is plugged in again at the same\n"
           "                            port SECONDS after it was pulled out, powered up afresh\n";
}

}  // namespace oru_sim
