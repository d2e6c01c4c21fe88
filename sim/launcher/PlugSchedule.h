// Carries out the PlugFaults of the launcher's cameras on a thread of its
// own, from its construction on. Destroying it stops what has not happened
// yet; destroy it before the bus.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "launcher/PlugFaults.h"
#include "sim/SimulatedBus.h"

namespace oru_sim {

class PlugSchedule {
public:
    PlugSchedule(SimulatedBus& bus, std::vector<std::pair<SimulatedCamera*, PlugFaults>> cameras);
    ~PlugSchedule();
    PlugSchedule(const PlugSchedule&) = delete;
    PlugSchedule& operator=(const PlugSchedule&) = delete;

private:
    void run();

    SimulatedBus& bus_;
    std::vector<std::pair<SimulatedCamera*, PlugFaults>> cameras_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace oru_sim
