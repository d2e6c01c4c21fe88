// Lets programs outside the simulator watch the simulated cameras: while the
// command runs, a JSON file is rewritten every period (and once more at the
// end) with, per camera, where it is plugged in, whether it streams, its
// sensor temperature, cooler power and the pulses its ST4 port received.
// Each version replaces the last atomically (written beside it, renamed).
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace oru_sim {

class SimulatedBus;

class StateFile {
public:
    StateFile(const SimulatedBus& bus, std::string path, std::chrono::milliseconds period);
    // Writes the last state and stops.
    ~StateFile();
    StateFile(const StateFile&) = delete;
    StateFile& operator=(const StateFile&) = delete;

    // The state as the file holds it.
    std::string describe() const;

private:
    void run();
    void write() const;

    const SimulatedBus& bus_;
    const std::string path_;
    const std::chrono::milliseconds period_;
    const std::chrono::steady_clock::time_point start_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace oru_sim
