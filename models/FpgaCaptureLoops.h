// The capture thread bodies and the frame read-out of the FX3 models whose
// FPGA sends the standard frame (head 0x5A7E, tail 0x3CF0, counter copies):
// the working loop that streams video and snaps into the frame ring (with the
// long-exposure trigger scheme and, on DDR models, reloads of the held
// frame), the trigger loop of the trigger camera modes (one transfer at a
// time, waiting for each trigger), and GetImage.
//
// Model is a CCameraBase descendant with these public members:
//   int GetRealImageSize();          bytes of one frame as the camera sends it
//   void GetSensorOutputSize(int *width, int *height);
//   bool StartSensorStreaming();
//   bool StopSensorStreaming();
//   void SetSensorIdle(bool idle);   the sensor idles for the rest of a long
//                                    exposure, and wakes for its read-out
//                                    (FpgaKind::Full only)
// Each model class has loops of its own, and so its own record of whether
// automatic bandwidth was on.
//
// Thread safety: WorkingFunc and TriggerFunc run on the camera's working and
// trigger threads (never both at once); GetImage on a caller's thread.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>

#include "engine/CCameraBase.h"

// What the model's FPGA does beyond framing the sensor's data. The full one
// keeps its buffer status in register 35, holds long exposures for the
// trigger scheme and reloads a frame held in its DDR buffer; the plain one
// does none of these, and its working loop neither reads register 35 nor
// times long exposures.
enum class FpgaKind { Full, Plain };

template <typename Model, FpgaKind kFpga = FpgaKind::Full>
class FpgaCaptureLoops {
public:
    // arg is the camera as the CCameraBase that started the thread.
    static void WorkingFunc(std::atomic<bool> *running, void *arg)
    {
        FpgaCaptureLoops(CameraOf(arg), running).WorkingLoop();
    }
    static void TriggerFunc(std::atomic<bool> *running, void *arg)
    {
        FpgaCaptureLoops(CameraOf(arg), running).TriggerLoop();
    }
    static bool GetImage(Model &camera, unsigned char *buffer, int size, int waitMs);

private:
    static constexpr uint8_t kBulkEndpoint = 0x81;
    static constexpr int kPieceBytes = 0x100000;
    static constexpr uint8_t kReqStartStreaming = 0xA9;
    static constexpr uint8_t kReqStopStreaming = 0xAA;
    static constexpr uint16_t kFrameHead = 0x5A7E;
    static constexpr uint16_t kFrameTail = 0x3CF0;
    static constexpr uint16_t kRegBufferStatus = 35;
    static constexpr uint8_t kBufferIdle = 0x15;
    static constexpr uint8_t kBufferInSync = 0x10;
    static constexpr uint8_t kBufferHoldsFrame = 0x04;
    // A snap retries a failed transfer only this long after it started.
    static constexpr uint32_t kSnapRetryMs = 1000;
    static constexpr int kEmptyTransfersBeforeReset = 4;
    static constexpr int kMaxReloadAttempts = 2;
    static constexpr int kMaxSyncRestarts = 5;
    // Frames at least this long are regulated on the working thread.
    static constexpr uint64_t kAutoOnLoopUs = 100000;
    static constexpr uint32_t kAutoBandwidthWindowMs = 19999;
    static constexpr uint32_t kAutoBandwidthEventMs = 4999;
    static constexpr int kAutoBandwidthStep = 4;
    // One piece of a triggered frame waits this long before it is tried again.
    static constexpr uint32_t kTriggerPieceTimeoutMs = 1000;
    // After a transfer error the trigger loop waits this long before the
    // next frame, so that a device gone or broken does not keep it spinning.
    static constexpr unsigned kTriggerErrorPauseMs = 100;

    FpgaCaptureLoops(Model &camera, std::atomic<bool> *running)
        : m_Camera(camera), m_pRunning(running)
    {
    }

    static constexpr bool kFullFpga = kFpga == FpgaKind::Full;

    void WorkingLoop();
    // One pass of the loop; false ends the run.
    bool RunPass();
    // Sets how long the pass waits for its frame, after timing a long
    // exposure; false ends the run.
    bool PrepareWait(uint32_t periodUs);
    bool FrameAccepted();
    // A transfer that brought less than a frame; false when the pass ends
    // here without counting a lost frame.
    bool ShortFrame(int received, uint32_t periodUs);
    // Bad-frame bookkeeping and automatic bandwidth after a lost frame.
    void Supervise();
    // Runs one triggered exposure; false when sensor and FPGA never got in step.
    bool LongExposure();
    void ReadBufferStatus();
    void PublishExposureStatus();
    // Waits until the ring has copied the frame just accepted, then clears
    // its markers so that a stale frame never passes the check again; false
    // when the run was stopped meanwhile.
    bool ReleaseFrameBuffer(int frameSize);

    void TriggerLoop();
    // Receives one triggered frame of n pieces; false when it was lost.
    bool TriggeredFrame(int frameSize, int pieces);

    static Model &CameraOf(void *arg)
    {
        return *static_cast<Model *>(static_cast<CCameraBase *>(arg));
    }
    static void SleepMs(unsigned ms) { usleep(ms * 1000); }
    // Milliseconds from `since` to now on the wrapping tick clock.
    static uint32_t MsSince(uint32_t since) { return GetTickCount() - since; }

    Model &m_Camera;
    std::atomic<bool> *m_pRunning;

    // Counters and timers of one run of a loop.
    bool m_bSnap = false;
    int m_iFrameSize = 0;
    int m_iPieces = 0;
    uint32_t m_lSnapStart = 0;
    uint32_t m_lLastBad = 0;
    uint32_t m_lAutoStart = 0;
    uint32_t m_lWaitMs = 0;
    int m_iBad = 0;
    int m_iEmpty = 0;
    int m_iReloadAttempts = 0;
    bool m_bReload = false;
    uint8_t m_ucBufferStatus = 0;

    // Whether automatic bandwidth was on at the last pass of any camera of
    // this model.
    static std::atomic<bool> s_bLastAutoBandwidth;
};

template <typename Model, FpgaKind kFpga>
std::atomic<bool> FpgaCaptureLoops<Model, kFpga>::s_bLastAutoBandwidth{false};

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::WorkingLoop()
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    m_bSnap = cam.m_bSnap;
    m_lLastBad = m_lAutoStart = GetTickCount();
    cam.ResetDevice();
    SleepMs(50);
    cam.SendCMD(kReqStopStreaming);
    cam.StopSensorStreaming();
    cam.DbgPrint2(tag, "working thread begin!\n");

    m_iFrameSize = cam.GetRealImageSize();
    cam.m_iDroppedFrames = 0;
    if (cam.m_pCirBuf == nullptr || cam.m_pFrameBuf == nullptr) {
        cam.DbgPrint2(tag, "no frame buffers\n");
        PublishExposureStatus();
        return;
    }
    cam.m_pCirBuf->ResetCirBuff();
    m_iPieces = (m_iFrameSize + kPieceBytes - 1) / kPieceBytes;
    if (!m_bSnap) {
        cam.m_iAutoExpLimitUs = static_cast<int>(kAutoOnLoopUs);
        cam.StartAutoControlThr();
    }
    cam.SendCMD(kReqStartStreaming);
    cam.StartSensorStreaming();
    cam.ResetEndPoint(kBulkEndpoint);
    cam.initAsyncXfer(m_iFrameSize, m_iPieces, kPieceBytes, kBulkEndpoint, cam.m_pFrameBuf);
    m_lSnapStart = GetTickCount();

    while (*m_pRunning && RunPass()) {
    }

    cam.m_iDroppedFrames = 0;
    cam.StopSensorStreaming();
    cam.SendCMD(kReqStopStreaming);
    cam.ResetEndPoint(kBulkEndpoint);
    if (!m_bSnap)
        cam.m_pCirBuf->ResetCirBuff();
    cam.releaseAsyncXfer();
    if (!m_bSnap)
        cam.StopAutoControlThr();
    cam.DbgPrint2(tag, "working thread exit!\n");
    PublishExposureStatus();
}

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::PublishExposureStatus()
{
    const int result = m_Camera.m_iSnapResult;
    m_Camera.m_iExpStatus = result == ORU_EXP_WORKING ? ORU_EXP_FAILED : result;
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::RunPass()
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    if (m_bSnap && !m_bReload && MsSince(m_lSnapStart) > kSnapRetryMs) {
        cam.DbgPrint2(tag, "snap Exp: EXP_FAILED:%d\n", m_iBad);
        cam.m_iSnapResult = ORU_EXP_FAILED;
        return false;
    }

    const uint32_t periodUs = cam.m_iFrameTimeUs + cam.m_iTransferTimeUs;
    if (!PrepareWait(periodUs))
        return false;

    int received = 0;
    cam.startAsyncXfer(m_lWaitMs, periodUs / 1000 / m_iPieces + 100, &received, nullptr,
                       m_iFrameSize);
    if (!cam.m_bAutoBandwidth)
        s_bLastAutoBandwidth = false;
    if constexpr (kFullFpga) {
        ReadBufferStatus();
        if (m_ucBufferStatus != kBufferIdle)
            cam.DbgPrint2(tag, "buff status:0x%x\n", m_ucBufferStatus);
    }

    if (received >= m_iFrameSize) {
        const int words = m_iFrameSize / 2;
        const int inserted = cam.m_pCirBuf->InsertBuff(cam.m_pFrameBuf, m_iFrameSize, kFrameHead,
                                                       0, kFrameTail, words - 1, 1, words - 2);
        if (inserted == 0)
            return FrameAccepted();
        if (inserted == 1) {
            ++cam.m_iDroppedFrames;
            return true;
        }
        const uint16_t *frame = reinterpret_cast<const uint16_t *>(cam.m_pFrameBuf);
        cam.DbgPrint2(tag, "head:0x%x COUNT:%d tail:0x%x count:%d\n", frame[0], frame[1],
                      frame[words - 1], frame[words - 2]);
        ++m_iBad;
    } else if (!ShortFrame(received, periodUs)) {
        return true;
    }
    if (!m_bReload)
        ++cam.m_iDroppedFrames;
    Supervise();
    return true;
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::PrepareWait(uint32_t periodUs)
{
    Model &cam = m_Camera;
    const uint64_t exposureUs = cam.m_lExposure;
    if constexpr (kFullFpga) {
        const bool longExposure = cam.m_bLongExpMode;
        if (longExposure && m_bReload) {
            cam.FPGABufReload();
            cam.DbgPrint2("WorkingFunc", "Reload long exp data.\n");
            m_lWaitMs = 1000;
            return true;
        }
        // A stop during the exposure ends the run without the read-out.
        if (longExposure)
            return LongExposure() && *m_pRunning;
    }
    if (exposureUs >= periodUs)
        m_lWaitMs = static_cast<uint32_t>(exposureUs / 1000 + (exposureUs <= 999999 ? 1000 : 2000));
    else
        m_lWaitMs = periodUs / 500 + 50;
    return true;
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::ReleaseFrameBuffer(int frameSize)
{
    Model &cam = m_Camera;
    // The ring copies the frame on its own thread; the buffer is ours again
    // only once that copy is done.
    while (!cam.m_pCirBuf->WaitInsertIdle(100)) {
        if (!*m_pRunning)
            return false;
    }
    uint16_t *frame = reinterpret_cast<uint16_t *>(cam.m_pFrameBuf);
    const int words = frameSize / 2;
    frame[0] = frame[1] = frame[words - 2] = frame[words - 1] = 0;
    return true;
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::FrameAccepted()
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    if (!ReleaseFrameBuffer(m_iFrameSize))
        return false;
    if (m_bSnap) {
        cam.DbgPrint2(tag, "snap: EXP_SUCCESS\n");
        cam.m_iSnapResult = ORU_EXP_SUCCESS;
        return false;
    }
    const uint64_t periodUs = uint64_t(cam.m_iFrameTimeUs) + cam.m_iTransferTimeUs;
    if (cam.m_lExposure >= kAutoOnLoopUs || periodUs >= kAutoOnLoopUs) {
        if (cam.m_bAutoExp || cam.m_bAutoGain)
            cam.AutoExpGain(cam.m_pFrameBuf);
        if (cam.m_bAutoWB)
            cam.AutoWhiBal(cam.m_pFrameBuf);
    }
    m_bReload = false;
    return true;
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::ShortFrame(int received, uint32_t periodUs)
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    cam.DbgPrint2(tag, "data length wanted: %d, data length got: %d\n", m_iFrameSize, received);
    if (kFullFpga && cam.m_bLongExpMode && cam.m_bEnableDDR) {
        ReadBufferStatus();
        cam.DbgPrint2(tag, "Buffer status:%x\n", m_ucBufferStatus);
        const bool held = (m_ucBufferStatus & kBufferHoldsFrame) != 0;
        if (m_iReloadAttempts > kMaxReloadAttempts) {
            cam.DbgPrint2(tag, "USB cable has an exception, reload failed!\n");
            uint8_t gpif = 0;
            if (cam.GetGPIFStatus(&gpif))
                cam.DbgPrint2(tag, "GPIF Status: 0x%x\n", gpif);
            else
                cam.DbgPrint2(tag, "Get GPIF error, GPIF Status: 0x%x\n", gpif);
            m_iReloadAttempts = 0;
            m_bReload = false;
        } else if (held) {
            // Read the held frame again; the loss is not counted.
            m_bReload = true;
            ++m_iReloadAttempts;
            Supervise();
            return false;
        } else {
            m_iReloadAttempts = 0;
            cam.DbgPrint2(tag, "Data in cache is invalid, could not reload!\n");
            m_bReload = false;
        }
    }

    ++m_iBad;
    cam.DbgPrint2(tag, "get len:0x%x drop:%d  frametime:%dus waittime:%dms\n", received, m_iBad,
                  periodUs, m_lWaitMs);
    cam.GetFirmwareVer();
    cam.GetFPGAVer();
    if ((cam.m_bLongExpMode && m_bSnap) || received != 0)
        return true;

    ++m_iEmpty;
    cam.DbgPrint2(tag, "nothing get count:%d\n", m_iEmpty);
    if (m_iEmpty >= kEmptyTransfersBeforeReset) {
        cam.DbgPrint2(tag, "no frame more than 5, reset!\n");
        cam.ResetDevice();
        m_bReload = false;
        SleepMs(100);
        cam.StopSensorStreaming();
        cam.SendCMD(kReqStopStreaming);
        SleepMs(10);
        cam.SendCMD(kReqStartStreaming);
        cam.StartSensorStreaming();
        m_iEmpty = 0;
        m_iBad = 0;
    }
    return false;
}

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::Supervise()
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    cam.DbgPrint2(tag, "drop frames:%d\n", m_iBad);
    const uint32_t now = GetTickCount();
    const bool autoBandwidth = cam.m_bAutoBandwidth;
    if (autoBandwidth) {
        if (!s_bLastAutoBandwidth.exchange(true))
            m_lAutoStart = now;
    }
    if (autoBandwidth && now - m_lAutoStart <= kAutoBandwidthWindowMs) {
        if (m_iBad > 2) {
            const uint32_t delta = now - m_lLastBad;
            m_lLastBad = now;
            if (delta <= kAutoBandwidthEventMs) {
                cam.DbgPrint2(tag, "time from start:%d   time_delta:%d \n", now - m_lAutoStart,
                              delta);
                cam.SetFPSPerc(cam.m_iBandwidth - kAutoBandwidthStep, cam.m_bAutoBandwidth);
            }
            cam.DbgPrint2(tag, "BAD delta time:%d pkg:%x\n", delta, cam.m_iHMAX.load());
            m_iBad = 0;
        }
    } else if (m_iBad == 5) {
        cam.DbgPrint2(tag, "try lowing pkg!!\n");
    }
    cam.ResetEndPoint(kBulkEndpoint);
    m_iEmpty = 0;
}

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::ReadBufferStatus()
{
    m_ucBufferStatus = 0;
    m_Camera.ReadFPGAREG(kRegBufferStatus, &m_ucBufferStatus);
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::LongExposure()
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    SleepMs(15);
    ReadBufferStatus();
    for (int restarts = 0; (m_ucBufferStatus & kBufferInSync) == 0;) {
        cam.FPGAStop();
        SleepMs(5);
        cam.FPGAStart();
        SleepMs(20);
        ReadBufferStatus();
        if ((m_ucBufferStatus & kBufferInSync) == 0)
            cam.DbgPrint2(tag, "EC sync status:0x%x\n", m_ucBufferStatus);
        if (++restarts == kMaxSyncRestarts) {
            cam.GetFirmwareVer();
            cam.GetFPGAVer();
            return false;
        }
    }

    const uint64_t exposureUs = cam.m_lExposure;
    cam.DbgPrint2(tag, "Begin long exp %d\n", static_cast<int>(exposureUs / 1000));
    cam.EnableFPGATriggerSignal(true);
    if (exposureUs <= 1000999) {
        usleep(static_cast<useconds_t>(exposureUs / 1000 * 1000 - 200000));
    } else {
        const uint64_t totalMs = exposureUs / 1000;
        const uint32_t start = GetTickCount();
        for (int step = 1; *m_pRunning && cam.m_lExposure == exposureUs; ++step) {
            const int32_t elapsed = static_cast<int32_t>(GetTickCount() - start);
            if (static_cast<uint64_t>(elapsed < 0 ? 0 : elapsed) >= totalMs)
                break;
            SleepMs(100);
            // Sensor and FPGA idle for the rest of the exposure.
            if (step == 7)
                cam.SetSensorIdle(true);
            else if (step == 9)
                cam.EnableLowPower(true);
            else if (step == 11)
                cam.EnableFPGAXHSStop(true);
        }
    }
    cam.EnableLowPower(false);
    SleepMs(100);
    cam.SetSensorIdle(false);
    SleepMs(100);
    cam.EnableFPGAXHSStop(false);
    cam.EnableFPGATriggerSignal(false);
    m_iReloadAttempts = 0;
    m_lWaitMs = 1000;
    return true;
}

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::TriggerLoop()
{
    static const char *const tag = "TriggerFunc";
    Model &cam = m_Camera;
    cam.ResetDevice();
    SleepMs(50);
    cam.SendCMD(kReqStopStreaming);
    cam.StopSensorStreaming();
    cam.DbgPrint2(tag, "Trigger working thread begin!\n");

    // The sensor's own output, so that a frame the sensor bins is sized as
    // it arrives.
    const int frameSize = cam.GetRealImageSize();
    cam.m_iDroppedFrames = 0;
    if (cam.m_pCirBuf == nullptr || cam.m_pFrameBuf == nullptr) {
        cam.DbgPrint2(tag, "no frame buffers\n");
        return;
    }
    cam.m_pCirBuf->ResetCirBuff();
    cam.SendCMD(kReqStartStreaming);
    cam.StartSensorStreaming();
    cam.ResetEndPoint(kBulkEndpoint);

    const int pieces =
        cam.beginAsyncXfer(kBulkEndpoint, cam.m_pFrameBuf, frameSize, kTriggerPieceTimeoutMs);
    if (pieces < 0) {
        cam.DbgPrint2(tag, "Do not have enough memory to start the transfer.\n");
    } else {
        cam.DbgPrint2(tag, "Begin trigger async transfer %d times!\n", pieces);
        while (true) {
            if (!TriggeredFrame(frameSize, pieces)) {
                ReadBufferStatus();
                cam.DbgPrint2(tag, "Buffer status:%x\n", m_ucBufferStatus);
                if ((m_ucBufferStatus & kBufferHoldsFrame) != 0 && !m_bReload) {
                    m_bReload = true;
                } else {
                    m_bReload = false;
                    ++cam.m_iDroppedFrames;
                }
            }
            if (!*m_pRunning)
                break;
            if (m_bReload)
                cam.FPGABufReload();
        }
    }

    cam.m_iDroppedFrames = 0;
    cam.StopSensorStreaming();
    cam.SendCMD(kReqStopStreaming);
    cam.ResetEndPoint(kBulkEndpoint);
    cam.finishAsyncXfer(pieces < 0 ? 0 : pieces);
    cam.DbgPrint2(tag, "Trig working thread exit!\n");
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::TriggeredFrame(int frameSize, int pieces)
{
    static const char *const tag = "TriggerFunc";
    Model &cam = m_Camera;
    int total = 0;
    int received = 0;
    // Until the first piece comes, each time-out only means no trigger yet.
    int result = cam.waitForAsyncXfer(0, &received);
    total += received;
    while (result != 0) {
        cam.DbgPrint2(tag, "wait result is %d!\n", result);
        if (!*m_pRunning)
            return false;
        if (result != LIBUSB_ERROR_TIMEOUT) {
            SleepMs(kTriggerErrorPauseMs);
            return false;
        }
        result = cam.waitForAsyncXfer(0, &received);
        total += received;
    }
    for (int i = 1; i < pieces; ++i) {
        cam.waitForAsyncXfer(i, &received);
        total += received;
    }
    cam.DbgPrint2(tag, "wait result is %d!\n", 0);
    if (total != frameSize)
        return false;

    cam.DbgPrint2(tag, "Ext Trig:Get one Frame.\n");
    const int words = frameSize / 2;
    if (cam.m_pCirBuf->InsertBuff(cam.m_pFrameBuf, frameSize, kFrameHead, 0, kFrameTail,
                                  words - 1, 1, words - 2) != 0)
        return false;
    m_bReload = false;
    return ReleaseFrameBuffer(frameSize);
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::GetImage(Model &cam, unsigned char *buffer, int size, int waitMs)
{
    const IMAGE_TYPE type = cam.m_ImgType;
    const int width = cam.m_iWidth;
    const int height = cam.m_iHeight;
    const int outputBytes = width * height * Model::OutputBytesPerPixel(type);
    if (buffer == nullptr || size < outputBytes || cam.m_pCirBuf == nullptr ||
        cam.m_pImgBuf == nullptr)
        return false;

    int sensorWidth = 0;
    int sensorHeight = 0;
    cam.GetSensorOutputSize(&sensorWidth, &sensorHeight);
    const bool wide = cam.m_b16Bit;
    const int rowBytes = sensorWidth * (wide ? 2 : 1);
    const int frameBytes = rowBytes * sensorHeight;
    uint8_t *image = cam.m_pImgBuf;
    if (!cam.m_pCirBuf->ReadBuff(image, frameBytes, waitMs, nullptr))
        return false;

    // Hide the markers behind pixels of the same colour phase two rows away.
    if (sensorHeight > 2) {
        std::memcpy(image, image + 2 * rowBytes, 4);
        std::memcpy(image + frameBytes - 4, image + frameBytes - 4 - 2 * rowBytes, 4);
    }

    // What the sensor did not bin is binned in the read-out.
    const int softBin = width > 0 ? sensorWidth / width : 1;
    cam.FinishImage(buffer, width, height, softBin, type, wide);
    return true;
}
