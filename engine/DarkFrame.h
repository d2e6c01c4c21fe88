// The camera's dark frame: the full-sensor frame (recorded from delivered
// frames or loaded from a bitmap), its copy cut and binned to the current
// ROI with the copy's mean, and the list of the copy's hot pixels.
//
// Thread safety: three locks, taken in this order where held together: the
// dark lock (the full frame and the recording count), the adjusted-dark lock
// (the copy and its statistics), the dark-list lock (the hot-pixel list).
// Every member function takes what it needs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/AdjustedRoi.h"
#include "transport/PlatformShims.h"
#include "transport/SectionLock.h"

class CAlgorithm;
class CCameraFX3;

class DarkFrame {
public:
    // A pixel this far above the dark mean is hot.
    static constexpr int kHotAboveMean = 30;

    // The device's product ID tags the log lines.
    explicit DarkFrame(const CCameraFX3 &device);
    ~DarkFrame();
    DarkFrame(const DarkFrame &) = delete;
    DarkFrame &operator=(const DarkFrame &) = delete;

    // Takes width x height pixels from rows of rowSize bytes as the full
    // frame; false when memory is short (nothing is copied then).
    bool Replace(const uint8_t *rows, int rowSize, int width, int height);
    // Frees both frames.
    void Free();
    // Calls use with the full frame (null while there is none) under the
    // dark lock and returns its result.
    template <typename Use>
    auto UseFrame(Use use)
    {
        SectionLock darkLock(m_csDark);
        return use(static_cast<const uint8_t *>(m_pDarkBuf.get()));
    }
    // Calls use with the full frame (or null) and the adjusted copy's mean,
    // under the dark and adjusted-dark locks, and returns its result.
    template <typename Use>
    auto UseFrameAndMean(Use use)
    {
        SectionLock darkLock(m_csDark);
        SectionLock adjLock(m_csDarkAdj);
        return use(static_cast<const uint8_t *>(m_pDarkBuf.get()), m_iDarkAvg);
    }

    // Starts (or stops) recording the average of the frames the exposure in
    // ms asks for; returns that number of frames.
    int GettingDark(bool on, uint64_t expMs);
    bool IsRecording() const { return m_bGettingDark; }
    // Adds a full-sensor frame of mapSize bytes to the recording; true when
    // it was the last one, the recording then waiting for FinishRecording.
    bool AddFrame(const uint8_t *image, size_t mapSize);
    void FinishRecording() { m_bGettingDark = false; }

    // Cuts (and bins) the full frame to the ROI, and finds the mean and the
    // hot pixels of the copy; nothing unless both frames exist.
    void AdjustDarkBuff(const AdjustedRoi &roi, bool hwBinSums);
    // Subtracts the adjusted copy from an 8-bit frame of the ROI.
    void SubtractDark(CAlgorithm &algorithm, uint8_t *image);
    // Replaces the copy's hot pixels in a frame of the ROI from their
    // same-colour neighbours at distance d.
    void RepairHotPixels(uint8_t *image, bool wide, int d);

    // Copies: the full frame and the adjusted copy (empty while there are
    // none), the copy's size and its hot-pixel list.
    std::vector<uint8_t> Frame();
    std::vector<uint8_t> Adjusted();
    int AdjustedWidth();
    int AdjustedHeight();
    std::vector<int> HotList();

private:
    const CCameraFX3 &m_Device;
    S_MUTEX_UNIX m_csDark ORU_ACQUIRED_BEFORE(m_csDarkAdj, m_csDarkList);
    S_MUTEX_UNIX m_csDarkAdj ORU_ACQUIRED_BEFORE(m_csDarkList);
    S_MUTEX_UNIX m_csDarkList;
    std::unique_ptr<uint8_t[]> m_pDarkBuf ORU_GUARDED_BY(m_csDark);
    size_t m_iDarkBufSize ORU_GUARDED_BY(m_csDark) = 0;
    std::unique_ptr<uint8_t[]> m_pDarkAdj ORU_GUARDED_BY(m_csDarkAdj);
    size_t m_iDarkAdjSize ORU_GUARDED_BY(m_csDarkAdj) = 0;
    int m_iDarkAdjWidth ORU_GUARDED_BY(m_csDarkAdj) = 0;
    int m_iDarkAdjHeight ORU_GUARDED_BY(m_csDarkAdj) = 0;
    int m_iDarkAvg ORU_GUARDED_BY(m_csDarkAdj) = 0;
    std::vector<int> m_DarkHotList ORU_GUARDED_BY(m_csDarkList);
    std::atomic<bool> m_bGettingDark{false};
    int m_iDarkFrames ORU_GUARDED_BY(m_csDark) = 0;
    int m_iDarkFrameCount ORU_GUARDED_BY(m_csDark) = 0;
};
