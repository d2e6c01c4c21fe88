// Capture of the ORU120: the working loop that streams frames from endpoint
// 0x82 into the frame ring (video and snap, with software-timed long
// exposures), and the read-out of one frame into the caller's image type.
#include "models/CCameraLegacyUsb2.h"

#include <unistd.h>

#include <cstring>

#include "log/DbgPrint.h"

namespace {

constexpr uint8_t kBulkEndpoint = 0x82;
constexpr int kPieceBytes = 307200;
constexpr uint8_t kReqStartStreaming = 0xA9;
constexpr uint8_t kReqStopStreaming = 0xAA;
constexpr uint8_t kReqPixels16Bit = 0xAC;
constexpr uint8_t kReqSensorClkStart = 0xAF;

// The first 32-bit word of every frame the controller sends.
constexpr uint32_t kFrameHead = 0xBB00AA11;

// A snap retries a failed transfer only this long after it started.
constexpr uint32_t kSnapRetryMs = 1000;
constexpr int kFailuresBeforeLongerLine = 4;
constexpr int kFailuresBeforeReset = 50;
constexpr int kBadFramesBeforeReset = 20;
// Frames at least this long are regulated on the working thread; shorter
// frames with a bad head still go to the ring.
constexpr uint64_t kShortFrameLimitUs = 100000;
constexpr uint32_t kAutoBandwidthWindowMs = 19999;
constexpr uint32_t kAutoBandwidthEventMs = 4999;
constexpr int kAutoBandwidthStep = 4;
// Long exposures: the sensor clock stops this long into the frame, the stop
// is timed in steps of at most kLongExposureStepMs, and each piece of the
// frame may then take kLongExposurePieceMs.
constexpr unsigned kLongExposureLeadMs = 200;
constexpr uint32_t kLongExposureStepMs = 500;
constexpr uint32_t kLongExposurePieceMs = 500;

void SleepMs(unsigned ms)
{
    usleep(ms * 1000);
}

// Milliseconds from `since` to now on the wrapping tick clock.
uint32_t MsSince(uint32_t since)
{
    return GetTickCount() - since;
}

uint32_t HeadOf(const uint8_t *frame)
{
    uint32_t head = 0;
    std::memcpy(&head, frame, sizeof head);
    return head;
}

} // namespace

std::atomic<bool> CCameraLegacyUsb2::s_bLastAutoBandwidth{false};

struct CCameraLegacyUsb2::WorkingRun {
    bool bSnap;
    bool bFirstFrameSkipped;
    int iFrameSize;
    int iPieces;
    uint32_t lSnapStart;
    uint32_t lLastBad;
    uint32_t lAutoStart;
    uint32_t lWaitMs;
    int iBad;      // frames lost in the current supervision window
    int iFailures; // transfers or frames failed in a row
};

void CCameraLegacyUsb2::WorkingFunc(std::atomic<bool> *running, void *arg)
{
    static_cast<CCameraLegacyUsb2 *>(arg)->WorkingLoop(running);
}

void CCameraLegacyUsb2::WorkingLoop(std::atomic<bool> *running)
{
    static const char *const tag = "WorkingFunc";
    WorkingRun run{};
    run.bSnap = m_bSnap;
    run.lLastBad = run.lAutoStart = GetTickCount();
    ResetDevice();
    SleepMs(20);
    SendCMD(kReqStopStreaming);
    StopSensorStreaming();
    DbgPrint2(tag, "working thread begin!\n");

    run.iFrameSize = GetRealImageSize();
    m_iDroppedFrames = 0;
    if (m_pCirBuf == nullptr || m_pFrameBuf == nullptr) {
        DbgPrint2(tag, "no frame buffers\n");
        PublishExposureStatus();
        return;
    }
    m_pCirBuf->ResetCirBuff();
    run.iPieces = (run.iFrameSize + kPieceBytes - 1) / kPieceBytes;
    if (!run.bSnap) {
        m_iAutoExpLimitUs = static_cast<int>(kShortFrameLimitUs);
        StartAutoControlThr();
    }
    CalcFrameTime();
    StartSensorCLK();
    SendCMD(kReqStartStreaming);
    if (m_b16Bit)
        SendCMD(kReqPixels16Bit);
    StartSensorStreaming();
    ResetEndPoint(kBulkEndpoint);
    initAsyncXfer(run.iFrameSize, run.iPieces, kPieceBytes, kBulkEndpoint, m_pFrameBuf);
    run.lSnapStart = GetTickCount();

    while (*running && RunPass(running, run)) {
    }

    m_iDroppedFrames = 0;
    StopSensorStreaming();
    SendCMD(kReqStopStreaming);
    ResetEndPoint(kBulkEndpoint);
    if (!run.bSnap)
        m_pCirBuf->ResetCirBuff();
    releaseAsyncXfer();
    if (!run.bSnap)
        StopAutoControlThr();
    DbgPrint2(tag, "working thread exit!\n");
    PublishExposureStatus();
}

void CCameraLegacyUsb2::PublishExposureStatus()
{
    const int result = m_iSnapResult;
    m_iExpStatus = result == ORU_EXP_WORKING ? ORU_EXP_FAILED : result;
}

bool CCameraLegacyUsb2::RunPass(std::atomic<bool> *running, WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    if (run.bSnap && MsSince(run.lSnapStart) > kSnapRetryMs) {
        DbgPrint2(tag, "snap Exp: EXP_FAILED:%d\n", run.iBad);
        m_iSnapResult = ORU_EXP_FAILED;
        return false;
    }

    const uint32_t periodUs = m_iFrameTimeUs;
    const uint64_t exposureUs = m_lExposure;
    uint32_t pollMs = periodUs / 1000 / run.iPieces + 100;
    if (m_bLongExpMode) {
        if (!LongExposure(running, run))
            return false;
        pollMs = kLongExposurePieceMs;
    } else if (exposureUs >= periodUs) {
        run.lWaitMs = static_cast<uint32_t>(exposureUs / 1000 + (exposureUs <= 999999 ? 1000 : 2000));
    } else {
        run.lWaitMs = periodUs / 500 + 50;
    }

    int received = 0;
    startAsyncXfer(run.lWaitMs, pollMs, &received, nullptr, run.iFrameSize);
    if (!m_bAutoBandwidth)
        s_bLastAutoBandwidth = false;
    if (received >= run.iFrameSize)
        return FrameReceived(running, run);
    DbgPrint2(tag, "get len:0x%x drop:%d reset! frametime:%d waittime:%d\n", received,
              run.iBad + 1, periodUs, run.lWaitMs);
    CountFailure(run);
    return true;
}

bool CCameraLegacyUsb2::FrameReceived(std::atomic<bool> *running, WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    if (m_bLongExpMode)
        DbgPrint2(tag, "Long exp:Get one Frame %d\n", static_cast<int>(m_lExposure / 1000));
    // The first frame of a video run may have begun before the stream did.
    if (!run.bSnap && !run.bFirstFrameSkipped) {
        run.bFirstFrameSkipped = true;
        ResetEndPoint(kBulkEndpoint);
        return true;
    }

    const uint32_t head = HeadOf(m_pFrameBuf);
    const bool goodHead = head == kFrameHead;
    if (!goodHead)
        DbgPrint2(tag, "bad frame head:0x%x\n", head);
    // The read-out skips a bad frame; in fast video it still goes to the
    // ring, so that the reader sees the stream go on.
    const bool offer = goodHead || (!run.bSnap && m_lExposure < kShortFrameLimitUs);
    const int inserted = offer ? m_pCirBuf->InsertBuff(m_pFrameBuf, run.iFrameSize, 0, 0, 0, 0, 0, 0)
                               : 1;
    if (inserted == 0) {
        // The ring copies the frame on its own thread; the buffer is ours
        // again only once that copy is done.
        while (!m_pCirBuf->WaitInsertIdle(100)) {
            if (!*running)
                return false;
        }
        // A stale frame must never pass the head check again.
        std::memset(m_pFrameBuf, 0, sizeof head);
    }
    if (!goodHead) {
        CountFailure(run);
        return true;
    }
    if (inserted != 0) {
        ++m_iDroppedFrames;
        return true;
    }
    run.iFailures = 0;
    if (run.bSnap) {
        DbgPrint2(tag, "snap: EXP_SUCCESS\n");
        m_iSnapResult = ORU_EXP_SUCCESS;
        return false;
    }
    if (m_lExposure >= kShortFrameLimitUs || m_iFrameTimeUs >= kShortFrameLimitUs) {
        if (m_bAutoExp || m_bAutoGain)
            AutoExpGain(m_pFrameBuf);
        if (m_bAutoWB)
            AutoWhiBal(m_pFrameBuf);
    }
    return true;
}

void CCameraLegacyUsb2::CountFailure(WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    ++run.iBad;
    ++m_iDroppedFrames;
    ++run.iFailures;
    if (run.iFailures == kFailuresBeforeLongerLine) {
        DbgPrint2(tag, "try lowing pkg!!\n");
        LengthenLine();
        ResetEndPoint(kBulkEndpoint);
    } else if (run.iFailures > kFailuresBeforeReset) {
        DbgPrint2(tag, "DropCount more than 50, reset!\n");
        ResetDevice();
        SendCMD(kReqSensorClkStart);
        SendCMD(kReqStartStreaming);
        SleepMs(200);
        run.iFailures = 0;
    }
    Supervise(run);
}

void CCameraLegacyUsb2::Supervise(WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    const uint32_t now = GetTickCount();
    const bool autoBandwidth = m_bAutoBandwidth;
    if (autoBandwidth && !s_bLastAutoBandwidth.exchange(true))
        run.lAutoStart = now;
    if (autoBandwidth && now - run.lAutoStart <= kAutoBandwidthWindowMs) {
        if (run.iBad > 2) {
            const uint32_t delta = now - run.lLastBad;
            run.lLastBad = now;
            if (delta <= kAutoBandwidthEventMs) {
                DbgPrint2(tag, "time from start:%d   time_delta:%d \n", now - run.lAutoStart,
                          delta);
                SetFPSPerc(m_iBandwidth - kAutoBandwidthStep, m_bAutoBandwidth);
            }
            DbgPrint2(tag, "BAD delta time:%d pkg:%x\n", delta, m_iHMAX.load());
            run.iBad = 0;
        }
    } else if (run.iBad > kBadFramesBeforeReset) {
        DbgPrint2(tag, "bad frame than 20, reset!\n");
        LengthenLine();
        ResetDevice();
        SendCMD(kReqStartStreaming);
        run.iBad = 0;
    }
}

bool CCameraLegacyUsb2::LongExposure(std::atomic<bool> *running, WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    const uint64_t exposureUs = m_lExposure;
    const int clock = m_iCMOSClk > 0 ? m_iCMOSClk.load() : 1;
    const uint64_t programmedUs = (uint64_t(IntegrationLines()) * m_iHMAX) / clock;
    DbgPrint2(tag, "Begin long exp %d\n", static_cast<int>(exposureUs / 1000));
    // A fresh frame starts integrating now; its integration goes on while
    // the sensor clock stands still.
    StopSensorStreaming();
    StartSensorStreaming();
    SleepMs(kLongExposureLeadMs);
    StopSensorCLK();
    const uint32_t stopMs =
        exposureUs > programmedUs ? static_cast<uint32_t>((exposureUs - programmedUs) / 1000) : 0;
    const uint32_t start = GetTickCount();
    while (*running && m_lExposure == exposureUs) {
        const uint32_t elapsed = MsSince(start);
        if (elapsed >= stopMs)
            break;
        const uint32_t remaining = stopMs - elapsed;
        DbgPrint2(tag, "wait:%ld\n", static_cast<long>(remaining));
        SleepMs(remaining < kLongExposureStepMs ? remaining : kLongExposureStepMs);
    }
    StartSensorCLK();
    run.lWaitMs = static_cast<uint32_t>(programmedUs / 1000) + m_iFrameTimeUs / 1000 + 1000;
    return *running;
}

bool CCameraLegacyUsb2::GetImage(unsigned char *buffer, int size, int waitMs)
{
    const IMAGE_TYPE type = m_ImgType;
    const int width = m_iWidth;
    const int height = m_iHeight;
    const int bin = m_iBin;
    const int outputBytes = width * height * OutputBytesPerPixel(type);
    if (buffer == nullptr || size < outputBytes || m_pCirBuf == nullptr || m_pImgBuf == nullptr)
        return false;

    const int sensorWidth = width * bin;
    const int sensorHeight = height * bin;
    const bool wide = m_b16Bit;
    const int rowBytes = sensorWidth * (wide ? 2 : 1);
    const int frameBytes = rowBytes * sensorHeight;
    // Frames with a bad head are taken out and skipped.
    const uint32_t start = GetTickCount();
    for (;;) {
        const bool goodHead = m_pCirBuf->IsBuffHeadCorrect(kFrameHead, waitMs);
        if (!m_pCirBuf->ReadBuff(m_pImgBuf, frameBytes, 0, nullptr))
            return false;
        if (goodHead || HeadOf(m_pImgBuf) == kFrameHead)
            break;
        DbgPrint2("GetImage", "bad frame head:0x%x skipped\n", HeadOf(m_pImgBuf));
        if (waitMs >= 0 && MsSince(start) >= static_cast<uint32_t>(waitMs))
            return false;
    }

    // Hide the head behind pixels of the same colour phase two rows away.
    if (sensorHeight > 2)
        std::memcpy(m_pImgBuf, m_pImgBuf + 2 * rowBytes, 4);

    if (wide) {
        // The camera sends the significant byte first.
        uint16_t *pixels16 = reinterpret_cast<uint16_t *>(m_pImgBuf);
        for (int i = 0; i < sensorWidth * sensorHeight; ++i)
            pixels16[i] = static_cast<uint16_t>(pixels16[i] << 8 | pixels16[i] >> 8);
    }
    FinishImage(buffer, width, height, bin, type, wide);
    return true;
}
