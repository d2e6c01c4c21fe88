#include "launcher/StateFile.h"

#include <cstdio>
#include <sstream>
#include <utility>
#include <vector>

#include "sim/CameraBoard.h"
#include "sim/GuidePort.h"
#include "sim/SimulatedBus.h"
#include "sim/SimulatedCamera.h"

namespace oru_sim {

namespace {

constexpr const char* kDirections[GuidePort::kLines] = {"north", "south", "east", "west"};

double secondsBetween(std::chrono::steady_clock::time_point from, std::chrono::steady_clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

StateFile::StateFile(const SimulatedBus& bus, std::string path, std::chrono::milliseconds period)
    : bus_(bus),
      path_(std::move(path)),
      period_(period),
      start_(std::chrono::steady_clock::now())
{
    write();
    thread_ = std::thread([this] { run(); });
}

StateFile::~StateFile()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
    write();
}

void StateFile::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, period_, [this] { return stop_; })) {
        lock.unlock();
        write();
        lock.lock();
    }
}

std::string StateFile::describe() const
{
    std::ostringstream out;
    out << "{\"cameras\": [";
    const std::vector<SimulatedCamera*> cameras = bus_.cameras();
    for (size_t i = 0; i < cameras.size(); ++i) {
        const SimulatedCamera& camera = *cameras[i];
        out << (i ? ", " : "") << "{\"product_id\": " << camera.config().productId << ", \"port\": \""
            << camera.address().sysfsName() << "\", \"plugged_in\": " << (camera.pluggedIn() ? "true" : "false")
            << ", \"streaming\": " << (camera.streaming() ? "true" : "false")
            << ", \"sensor_temperature\": " << camera.board().sensorTemperature()
            << ", \"cooler_power\": " << camera.board().coolerPowerFraction() << ", \"guide_pulses\": [";
        const std::vector<GuidePulse> pulses = camera.guidePort().pulses();
        for (size_t p = 0; p < pulses.size(); ++p) {
            const GuidePulse& pulse = pulses[p];
            out << (p ? ", " : "") << "{\"direction\": \"" << kDirections[pulse.direction]
                << "\", \"start_s\": " << secondsBetween(start_, pulse.start) << ", \"duration_ms\": ";
            if (pulse.stop)
                out << secondsBetween(pulse.start, *pulse.stop) * 1000.0;
            else
                out << "null";
            out << "}";
        }
        out << "]}";
    }
    out << "]}\n";
    return out.str();
}

void StateFile::write() const
{
    const std::string text = describe();
    const std::string partial = path_ + ".part";
    FILE* file = std::fopen(partial.c_str(), "w");
    if (!file) {
        std::perror(partial.c_str());
        return;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written || std::rename(partial.c_str(), path_.c_str()) != 0)
        std::perror(path_.c_str());
}

}  // namespace oru_sim
