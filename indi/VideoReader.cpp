#include "VideoReader.h"

#include <utility>

#include "ORUCamera.h"

namespace oru_indi {

namespace {

// Short reads keep the thread quick to stop.
constexpr int kReadWaitMs = 200;
// Frames may be late by this much beyond two exposures before the camera
// counts as silent (a start-up, a dropped frame, a busy USB bus).
constexpr std::chrono::seconds kSilenceAllowance{5};

} // namespace

VideoReader::VideoReader(int cameraId, size_t frameBytes, std::chrono::microseconds exposure,
                         FrameSink sink)
    : m_CameraId(cameraId), m_Frame(frameBytes), m_Sink(std::move(sink)),
      m_ExposureUs(exposure.count())
{
    m_Thread = std::thread([this] { run(); });
}

VideoReader::~VideoReader()
{
    m_Stop = true;
    m_Thread.join();
}

void VideoReader::setExposure(std::chrono::microseconds exposure)
{
    m_ExposureUs = exposure.count();
}

bool VideoReader::takeFailure()
{
    return m_Failed.exchange(false);
}

void VideoReader::run()
{
    using Clock = std::chrono::steady_clock;
    Clock::time_point lastFrame = Clock::now();
    while (!m_Stop) {
        const ORU_ERROR_CODE result = ORUGetVideoData(
            m_CameraId, m_Frame.data(), static_cast<int32_t>(m_Frame.size()), kReadWaitMs);
        const Clock::time_point now = Clock::now();
        if (result == ORU_SUCCESS) {
            lastFrame = now;
            ++m_Frames;
            m_Sink(m_Frame.data(), m_Frame.size());
            continue;
        }
        if (result != ORU_ERROR_TIMEOUT) {
            // Refused at once: wait a read's time rather than spin.
            m_Failed = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(kReadWaitMs));
            continue;
        }
        if (now - lastFrame >
            2 * std::chrono::microseconds(m_ExposureUs.load()) + kSilenceAllowance) {
            m_Failed = true;
            lastFrame = now;
        }
    }
}

} // namespace oru_indi
