// The launcher's faults of a camera's cable: it is pulled out a while after
// the command starts and, if asked, plugged in again at its port a while
// after that.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace oru_sim {

struct PlugFaults {
    using Seconds = std::chrono::duration<double>;

    std::optional<Seconds> unplugAfter;  // from the command's start
    std::optional<Seconds> replugAfter;  // from the unplug

    // Takes "unplug-after=SECONDS" or "replug-after=SECONDS" (decimals
    // allowed) and returns true; returns false for any other fault. Throws
    // std::invalid_argument for a bad number.
    bool apply(const std::string& setting);
    // Throws std::invalid_argument when a replug has no unplug before it.
    void check() const;
    static std::string usage();
};

}  // namespace oru_sim
