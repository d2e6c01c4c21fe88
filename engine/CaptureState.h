// The state of a capture run that callers ask about: whether the run is a
// snap, the exposure status a caller sees, the snap's result as the working
// loop finds it, and the frames dropped in the run.
//
// Thread safety: every value is an atomic. The caller's thread starts a run
// and takes a snap's image; the working (or trigger) loop records frames,
// the snap's result and, as it ends, the exposure status.
#pragma once

#include <atomic>

#include "api/ORUCamera.h"

class CaptureState {
public:
    // A run starts: a snap or video, exposure and snap result working.
    void Begin(bool snap);
    // The run's thread did not start.
    void FailStart() { m_iExpStatus = ORU_EXP_FAILED; }
    bool IsSnap() const { return m_bSnap; }
    ORU_EXPOSURE_STATUS ExpStatus() const { return m_iExpStatus; }

    // The snap's frame arrived, or none came in time.
    void SnapSucceeded() { m_iSnapResult = ORU_EXP_SUCCESS; }
    void SnapFailed() { m_iSnapResult = ORU_EXP_FAILED; }
    // As the loop ends: the snap's result becomes the exposure status, a
    // snap still working having failed.
    void PublishExposureStatus();
    // A snap's image is taken (or was tried): the exposure status is idle
    // again.
    void ImageTaken() { m_iExpStatus = ORU_EXP_IDLE; }

    int DroppedFrames() const { return m_iDroppedFrames; }
    void ResetDroppedFrames() { m_iDroppedFrames = 0; }
    void AddDroppedFrames(int frames) { m_iDroppedFrames += frames; }

private:
    std::atomic<bool> m_bSnap{false};
    std::atomic<ORU_EXPOSURE_STATUS> m_iExpStatus{ORU_EXP_IDLE};
    std::atomic<ORU_EXPOSURE_STATUS> m_iSnapResult{ORU_EXP_IDLE};
    std::atomic<int> m_iDroppedFrames{0};
};
