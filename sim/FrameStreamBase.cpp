#include "sim/FrameStreamBase.h"

#include "sim/SimulatedCamera.h"

namespace oru_sim {

FrameStreamBase::FrameStreamBase(SimulatedCamera& camera) : camera_(camera), renderer_(camera.config().hotPixels) {}

FrameStreamBase::~FrameStreamBase()
{
    stopWorker();
}

void FrameStreamBase::startWorker()
{
    worker_ = std::thread([this] { run(); });
}

void FrameStreamBase::stopWorker()
{
    if (!worker_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wakeUp_.notify_all();
    worker_.join();
}

void FrameStreamBase::wake()
{
    changed_ = true;
    wakeUp_.notify_all();
}

void FrameStreamBase::streamingStarted(SimulatedCamera&)
{
    std::lock_guard<std::mutex> lock(mutex_);
    controllerStreaming_ = true;
    wake();
}

void FrameStreamBase::streamingStopped(SimulatedCamera&)
{
    std::lock_guard<std::mutex> lock(mutex_);
    controllerStreaming_ = false;
    endOutput();
    wake();
}

void FrameStreamBase::transferQueued(SimulatedCamera&)
{
    std::lock_guard<std::mutex> lock(mutex_);
    wake();
}

void FrameStreamBase::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        changed_ = false;
        std::optional<Clock::time_point> next = step(lock);
        auto told = [this] { return quit_ || changed_; };
        if (next)
            wakeUp_.wait_until(lock, *next, told);
        else
            wakeUp_.wait(lock, told);
    }
}

}  // namespace oru_sim
