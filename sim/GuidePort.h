// The ST4 guide port: four lines (north, south, east, west) that requests
// 0xB0 and 0xB1 switch on and off. Every pulse is recorded for tests.
//
// Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace oru_sim {

struct GuidePulse {
    using Clock = std::chrono::steady_clock;

    int direction = 0;  // 0 north, 1 south, 2 east, 3 west
    Clock::time_point start;
    std::optional<Clock::time_point> stop;  // unset while the line is on
    int repeatedOns = 0;                    // further "on" requests while the line was already on
};

class GuidePort {
public:
    static constexpr int kLines = 4;

    // False for a direction the port does not have.
    bool on(uint16_t direction);
    bool off(uint16_t direction);
    // The line is off at power-on: a pulse still on ends now.
    void powerCycle();

    std::vector<GuidePulse> pulses() const;
    void clearPulses();

private:
    GuidePulse* activePulse(int direction);  // with mutex_ held

    mutable std::mutex mutex_;
    std::vector<GuidePulse> pulses_;
};

}  // namespace oru_sim
