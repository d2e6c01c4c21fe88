#include "launcher/PlugSchedule.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <functional>

namespace oru_sim {

namespace {

using Clock = std::chrono::steady_clock;

struct Step {
    Clock::time_point at;
    std::function<void()> action;
};

}  // namespace

PlugSchedule::PlugSchedule(SimulatedBus& bus, std::vector<std::pair<SimulatedCamera*, PlugFaults>> cameras)
    : bus_(bus),
      cameras_(std::move(cameras))
{
    bool any = std::any_of(cameras_.begin(), cameras_.end(),
                           [](const auto& camera) { return camera.second.unplugAfter.has_value(); });
    if (any)
        thread_ = std::thread(&PlugSchedule::run, this);
}

PlugSchedule::~PlugSchedule()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    stopped_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void PlugSchedule::run()
{
    Clock::time_point start = Clock::now();
    std::vector<Step> steps;
    for (auto& [camera, faults] : cameras_) {
        if (!faults.unplugAfter)
            continue;
        Clock::time_point unplugAt = start + std::chrono::duration_cast<Clock::duration>(*faults.unplugAfter);
        steps.push_back({unplugAt, [this, camera = camera] { bus_.unplug(*camera); }});
        if (faults.replugAfter)
            steps.push_back({unplugAt + std::chrono::duration_cast<Clock::duration>(*faults.replugAfter),
                             [this, camera = camera] { bus_.replug(*camera); }});
    }
    std::stable_sort(steps.begin(), steps.end(), [](const Step& a, const Step& b) { return a.at < b.at; });

    std::unique_lock<std::mutex> lock(mutex_);
    for (const Step& step : steps) {
        if (stopped_.wait_until(lock, step.at, [this] { return stop_; }))
            return;
        try {
            step.action();
        } catch (const std::exception& error) {
            std::fprintf(stderr, "oru-sim: %s\n", error.what());
        }
    }
}

}  // namespace oru_sim
