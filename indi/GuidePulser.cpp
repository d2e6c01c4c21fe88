#include "GuidePulser.h"

namespace oru_indi {

namespace {

int AxisOf(ORU_GUIDE_DIRECTION direction)
{
    return direction == ORU_GUIDE_NORTH || direction == ORU_GUIDE_SOUTH ? 0 : 1;
}

} // namespace

GuidePulser::GuidePulser(int cameraId) : m_CameraId(cameraId)
{
    m_Thread = std::thread([this] { run(); });
}

GuidePulser::~GuidePulser()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Quit = true;
    }
    m_Wake.notify_all();
    m_Thread.join();
}

void GuidePulser::pulse(ORU_GUIDE_DIRECTION direction, uint32_t milliseconds)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        Line &line = m_Lines[AxisOf(direction)];
        line.requested = direction;
        line.milliseconds = milliseconds;
    }
    m_Wake.notify_all();
}

void GuidePulser::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_StopAll = true;
    }
    m_Wake.notify_all();
}

void GuidePulser::run()
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
        // The camera is called without the lock held, so that a new request
        // never waits for a USB transfer.
        const bool quit = m_Quit;
        const bool stopAll = quit || m_StopAll;
        m_StopAll = false;
        for (Line &line : m_Lines) {
            const Clock::time_point now = Clock::now();
            if (line.active && (stopAll || line.requested || now >= line.end)) {
                const ORU_GUIDE_DIRECTION direction = *line.active;
                line.active.reset();
                lock.unlock();
                ORUPulseGuideOff(m_CameraId, direction);
                lock.lock();
            }
            if (stopAll)
                line.requested.reset();
            if (line.requested) {
                const ORU_GUIDE_DIRECTION direction = *line.requested;
                const uint32_t milliseconds = line.milliseconds;
                line.requested.reset();
                lock.unlock();
                ORUPulseGuideOn(m_CameraId, direction);
                const Clock::time_point end =
                    Clock::now() + std::chrono::milliseconds(milliseconds);
                lock.lock();
                line.active = direction;
                line.end = end;
            }
        }
        if (quit)
            return;
        std::optional<Clock::time_point> next;
        for (const Line &line : m_Lines)
            if (line.active && (!next || line.end < *next))
                next = line.end;
        const auto due = [this] {
            return m_Quit || m_StopAll || m_Lines[0].requested || m_Lines[1].requested;
        };
        if (next)
            m_Wake.wait_until(lock, *next, due);
        else
            m_Wake.wait(lock, due);
    }
}

} // namespace oru_indi
