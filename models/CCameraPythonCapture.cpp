// Capture of the PYTHON models: the working loop that streams standard FPGA
// frames into the frame ring (video and snap; no DDR reloads, no
// long-exposure scheme), and the read-out of one frame into the caller's
// image type.
#include "models/CCameraPython.h"

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

// A snap retries a failed transfer only this long after it started.
constexpr uint32_t kSnapRetryMs = 1000;
constexpr int kEmptyTransfersBeforeReset = 4;
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

std::atomic<bool> CCameraPython::s_bLastAutoBandwidth{false};

struct CCameraPython::WorkingRun {
    bool bSnap;
    int iFrameSize;
    int iPieces;
    uint32_t lSnapStart;
    uint32_t lLastBad;
    uint32_t lAutoStart;
    uint32_t lWaitMs;
    int iBad;
    int iEmpty;
};

void CCameraPython::WorkingFunc(std::atomic<bool> *running, void *arg)
{
    static_cast<CCameraPython *>(arg)->WorkingLoop(running);
}

void CCameraPython::WorkingLoop(std::atomic<bool> *running)
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

void CCameraPython::PublishExposureStatus()
{
    const int result = m_iSnapResult;
    m_iExpStatus = result == ORU_EXP_WORKING ? ORU_EXP_FAILED : result;
}

bool CCameraPython::RunPass(std::atomic<bool> *running, WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    if (run.bSnap && MsSince(run.lSnapStart) > kSnapRetryMs) {
        DbgPrint2(tag, "snap Exp: EXP_FAILED:%d\n", run.iBad);
        m_iSnapResult = ORU_EXP_FAILED;
        return false;
    }

    const uint32_t periodUs = m_iFrameTimeUs + m_iTransferTimeUs;
    const uint64_t exposureUs = m_lExposure;
    // Exposures stay below a second: one second beyond the exposure, or two
    // frame periods and 50 ms.
    run.lWaitMs = exposureUs >= periodUs ? static_cast<uint32_t>(exposureUs / 1000 + 1000)
                                         : periodUs / 500 + 50;

    int received = 0;
    startAsyncXfer(run.lWaitMs, periodUs / 1000 / run.iPieces + 100, &received, nullptr,
                   run.iFrameSize);
    if (!m_bAutoBandwidth)
        s_bLastAutoBandwidth = false;

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
    ++m_iDroppedFrames;
    Supervise(run);
    return true;
}

bool CCameraPython::FrameAccepted(std::atomic<bool> *running, WorkingRun &run)
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
    return true;
}

bool CCameraPython::ShortFrame(int received, uint32_t periodUs, WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    DbgPrint2(tag, "data length wanted: %d, data length got: %d\n", run.iFrameSize, received);
    ++run.iBad;
    DbgPrint2(tag, "get len:0x%x drop:%d  frametime:%dus waittime:%dms\n", received, run.iBad,
              periodUs, run.lWaitMs);
    GetFirmwareVer();
    GetFPGAVer();
    if (received != 0)
        return true;

    ++run.iEmpty;
    DbgPrint2(tag, "nothing get count:%d\n", run.iEmpty);
    if (run.iEmpty >= kEmptyTransfersBeforeReset) {
        DbgPrint2(tag, "no frame more than 5, reset!\n");
        ResetDevice();
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

void CCameraPython::Supervise(WorkingRun &run)
{
    static const char *const tag = "WorkingFunc";
    DbgPrint2(tag, "drop frames:%d\n", run.iBad);
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
    } else if (run.iBad == 5) {
        DbgPrint2(tag, "try lowing pkg!!\n");
    }
    ResetEndPoint(kBulkEndpoint);
    run.iEmpty = 0;
}

bool CCameraPython::GetImage(unsigned char *buffer, int size, int waitMs)
{
    const IMAGE_TYPE type = m_ImgType;
    const int width = m_iWidth;
    const int height = m_iHeight;
    const int outputBytes = width * height * OutputBytesPerPixel(type);
    if (buffer == nullptr || size < outputBytes || m_pCirBuf == nullptr || m_pImgBuf == nullptr)
        return false;

    // The sensor reads the whole binned area; binning is done here.
    const int bin = m_iBin;
    const int sensorWidth = width * bin;
    const int sensorHeight = height * bin;
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

    FinishImage(buffer, width, height, bin, type, wide);
    return true;
}
