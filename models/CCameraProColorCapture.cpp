// Capture of the ORU6200MC Pro: the working loop that streams frames from the
// camera into the frame ring (video and snap, with the long-exposure trigger
// scheme and DDR reloads), and the read-out of one frame into the caller's
// image type.
#include "models/CCameraProColor.h"

#include <unistd.h>

#include <cstring>

#include "log/DbgPrint.h"

namespace {

constexpr uint8_t kBulkEndpoint = 0x81;
constexpr int kPieceBytes = 0x100000;
constexpr uint8_t kReqStartStreaming = 0xA9;
constexpr uint8_t kReqStopStreaming = 0xAA;

constexpr uint16_t kFrameHead = 0x5A7E;
constexpr uint16_t kFrameTail = 0x3CF0;

constexpr uint16_t kRegBufferStatus = 35;
constexpr uint8_t kBufferIdle = 0x15;
constexpr uint8_t kBufferInSync = 0x10;
constexpr uint8_t kBufferHoldsFrame = 0x04;
constexpr uint16_t kRegStreamControl = 0x1EE;

// A snap retries a failed transfer only this long after it started.
constexpr uint32_t kSnapRetryMs = 1000;
constexpr int kEmptyTransfersBeforeReset = 4;
constexpr int kMaxReloadAttempts = 2;
constexpr int kMaxSyncRestarts = 5;
// Frames at least this long are regulated on the working thread.
constexpr uint64_t kAutoOnLoopUs = 100000;
constexpr uint32_t kAutoBandwidthWindowMs = 19999;
constexpr uint32_t kAutoBandwidthEventMs = 4999;
constexpr int kAutoBandwidthStep = 4;

void SleepMs(unsigned ms)
{
    usleep(ms * 1000);
}

// Milliseconds from `since` to now on the wrapping tick clock.
uint32_t MsSince(uint32_t since)
{
    return GetTickCount() - since;
}

} // namespace

std::atomic<bool> CCameraProColor::s_bLastAutoBandwidth{false};

// Counters and timers of one run of the working loop.
struct CCameraProColor::WorkingRun {
    bool bSnap;
    int iFrameSize;
    int iPieces;
    uint32_t lSnapStart;
    uint32_t lLastBad;
    uint32_t lAutoStart;
    uint32_t lWaitMs;
    int iBad;
    int iEmpty;
    int iReloadAttempts;
    bool bReload;
    uint8_t ucBufferStatus;
};

void CCameraProColor::WorkingFunc(std::atomic<bool> *running, void *arg)
{
    static_cast<CCameraProColor *>(arg)->WorkingLoop(running);
}

void CCameraProColor::WorkingLoop(std::atomic<bool> *running)
{
    static const char *const tag = "WorkingFunc";
    WorkingRun run{};
    run.bSnap = m_bSnap;
    run.lLastBad = run.lAutoStart = GetTickCount();
    ResetDevice();
    SleepMs(50);
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
        m_iAutoExpLimitUs = static_cast<int>(kAutoOnLoopUs);
        StartAutoControlThr();
    }
    SendCMD(kReqStartStreaming);
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

void CCameraProColor::PublishExposureStatus()
{
    const int result = m_iSnapResult;
    m_iExpStatus = result == ORU_EXP_WORKING ? ORU_EXP_FAILED : result;
}

bool CCameraProColor::RunPass(std::atomic<bool> *running, WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    if (run.bSnap && !run.bReload && MsSince(run.lSnapStart) > kSnapRetryMs) {
        DbgPrint2(tag, "snap Exp: EXP_FAILED:%d\n", run.iBad);
        m_iSnapResult = ORU_EXP_FAILED;
        return false;
    }

    const uint32_t periodUs = m_iFrameTimeUs + m_iTransferTimeUs;
    const uint64_t exposureUs = m_lExposure;
    const bool longExposure = m_bLongExpMode;
    if (longExposure && run.bReload) {
        FPGABufReload();
        DbgPrint2(tag, "Reload long exp data.\n");
        run.lWaitMs = 1000;
    } else if (longExposure) {
        if (!LongExposure(running, run))
            return false;
        // A stop during the exposure ends the run without the read-out.
        if (!*running)
            return false;
    } else if (exposureUs >= periodUs) {
        run.lWaitMs = static_cast<uint32_t>(exposureUs / 1000 + (exposureUs <= 999999 ? 1000 : 2000));
    } else {
        run.lWaitMs = periodUs / 500 + 50;
    }

    int received = 0;
    startAsyncXfer(run.lWaitMs, periodUs / 1000 / run.iPieces + 100, &received, nullptr,
                   run.iFrameSize);
    if (!m_bAutoBandwidth)
        s_bLastAutoBandwidth = false;
    ReadBufferStatus(run);
    if (run.ucBufferStatus != kBufferIdle)
        DbgPrint2(tag, "buff status:0x%x\n", run.ucBufferStatus);

    if (received >= run.iFrameSize) {
        const int words = run.iFrameSize / 2;
        const int inserted = m_pCirBuf->InsertBuff(m_pFrameBuf, run.iFrameSize, kFrameHead, 0,
                                                   kFrameTail, words - 1, 1, words - 2);
        if (inserted == 0)
            return FrameAccepted(running, run);
        if (inserted == 1) {
            ++m_iDroppedFrames;
            return true;
        }
        const uint16_t *frame = reinterpret_cast<const uint16_t *>(m_pFrameBuf);
        DbgPrint2(tag, "head:0x%x COUNT:%d tail:0x%x count:%d\n", frame[0], frame[1],
                  frame[words - 1], frame[words - 2]);
        ++run.iBad;
    } else if (!ShortFrame(received, periodUs, run)) {
        return true;
    }
    if (!run.bReload)
        ++m_iDroppedFrames;
    Supervise(run);
    return true;
}

bool CCameraProColor::FrameAccepted(std::atomic<bool> *running, WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    // The ring copies the frame on its own thread; the buffer is ours again
    // only once that copy is done.
    while (!m_pCirBuf->WaitInsertIdle(100)) {
        if (!*running)
            return false;
    }
    uint16_t *frame = reinterpret_cast<uint16_t *>(m_pFrameBuf);
    const int words = run.iFrameSize / 2;
    frame[0] = frame[1] = frame[words - 2] = frame[words - 1] = 0;
    if (run.bSnap) {
        DbgPrint2(tag, "snap: EXP_SUCCESS\n");
        m_iSnapResult = ORU_EXP_SUCCESS;
        return false;
    }
    const uint64_t periodUs = uint64_t(m_iFrameTimeUs) + m_iTransferTimeUs;
    if (m_lExposure >= kAutoOnLoopUs || periodUs >= kAutoOnLoopUs) {
        if (m_bAutoExp || m_bAutoGain)
            AutoExpGain(m_pFrameBuf);
        if (m_bAutoWB)
            AutoWhiBal(m_pFrameBuf);
    }
    run.bReload = false;
    return true;
}

bool CCameraProColor::ShortFrame(int received, uint32_t periodUs, WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    DbgPrint2(tag, "data length wanted: %d, data length got: %d\n", run.iFrameSize, received);
    if (m_bLongExpMode && m_bEnableDDR) {
        ReadBufferStatus(run);
        DbgPrint2(tag, "Buffer status:%x\n", run.ucBufferStatus);
        const bool held = (run.ucBufferStatus & kBufferHoldsFrame) != 0;
        if (run.iReloadAttempts > kMaxReloadAttempts) {
            DbgPrint2(tag, "USB cable has an exception, reload failed!\n");
            uint8_t gpif = 0;
            if (GetGPIFStatus(&gpif))
                DbgPrint2(tag, "GPIF Status: 0x%x\n", gpif);
            else
                DbgPrint2(tag, "Get GPIF error, GPIF Status: 0x%x\n", gpif);
            run.iReloadAttempts = 0;
            run.bReload = false;
        } else if (held) {
            // Read the held frame again; the loss is not counted.
            run.bReload = true;
            ++run.iReloadAttempts;
            Supervise(run);
            return false;
        } else {
            run.iReloadAttempts = 0;
            DbgPrint2(tag, "Data in cache is invalid, could not reload!\n");
            run.bReload = false;
        }
    }

    ++run.iBad;
    DbgPrint2(tag, "get len:0x%x drop:%d  frametime:%dus waittime:%dms\n", received, run.iBad,
              periodUs, run.lWaitMs);
    GetFirmwareVer();
    GetFPGAVer();
    if ((m_bLongExpMode && run.bSnap) || received != 0)
        return true;

    ++run.iEmpty;
    DbgPrint2(tag, "nothing get count:%d\n", run.iEmpty);
    if (run.iEmpty >= kEmptyTransfersBeforeReset) {
        DbgPrint2(tag, "no frame more than 5, reset!\n");
        ResetDevice();
        run.bReload = false;
        SleepMs(100);
        StopSensorStreaming();
        SendCMD(kReqStopStreaming);
        SleepMs(10);
        SendCMD(kReqStartStreaming);
        StartSensorStreaming();
        run.iEmpty = 0;
        run.iBad = 0;
    }
    return false;
}

void CCameraProColor::Supervise(WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    DbgPrint2(tag, "drop frames:%d\n", run.iBad);
    const uint32_t now = GetTickCount();
    const bool autoBandwidth = m_bAutoBandwidth;
    if (autoBandwidth) {
        if (!s_bLastAutoBandwidth.exchange(true))
            run.lAutoStart = now;
    }
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
    } else if (run.iBad == 5) {
        DbgPrint2(tag, "try lowing pkg!!\n");
    }
    ResetEndPoint(kBulkEndpoint);
    run.iEmpty = 0;
}

void CCameraProColor::ReadBufferStatus(WorkingRun &run)
{
    run.ucBufferStatus = 0;
    ReadFPGAREG(kRegBufferStatus, &run.ucBufferStatus);
}

bool CCameraProColor::LongExposure(std::atomic<bool> *running, WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    SleepMs(15);
    ReadBufferStatus(run);
    for (int restarts = 0; (run.ucBufferStatus & kBufferInSync) == 0;) {
        FPGAStop();
        SleepMs(5);
        FPGAStart();
        SleepMs(20);
        ReadBufferStatus(run);
        if ((run.ucBufferStatus & kBufferInSync) == 0)
            DbgPrint2(tag, "EC sync status:0x%x\n", run.ucBufferStatus);
        if (++restarts == kMaxSyncRestarts) {
            GetFirmwareVer();
            GetFPGAVer();
            return false;
        }
    }

    const uint64_t exposureUs = m_lExposure;
    DbgPrint2(tag, "Begin long exp %d\n", static_cast<int>(exposureUs / 1000));
    EnableFPGATriggerSignal(true);
    if (exposureUs <= 1000999) {
        usleep(static_cast<useconds_t>(exposureUs / 1000 * 1000 - 200000));
    } else {
        const uint64_t totalMs = exposureUs / 1000;
        const uint32_t start = GetTickCount();
        for (int step = 1; *running && m_lExposure == exposureUs; ++step) {
            const int32_t elapsed = static_cast<int32_t>(GetTickCount() - start);
            if (static_cast<uint64_t>(elapsed < 0 ? 0 : elapsed) >= totalMs)
                break;
            SleepMs(100);
            // Sensor and FPGA idle for the rest of the exposure.
            if (step == 7)
                WriteSONYREG(kRegStreamControl, 5);
            else if (step == 9)
                EnableLowPower(true);
            else if (step == 11)
                EnableFPGAXHSStop(true);
        }
    }
    EnableLowPower(false);
    SleepMs(100);
    WriteSONYREG(kRegStreamControl, 1);
    SleepMs(100);
    EnableFPGAXHSStop(false);
    EnableFPGATriggerSignal(false);
    run.iReloadAttempts = 0;
    run.lWaitMs = 1000;
    return true;
}

bool CCameraProColor::GetImage(unsigned char *buffer, int size, int waitMs)
{
    const IMAGE_TYPE type = m_ImgType;
    const int width = m_iWidth;
    const int height = m_iHeight;
    const int outputBytes = width * height * OutputBytesPerPixel(type);
    if (buffer == nullptr || size < outputBytes || m_pCirBuf == nullptr || m_pImgBuf == nullptr)
        return false;

    int sensorWidth = 0;
    int sensorHeight = 0;
    GetSensorOutputSize(&sensorWidth, &sensorHeight);
    const bool wide = m_b16Bit;
    const int rowBytes = sensorWidth * (wide ? 2 : 1);
    const int frameBytes = rowBytes * sensorHeight;
    if (!m_pCirBuf->ReadBuff(m_pImgBuf, frameBytes, waitMs, nullptr))
        return false;

    // Hide the markers behind pixels of the same colour phase two rows away.
    if (sensorHeight > 2) {
        std::memcpy(m_pImgBuf, m_pImgBuf + 2 * rowBytes, 4);
        std::memcpy(m_pImgBuf + frameBytes - 4, m_pImgBuf + frameBytes - 4 - 2 * rowBytes, 4);
    }

    const int bin = m_iBin;
    FinishImage(buffer, width, height, m_bHardwareBin ? (bin == 4 ? 2 : 1) : bin, type, wide);
    return true;
}
