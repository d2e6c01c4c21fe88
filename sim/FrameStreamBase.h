// What the frame streams of both controller families share: a worker thread
// that looks at the camera whenever it is told of a change and whenever its
// last look asked to look again, the controller's streaming flag (0xA9 until
// 0xAA), the epoch that cuts off output on its way, the link's pacing, the
// fault switches and the frame renderer. A stream adds its frame path: what
// one look does (step) and how a frame on its way ends (endOutput).
//
// A stream starts the worker last in its constructor and stops it first in
// its destructor, as the worker calls its step. Safe to use from any thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "sim/BulkDataSource.h"
#include "sim/FrameRenderer.h"
#include "sim/StreamFaults.h"

namespace oru_sim {

class FrameStreamBase : public BulkDataSource {
public:
    ~FrameStreamBase() override;
    FrameStreamBase(const FrameStreamBase&) = delete;
    FrameStreamBase& operator=(const FrameStreamBase&) = delete;

    void streamingStarted(SimulatedCamera& camera) override;
    void streamingStopped(SimulatedCamera& camera) override;
    void transferQueued(SimulatedCamera& camera) override;

    StreamFaults& faults() { return faults_; }

protected:
    using Clock = std::chrono::steady_clock;

    explicit FrameStreamBase(SimulatedCamera& camera);

    void startWorker();
    void stopWorker();
    // Under the lock: look at the camera again now.
    void wake();

    // One look at the camera, under the lock; returns when to look again
    // (none: when told).
    virtual std::optional<Clock::time_point> step(std::unique_lock<std::mutex>& lock) = 0;
    // Under the lock: the frame on its way, if any, ends here; the epoch
    // advances.
    virtual void endOutput() = 0;

    SimulatedCamera& camera_;
    StreamFaults faults_;
    mutable FrameRenderer renderer_;

    mutable std::mutex mutex_;
    uint64_t epoch_ = 0;  // advances whenever output is cut off
    bool controllerStreaming_ = false;
    Clock::time_point linkFreeAt_{};
    std::optional<Clock::time_point> transferDue_;

private:
    void run();

    std::condition_variable wakeUp_;
    bool quit_ = false;
    bool changed_ = false;
    std::thread worker_;
};

}  // namespace oru_sim
