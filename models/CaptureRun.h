// One run of a model's working loop: the counters and timers it keeps, and
// the steps every model's working loop takes alike: the start-up and exit
// around the bulk transfers, the frames queued on them, the time limit of a
// snap, what follows a frame the ring accepted, the automatic bandwidth that
// bursts of lost frames lower, and the exposure status the run leaves.
//
// Model is a CCameraBase descendant with these public members:
//   int GetRealImageSize();          bytes of one frame as the camera sends it
//   bool StartSensorStreaming();
//   bool StopSensorStreaming();
// Each model class has runs of its own, and so its own record of whether
// automatic bandwidth was on.
//
// Thread safety: a run lives on the camera's working thread.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

#include "engine/CCameraBase.h"
#include "models/ModelFamily.h"
#include "transport/FX3Protocol.h"
#include "transport/SectionLock.h"

template <typename Model>
class CaptureRun {
public:
    // Frames come from endpoint in pieces of pieceBytes.
    CaptureRun(Model &camera, std::atomic<bool> *running, uint8_t endpoint, int pieceBytes)
        : m_Camera(camera), m_pRunning(running), m_ucEndpoint(endpoint), m_iPieceBytes(pieceBytes)
    {
    }

    // Resets the device and lets it settle for settleMs, stops any stream,
    // sizes the frame from one consistent ROI, empties the ring and starts
    // the automatic controls of video. False, with the exposure status
    // published, when the camera has no frame buffers or the frame would not
    // fit them.
    bool Prepare(unsigned settleMs);
    // Once the model has started the controller's stream: starts the sensor
    // and the transfers.
    void Start();
    // Stops the sensor, the stream, the transfers and the automatic
    // controls, and publishes the exposure status.
    void Finish();

    // Until stopped, or the camera is pulled out.
    bool Running() const { return *m_pRunning && !m_Camera.IsRemoved(); }
    // A snap not done within its retry time fails; true ends the run.
    bool SnapTimedOut();
    // After each transfer: while automatic bandwidth is off, its next switch
    // on starts a new regulation window.
    void AfterTransfer();

    // Frames queued on the transfers, which fill them in place: ring slots,
    // or the spare buffer (the camera's frame buffer) while the ring has none free.
    // QueueFrames keeps up to depth frames queued (fewer when the spare is
    // taken too); each buffer starts with its first and last four bytes
    // cleared, so that what a short frame leaves in it never passes for a
    // frame's markers. WaitFrame takes the oldest as waitAsyncFrame does.
    // Publish hands a whole frame to the ring: 0 accepted, 1 refused (it
    // came into the spare and the ring is still full), 2 rejected by the
    // checks. Release gives back a buffer that got no whole frame;
    // CancelFrames gives up every queued frame.
    void QueueFrames(int depth);
    uint8_t *WaitFrame(uint32_t waitMs, uint32_t pollMs, int *received, bool *cut);
    int Publish(uint8_t *buffer, uint16_t headMarker, int headPos, uint16_t tailMarker, int tailPos,
                int counterPos0, int counterPos1);
    void Release(uint8_t *buffer);
    void CancelFrames();
    // After a frame the ring accepted: a snap succeeds, and false ends the
    // run; video regulates exposure, gain and white balance of long frames
    // on this thread.
    bool FrameDone();
    // Within the first 20 s of automatic bandwidth, lowers the bandwidth
    // when bursts of lost frames come close together; false while
    // automatic bandwidth does not regulate.
    bool RegulateBandwidth();

    // Bytes of one frame as the camera sends it, from the ROI as one whole;
    // 0 when that would not fit the receive buffer.
    static int FrameSize(Model &camera)
    {
        SectionLock roi(camera.m_csRoi);
        const int bytes = camera.GetRealImageSize();
        return bytes <= camera.FrameBufferBytes() ? bytes : 0;
    }

    Model &m_Camera;
    std::atomic<bool> *m_pRunning;
    uint8_t m_ucEndpoint;
    int m_iPieceBytes;

    bool m_bSnap = false;
    int m_iFrameSize = 0;
    int m_iPieces = 0;
    uint32_t m_lSnapStart = 0;
    uint32_t m_lLastBad = 0;
    uint32_t m_lAutoStart = 0;
    uint32_t m_lWaitMs = 0;
    int m_iBad = 0;                                       // frames lost since the last regulation
    uint8_t *m_pQueued[CCameraFX3::kAsyncFrameSets] = {}; // oldest first
    int m_iQueued = 0;

private:
    // A snap retries a failed transfer only this long after it started.
    static constexpr uint32_t kSnapRetryMs = 1000;
    // Frames at least this long are regulated on the working thread.
    static constexpr uint64_t kAutoOnLoopUs = 100000;
    static constexpr uint32_t kAutoBandwidthWindowMs = 19999;
    static constexpr uint32_t kAutoBandwidthEventMs = 4999;
    static constexpr int kAutoBandwidthStep = 4;

    void PublishExposureStatus();

    // Whether automatic bandwidth was on at the last pass of any camera of
    // this model.
    static std::atomic<bool> s_bLastAutoBandwidth;
};

template <typename Model>
std::atomic<bool> CaptureRun<Model>::s_bLastAutoBandwidth{false};

template <typename Model>
bool CaptureRun<Model>::Prepare(unsigned settleMs)
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    m_bSnap = cam.GetCaptureState().IsSnap();
    m_lLastBad = m_lAutoStart = GetTickCount();
    cam.ResetDevice();
    ModelFamily::SleepMs(settleMs);
    cam.SendCMD(FX3Request::kStopStreaming);
    cam.StopSensorStreaming();
    cam.DbgPrint2(LogSeverity::Info, tag, "working thread begin!\n");

    m_iFrameSize = FrameSize(cam);
    cam.GetCaptureState().ResetDroppedFrames();
    if (cam.GetCirBuf() == nullptr || cam.GetFrameBuf() == nullptr || m_iFrameSize <= 0) {
        cam.DbgPrint2(LogSeverity::Error, tag, "no frame buffers\n");
        PublishExposureStatus();
        return false;
    }
    cam.GetCirBuf()->ResetCirBuff();
    m_iPieces = (m_iFrameSize + m_iPieceBytes - 1) / m_iPieceBytes;
    if (!m_bSnap) {
        cam.StoreAutoExpLimit(static_cast<int>(kAutoOnLoopUs));
        cam.StartAutoControlThr();
    }
    return true;
}

template <typename Model>
void CaptureRun<Model>::Start()
{
    Model &cam = m_Camera;
    cam.StartSensorStreaming();
    cam.ResetEndPoint(m_ucEndpoint);
    cam.initAsyncXfer(m_iFrameSize, m_iPieces, m_iPieceBytes, m_ucEndpoint, cam.GetFrameBuf());
    m_lSnapStart = GetTickCount();
}

template <typename Model>
void CaptureRun<Model>::Finish()
{
    Model &cam = m_Camera;
    CancelFrames();
    cam.GetCaptureState().ResetDroppedFrames();
    cam.StopSensorStreaming();
    cam.SendCMD(FX3Request::kStopStreaming);
    cam.ResetEndPoint(m_ucEndpoint);
    if (!m_bSnap)
        cam.GetCirBuf()->ResetCirBuff();
    cam.releaseAsyncXfer();
    if (!m_bSnap)
        cam.StopAutoControlThr();
    cam.DbgPrint2(LogSeverity::Info, "WorkingFunc", "working thread exit!\n");
    PublishExposureStatus();
}

template <typename Model>
void CaptureRun<Model>::PublishExposureStatus()
{
    m_Camera.GetCaptureState().PublishExposureStatus();
}

template <typename Model>
bool CaptureRun<Model>::SnapTimedOut()
{
    if (!m_bSnap || ModelFamily::MsSince(m_lSnapStart) <= kSnapRetryMs)
        return false;
    m_Camera.DbgPrint2(LogSeverity::Error, "WorkingFunc", "snap Exp: EXP_FAILED:%d\n", m_iBad);
    m_Camera.GetCaptureState().SnapFailed();
    return true;
}

template <typename Model>
void CaptureRun<Model>::AfterTransfer()
{
    if (!m_Camera.Settings().m_bAutoBandwidth)
        s_bLastAutoBandwidth = false;
}

template <typename Model>
void CaptureRun<Model>::QueueFrames(int depth)
{
    Model &cam = m_Camera;
    while (m_iQueued < depth) {
        uint8_t *buffer = cam.GetCirBuf()->BeginInsert();
        if (buffer == nullptr) {
            if (std::find(m_pQueued, m_pQueued + m_iQueued, cam.GetFrameBuf()) !=
                m_pQueued + m_iQueued)
                return;
            buffer = cam.GetFrameBuf();
        }
        std::memset(buffer, 0, 4);
        std::memset(buffer + m_iFrameSize - 4, 0, 4);
        if (!cam.queueAsyncFrame(buffer)) {
            Release(buffer);
            return;
        }
        m_pQueued[m_iQueued++] = buffer;
    }
}

template <typename Model>
uint8_t *CaptureRun<Model>::WaitFrame(uint32_t waitMs, uint32_t pollMs, int *received, bool *cut)
{
    uint8_t *buffer = m_Camera.waitAsyncFrame(waitMs, pollMs, received, cut);
    if (buffer != nullptr) {
        for (int i = 1; i < m_iQueued; ++i)
            m_pQueued[i - 1] = m_pQueued[i];
        --m_iQueued;
    }
    return buffer;
}

template <typename Model>
int CaptureRun<Model>::Publish(uint8_t *buffer, uint16_t headMarker, int headPos,
                               uint16_t tailMarker, int tailPos, int counterPos0, int counterPos1)
{
    CirBuf &ring = *m_Camera.GetCirBuf();
    if (buffer == m_Camera.GetFrameBuf())
        return ring.InsertBuff(buffer, m_iFrameSize, headMarker, headPos, tailMarker, tailPos,
                               counterPos0, counterPos1);
    return ring.EndInsert(buffer, m_iFrameSize, headMarker, headPos, tailMarker, tailPos,
                          counterPos0, counterPos1);
}

template <typename Model>
void CaptureRun<Model>::Release(uint8_t *buffer)
{
    if (buffer != m_Camera.GetFrameBuf())
        m_Camera.GetCirBuf()->CancelInsert(buffer);
}

template <typename Model>
void CaptureRun<Model>::CancelFrames()
{
    m_Camera.cancelAsyncFrames();
    for (; m_iQueued > 0; --m_iQueued)
        Release(m_pQueued[m_iQueued - 1]);
}

template <typename Model>
bool CaptureRun<Model>::FrameDone()
{
    Model &cam = m_Camera;
    if (m_bSnap) {
        cam.DbgPrint2(LogSeverity::Debug, "WorkingFunc", "snap: EXP_SUCCESS\n");
        cam.GetCaptureState().SnapSucceeded();
        return false;
    }
    const uint64_t periodUs =
        uint64_t(cam.Settings().m_iFrameTimeUs) + cam.Settings().m_iTransferTimeUs;
    if (cam.Settings().m_lExposure >= kAutoOnLoopUs || periodUs >= kAutoOnLoopUs)
        cam.AutoControlStep(cam.Settings().m_bAutoExp || cam.Settings().m_bAutoGain,
                            cam.Settings().m_bAutoWB);
    return true;
}

template <typename Model>
bool CaptureRun<Model>::RegulateBandwidth()
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    const uint32_t now = GetTickCount();
    const bool autoBandwidth = cam.Settings().m_bAutoBandwidth;
    if (autoBandwidth && !s_bLastAutoBandwidth.exchange(true))
        m_lAutoStart = now;
    if (!autoBandwidth || now - m_lAutoStart > kAutoBandwidthWindowMs)
        return false;
    if (m_iBad > 2) {
        const uint32_t delta = now - m_lLastBad;
        m_lLastBad = now;
        if (delta <= kAutoBandwidthEventMs) {
            cam.DbgPrint2(LogSeverity::Debug, tag, "time from start:%d   time_delta:%d \n",
                          now - m_lAutoStart, delta);
            cam.SetFPSPerc(cam.Settings().m_iBandwidth - kAutoBandwidthStep,
                           cam.Settings().m_bAutoBandwidth);
        }
        cam.DbgPrint2(LogSeverity::Warning, tag, "BAD delta time:%d pkg:%x\n", delta,
                      cam.Settings().m_iHMAX.load());
        m_iBad = 0;
    }
    return true;
}
