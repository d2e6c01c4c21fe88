// Times ST4 guide pulses on a thread of its own, so that a pulse ends on time
// even while the driver's event loop is busy sending an image. One pulse per
// axis at a time: a new pulse on an axis ends the one running there.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "ORUCamera.h"

namespace oru_indi {

class GuidePulser {
public:
    explicit GuidePulser(int cameraId);
    // Ends the pulses still running.
    ~GuidePulser();
    GuidePulser(const GuidePulser &) = delete;
    GuidePulser &operator=(const GuidePulser &) = delete;

    // Returns at once; the line goes on at the thread's next turn.
    void pulse(ORU_GUIDE_DIRECTION direction, uint32_t milliseconds);
    // Ends every pulse now.
    void stop();

private:
    using Clock = std::chrono::steady_clock;
    struct Line {
        std::optional<ORU_GUIDE_DIRECTION> requested; // waits to go on
        uint32_t milliseconds = 0;
        std::optional<ORU_GUIDE_DIRECTION> active; // on until `end`
        Clock::time_point end;
    };
    static constexpr int kAxes = 2; // north-south, east-west

    void run();

    const int m_CameraId;
    std::mutex m_Mutex;
    std::condition_variable m_Wake;
    Line m_Lines[kAxes];
    bool m_StopAll = false;
    bool m_Quit = false;
    std::thread m_Thread;
};

} // namespace oru_indi
