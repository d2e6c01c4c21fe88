// Capture of the ORU120: the working loop that streams frames from endpoint
// 0x82 into the frame ring (video and snap, with software-timed long
// exposures), and the read-out of one frame into the caller's image type.
#include "models/CCameraLegacyUsb2.h"

#include <cstring>

#include "log/DbgPrint.h"
#include "models/CaptureRun.h"
#include "models/ModelFamily.h"
#include "transport/FrameMarkers.h"
#include "transport/FX3Protocol.h"
#include "transport/LegacyUsb2Protocol.h"

namespace {

constexpr uint8_t kBulkEndpoint = 0x82;
constexpr int kPieceBytes = 307200;

constexpr int kFailuresBeforeLongerLine = 4;
constexpr int kFailuresBeforeReset = 50;
constexpr int kBadFramesBeforeReset = 20;
// Shorter frames with a bad head still go to the ring.
constexpr uint64_t kShortFrameLimitUs = 100000;
// Long exposures: the sensor clock stops this long into the frame, the stop
// is timed in steps of at most kLongExposureStepMs, and each piece of the
// frame may then take kLongExposurePieceMs.
constexpr unsigned kLongExposureLeadMs = 200;
constexpr uint32_t kLongExposureStepMs = 500;
constexpr uint32_t kLongExposurePieceMs = 500;

} // namespace

struct CCameraLegacyUsb2::WorkingRun : CaptureRun<CCameraLegacyUsb2> {
    using CaptureRun::CaptureRun;
    bool m_bFirstFrameSkipped = false;
    int m_iFailures = 0; // transfers or frames failed in a row
};

void CCameraLegacyUsb2::WorkingFunc(std::atomic<bool> *running, void *arg)
{
    static_cast<CCameraLegacyUsb2 *>(arg)->WorkingLoop(running);
}

void CCameraLegacyUsb2::WorkingLoop(std::atomic<bool> *running)
{
    WorkingRun run(*this, running, kBulkEndpoint, kPieceBytes);
    if (!run.Prepare(20))
        return;
    CalcFrameTime();
    StartSensorCLK();
    SendCMD(FX3Request::kStartStreaming);
    if (m_b16Bit)
        SendCMD(LegacyUsb2Request::kPixels16Bit);
    run.Start();
    while (run.Running() && RunPass(run)) {
    }
    run.Finish();
}

bool CCameraLegacyUsb2::RunPass(WorkingRun &run)
{
    if (run.SnapTimedOut())
        return false;

    const uint32_t periodUs = m_iFrameTimeUs;
    const uint64_t exposureUs = m_lExposure;
    uint32_t pollMs = periodUs / 1000 / run.m_iPieces + 100;
    if (m_bLongExpMode) {
        if (!LongExposure(run))
            return false;
        pollMs = kLongExposurePieceMs;
    } else if (exposureUs >= periodUs) {
        run.m_lWaitMs =
            static_cast<uint32_t>(exposureUs / 1000 + (exposureUs <= 999999 ? 1000 : 2000));
    } else {
        run.m_lWaitMs = periodUs / 500 + 50;
    }

    int received = 0;
    startAsyncXfer(run.m_lWaitMs, pollMs, &received, nullptr, run.m_iFrameSize);
    run.AfterTransfer();
    if (received >= run.m_iFrameSize)
        return FrameReceived(run);
    DbgPrint2(LogSeverity::Warning, "WorkingFunc",
              "get len:0x%x drop:%d reset! frametime:%d waittime:%d\n", received, run.m_iBad + 1,
              periodUs, run.m_lWaitMs);
    CountFailure(run);
    return true;
}

bool CCameraLegacyUsb2::FrameReceived(WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    if (m_bLongExpMode)
        DbgPrint2(LogSeverity::Debug, tag, "Long exp:Get one Frame %d\n",
                  static_cast<int>(m_lExposure / 1000));
    // The first frame of a video run may have begun before the stream did.
    if (!run.m_bSnap && !run.m_bFirstFrameSkipped) {
        run.m_bFirstFrameSkipped = true;
        ResetEndPoint(kBulkEndpoint);
        return true;
    }

    const uint32_t head = FrameHeadWord(GetFrameBuf());
    const bool goodHead = head == kLegacyFrameHead;
    if (!goodHead)
        DbgPrint2(LogSeverity::Warning, tag, "bad frame head:0x%x\n", head);
    // The read-out skips a bad frame; in fast video it still goes to the
    // ring, so that the reader sees the stream go on.
    const bool offer = goodHead || (!run.m_bSnap && m_lExposure < kShortFrameLimitUs);
    const int inserted =
        offer ? GetCirBuf()->InsertBuff(GetFrameBuf(), run.m_iFrameSize, 0, 0, 0, 0, 0, 0) : 1;
    // A stale frame must never pass the head check again.
    if (inserted == 0)
        std::memset(GetFrameBuf(), 0, sizeof head);
    if (!goodHead) {
        CountFailure(run);
        return true;
    }
    if (inserted != 0) {
        GetCaptureState().AddDroppedFrames(1);
        return true;
    }
    run.m_iFailures = 0;
    return run.FrameDone();
}

void CCameraLegacyUsb2::CountFailure(WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    ++run.m_iBad;
    GetCaptureState().AddDroppedFrames(1);
    ++run.m_iFailures;
    if (run.m_iFailures == kFailuresBeforeLongerLine) {
        DbgPrint2(LogSeverity::Warning, tag, "try lowing pkg!!\n");
        LengthenLine();
        ResetEndPoint(kBulkEndpoint);
    } else if (run.m_iFailures > kFailuresBeforeReset) {
        DbgPrint2(LogSeverity::Warning, tag, "DropCount more than 50, reset!\n");
        ResetDevice();
        SendCMD(LegacyUsb2Request::kSensorClockStart);
        SendCMD(FX3Request::kStartStreaming);
        ModelFamily::SleepMs(200);
        run.m_iFailures = 0;
    }
    Supervise(run);
}

void CCameraLegacyUsb2::Supervise(WorkingRun &run)
{
    if (run.RegulateBandwidth() || run.m_iBad <= kBadFramesBeforeReset)
        return;
    DbgPrint2(LogSeverity::Warning, "WorkingFunc", "bad frame than 20, reset!\n");
    LengthenLine();
    ResetDevice();
    SendCMD(FX3Request::kStartStreaming);
    run.m_iBad = 0;
}

bool CCameraLegacyUsb2::LongExposure(WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    const uint64_t exposureUs = m_lExposure;
    const int clock = m_iCMOSClk > 0 ? m_iCMOSClk.load() : 1;
    const uint64_t programmedUs = (uint64_t(IntegrationLines()) * m_iHMAX) / clock;
    DbgPrint2(LogSeverity::Debug, tag, "Begin long exp %d\n", static_cast<int>(exposureUs / 1000));
    // A fresh frame starts integrating now; its integration goes on while
    // the sensor clock stands still.
    StopSensorStreaming();
    StartSensorStreaming();
    ModelFamily::SleepMs(kLongExposureLeadMs);
    StopSensorCLK();
    const uint32_t stopMs =
        exposureUs > programmedUs ? static_cast<uint32_t>((exposureUs - programmedUs) / 1000) : 0;
    const uint32_t start = GetTickCount();
    while (run.Running() && m_lExposure == exposureUs) {
        const uint32_t elapsed = ModelFamily::MsSince(start);
        if (elapsed >= stopMs)
            break;
        const uint32_t remaining = stopMs - elapsed;
        DbgPrint2(LogSeverity::Debug, tag, "wait:%ld\n", static_cast<long>(remaining));
        ModelFamily::SleepMs(remaining < kLongExposureStepMs ? remaining : kLongExposureStepMs);
    }
    StartSensorCLK();
    run.m_lWaitMs = static_cast<uint32_t>(programmedUs / 1000) + m_iFrameTimeUs / 1000 + 1000;
    return run.Running();
}

bool CCameraLegacyUsb2::GetImage(unsigned char *buffer, int size, int waitMs)
{
    // The ROI as one whole: a read during an ROI change must not size its
    // copy from half the new one.
    IMAGE_TYPE type;
    int width, height, bin;
    bool wide;
    {
        SectionLock roi(m_csRoi);
        type = m_ImgType;
        width = m_iWidth;
        height = m_iHeight;
        bin = m_iBin;
        wide = m_b16Bit;
    }
    if (!ModelFamily::CanDeliver(*this, buffer, size, width, height, type))
        return false;

    const int sensorWidth = width * bin;
    const int sensorHeight = height * bin;
    const int rowBytes = sensorWidth * (wide ? 2 : 1);
    const int frameBytes = rowBytes * sensorHeight;
    // Frames with a bad head are taken out and skipped.
    const uint32_t start = GetTickCount();
    for (;;) {
        const bool goodHead = GetCirBuf()->IsBuffHeadCorrect(kLegacyFrameHead, waitMs);
        if (!GetCirBuf()->ReadBuff(GetImgBuf(), frameBytes, 0, nullptr))
            return false;
        if (goodHead || FrameHeadWord(GetImgBuf()) == kLegacyFrameHead)
            break;
        DbgPrint2(LogSeverity::Warning, "GetImage", "bad frame head:0x%x skipped\n",
                  FrameHeadWord(GetImgBuf()));
        if (waitMs >= 0 && ModelFamily::MsSince(start) >= static_cast<uint32_t>(waitMs))
            return false;
    }

    // Hide the head behind pixels of the same colour phase two rows away.
    if (sensorHeight > 2)
        std::memcpy(GetImgBuf(), GetImgBuf() + 2 * rowBytes, 4);

    if (wide) {
        // The camera sends the significant byte first.
        uint16_t *pixels16 = reinterpret_cast<uint16_t *>(GetImgBuf());
        for (int i = 0; i < sensorWidth * sensorHeight; ++i)
            pixels16[i] = static_cast<uint16_t>(pixels16[i] << 8 | pixels16[i] >> 8);
    }
    FinishImage(GetImgBuf(), buffer, width, height, bin, type, wide);
    return true;
}
