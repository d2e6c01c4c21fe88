// The capture thread bodies and the frame read-out of the FX3 models whose
// FPGA sends the standard frame (head 0x5A7E, tail 0x3CF0, counter copies):
// the working loop that streams video and snaps into the frame ring (with the
// long-exposure trigger scheme and, on DDR models, reloads of the held
// frame), the trigger loop of the trigger camera modes (one transfer at a
// time, waiting for each trigger), and GetImage.
//
// Free-running video keeps two frames queued on the transfers, which fill
// ring slots in place, so that the camera never waits for the host between
// frames; snaps and long exposures queue one frame at a time. A frame given
// up after part of it came, or a whole one whose markers are wrong, may
// leave the bulk stream in the middle of a frame: the loop then restarts the
// stream, so that the next frame begins with the next transfer.
//
// Model is a CCameraBase descendant with these public members:
//   int GetRealImageSize();          bytes of one frame as the camera sends it
//   void GetSensorOutputSize(int *width, int *height);
//   bool StartSensorStreaming();
//   bool StopSensorStreaming();
//   void SetSensorIdle(bool idle);   the sensor idles for the rest of a long
//                                    exposure, and wakes for its read-out
//                                    (FpgaKind::Full only)
// The working loop runs through CaptureRun.
//
// Thread safety: WorkingFunc and TriggerFunc run on the camera's working and
// trigger threads (never both at once); GetImage on a caller's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>

#include "engine/CCameraBase.h"
#include "models/CaptureRun.h"
#include "models/ModelFamily.h"
#include "transport/FX3Protocol.h"
#include "transport/SectionLock.h"

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
    static constexpr uint16_t kFrameHead = 0x5A7E;
    static constexpr uint16_t kFrameTail = 0x3CF0;
    static constexpr int kEmptyTransfersBeforeReset = 4;
    static constexpr int kMaxReloadAttempts = 2;
    static constexpr int kMaxSyncRestarts = 5;
    // Sensor and FPGA take this long to wake at the end of a long exposure.
    static constexpr uint64_t kWakeUpMs = 200;
    static constexpr unsigned kExposureStepMs = 100;
    static constexpr int kPresenceCheckSteps = 5;
    // One piece of a triggered frame waits this long before it is tried again.
    static constexpr uint32_t kTriggerPieceTimeoutMs = 1000;
    // After a transfer error the trigger loop waits this long before the
    // next frame, so that a device gone or broken does not keep it spinning.
    static constexpr unsigned kTriggerErrorPauseMs = 100;

    FpgaCaptureLoops(Model &camera, std::atomic<bool> *running)
        : m_Camera(camera), m_pRunning(running), m_Run(camera, running, kBulkEndpoint, kPieceBytes)
    {
    }

    static constexpr bool kFullFpga = kFpga == FpgaKind::Full;

    void WorkingLoop();
    // One pass of the loop; false ends the run.
    bool RunPass();
    // How many frames the pass keeps queued.
    int QueueDepth() const;
    // A whole frame received into buffer: handed to the ring; false ends the
    // run, and *lost tells a frame lost on the way.
    bool WholeFrame(uint8_t *buffer, bool *lost);
    // Gives up the queued frames and starts the camera's stream afresh.
    void RestartStream();
    // Sets how long the pass waits for its frame, after timing a long
    // exposure; false ends the run.
    bool PrepareWait(uint32_t periodUs);
    bool FrameAccepted();
    // Counts a frame lost on its way in.
    void CountLostFrame();
    // Counts, from the counter an accepted frame carries, the frames since
    // the last accepted one that never arrived at all.
    void CountFramesNeverSent(uint16_t counter);
    // A transfer that brought less than a frame; false when the pass ends
    // here without counting a lost frame.
    bool ShortFrame(int received, uint32_t periodUs);
    // Bad-frame bookkeeping and automatic bandwidth after a lost frame.
    void Supervise();
    // Runs one triggered exposure; false when sensor and FPGA never got in step.
    bool LongExposure();
    // Waits waitMs of a long exposure of exposureUs in steps of at most
    // kExposureStepMs, on the tick clock; ends early when the run stops, the
    // exposure changes or the camera is gone, which a request every
    // kPresenceCheckSteps steps finds out. With idleSensor the sensor and
    // FPGA idle from the 7th, 9th and 11th step on.
    void ExposureWait(uint64_t exposureUs, uint64_t waitMs, bool idleSensor);
    void ReadBufferStatus();

    void TriggerLoop();
    // Receives one triggered frame of n pieces; false when it was lost.
    bool TriggeredFrame(int frameSize, int pieces);

    static Model &CameraOf(void *arg)
    {
        return *static_cast<Model *>(static_cast<CCameraBase *>(arg));
    }

    Model &m_Camera;
    std::atomic<bool> *m_pRunning;

    // Counters and timers of one run of a loop.
    CaptureRun<Model> m_Run;
    int m_iEmpty = 0;
    int m_iReloadAttempts = 0;
    bool m_bReload = false;
    uint8_t m_ucBufferStatus = 0;
    // Frame counter of the last accepted frame of this run, once there is one.
    bool m_bCounterSeen = false;
    uint16_t m_usLastCounter = 0;
    int m_iLostSinceAccepted = 0;
};

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::WorkingLoop()
{
    if (!m_Run.Prepare(50))
        return;
    m_Camera.SendCMD(FX3Request::kStartStreaming);
    m_Run.Start();
    while (m_Run.Running() && RunPass()) {
    }
    m_Run.Finish();
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::RunPass()
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    if (!m_bReload && m_Run.SnapTimedOut())
        return false;

    const uint32_t periodUs = cam.Settings().m_iFrameTimeUs + cam.Settings().m_iTransferTimeUs;
    if (!PrepareWait(periodUs))
        return false;

    const int frameSize = m_Run.m_iFrameSize;
    m_Run.QueueFrames(QueueDepth());
    int received = 0;
    bool cut = false;
    uint8_t *buffer =
        m_Run.WaitFrame(m_Run.m_lWaitMs, periodUs / 1000 / m_Run.m_iPieces + 100, &received, &cut);
    bool lost = false;
    bool going = true;
    if (buffer != nullptr && received >= frameSize)
        going = WholeFrame(buffer, &lost);
    else if (buffer != nullptr)
        m_Run.Release(buffer);
    // The frames still queued keep the link busy while this one is seen to;
    // a long exposure queues its frame only once the exposure has ended.
    if (going && !cam.Settings().m_bLongExpMode)
        m_Run.QueueFrames(QueueDepth());
    m_Run.AfterTransfer();
    if constexpr (kFullFpga) {
        ReadBufferStatus();
        if (m_ucBufferStatus != FPGABuffer::kIdle)
            cam.DbgPrint2(LogSeverity::Debug, tag, "buff status:0x%x\n", m_ucBufferStatus);
    }
    if (!going)
        return false;
    if (received < frameSize && !ShortFrame(received, periodUs))
        return true;
    if (received < frameSize || lost) {
        if (cut || received >= frameSize)
            RestartStream();
        if (!m_bReload)
            CountLostFrame();
        Supervise();
    }
    return true;
}

template <typename Model, FpgaKind kFpga>
int FpgaCaptureLoops<Model, kFpga>::QueueDepth() const
{
    return m_Run.m_bSnap || m_Camera.Settings().m_bLongExpMode ? 1 : CCameraFX3::kAsyncFrameSets;
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::WholeFrame(uint8_t *buffer, bool *lost)
{
    Model &cam = m_Camera;
    const int words = m_Run.m_iFrameSize / 2;
    const uint16_t *frame = reinterpret_cast<const uint16_t *>(buffer);
    // Read before the ring has it: a reader may take it at once.
    const uint16_t head = frame[0], counter = frame[1], tail = frame[words - 1],
                   counterCopy = frame[words - 2];
    const int inserted = m_Run.Publish(buffer, kFrameHead, 0, kFrameTail, words - 1, 1, words - 2);
    if (inserted == 0) {
        CountFramesNeverSent(counter);
        return FrameAccepted();
    }
    if (inserted == 1) {
        CountLostFrame();
        return true;
    }
    cam.DbgPrint2(LogSeverity::Debug, "WorkingFunc", "head:0x%x COUNT:%d tail:0x%x count:%d\n",
                  head, counter, tail, counterCopy);
    ++m_Run.m_iBad;
    *lost = true;
    return true;
}

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::RestartStream()
{
    Model &cam = m_Camera;
    m_Run.CancelFrames();
    // In long-exposure mode the frame stays held for a reload.
    if (cam.Settings().m_bLongExpMode)
        return;
    cam.StopSensorStreaming();
    cam.SendCMD(FX3Request::kStopStreaming);
    cam.SendCMD(FX3Request::kStartStreaming);
    cam.StartSensorStreaming();
}

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::CountLostFrame()
{
    m_Camera.GetCaptureState().AddDroppedFrames(1);
    ++m_iLostSinceAccepted;
}

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::CountFramesNeverSent(uint16_t counter)
{
    // The frames between two accepted ones that were already counted as
    // lost (refused, damaged, short, timed out) are not counted again.
    if (m_bCounterSeen) {
        const int missed = ModelFamily::FramesMissed(m_usLastCounter, counter);
        if (missed > m_iLostSinceAccepted)
            m_Camera.GetCaptureState().AddDroppedFrames(missed - m_iLostSinceAccepted);
    }
    m_bCounterSeen = true;
    m_usLastCounter = counter;
    m_iLostSinceAccepted = 0;
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::PrepareWait(uint32_t periodUs)
{
    Model &cam = m_Camera;
    const uint64_t exposureUs = cam.Settings().m_lExposure;
    if constexpr (kFullFpga) {
        const bool longExposure = cam.Settings().m_bLongExpMode;
        if (longExposure && m_bReload) {
            cam.FPGABufReload();
            cam.DbgPrint2(LogSeverity::Debug, "WorkingFunc", "Reload long exp data.\n");
            m_Run.m_lWaitMs = 1000;
            return true;
        }
        // A stop during the exposure ends the run without the read-out.
        if (longExposure)
            return LongExposure() && *m_pRunning;
    }
    if (exposureUs >= periodUs)
        m_Run.m_lWaitMs =
            static_cast<uint32_t>(exposureUs / 1000 + (exposureUs <= 999999 ? 1000 : 2000));
    else
        m_Run.m_lWaitMs = periodUs / 500 + 50;
    return true;
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::FrameAccepted()
{
    if (!m_Run.FrameDone())
        return false;
    m_bReload = false;
    return true;
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::ShortFrame(int received, uint32_t periodUs)
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    cam.DbgPrint2(LogSeverity::Warning, tag, "data length wanted: %d, data length got: %d\n",
                  m_Run.m_iFrameSize, received);
    if (kFullFpga && cam.Settings().m_bLongExpMode && cam.Settings().m_bEnableDDR) {
        ReadBufferStatus();
        cam.DbgPrint2(LogSeverity::Debug, tag, "Buffer status:%x\n", m_ucBufferStatus);
        const bool held = (m_ucBufferStatus & FPGABuffer::kHoldsFrame) != 0;
        if (m_iReloadAttempts > kMaxReloadAttempts) {
            cam.DbgPrint2(LogSeverity::Error, tag, "USB cable has an exception, reload failed!\n");
            uint8_t gpif = 0;
            if (cam.GetGPIFStatus(&gpif))
                cam.DbgPrint2(LogSeverity::Debug, tag, "GPIF Status: 0x%x\n", gpif);
            else
                cam.DbgPrint2(LogSeverity::Error, tag, "Get GPIF error, GPIF Status: 0x%x\n", gpif);
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
            cam.DbgPrint2(LogSeverity::Error, tag, "Data in cache is invalid, could not reload!\n");
            m_bReload = false;
        }
    }

    ++m_Run.m_iBad;
    cam.DbgPrint2(LogSeverity::Warning, tag, "get len:0x%x drop:%d  frametime:%dus waittime:%dms\n",
                  received, m_Run.m_iBad, periodUs, m_Run.m_lWaitMs);
    cam.GetFirmwareVer();
    cam.GetFPGAVer();
    if ((cam.Settings().m_bLongExpMode && m_Run.m_bSnap) || received != 0)
        return true;

    ++m_iEmpty;
    cam.DbgPrint2(LogSeverity::Warning, tag, "nothing get count:%d\n", m_iEmpty);
    if (m_iEmpty >= kEmptyTransfersBeforeReset) {
        cam.DbgPrint2(LogSeverity::Warning, tag, "no frame more than 5, reset!\n");
        m_Run.CancelFrames();
        cam.ResetDevice();
        m_bReload = false;
        ModelFamily::SleepMs(100);
        cam.StopSensorStreaming();
        cam.SendCMD(FX3Request::kStopStreaming);
        ModelFamily::SleepMs(10);
        cam.SendCMD(FX3Request::kStartStreaming);
        cam.StartSensorStreaming();
        m_iEmpty = 0;
        m_Run.m_iBad = 0;
        // The camera may count its frames afresh after the reset.
        m_bCounterSeen = false;
    }
    return false;
}

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::Supervise()
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    cam.DbgPrint2(LogSeverity::Warning, tag, "drop frames:%d\n", m_Run.m_iBad);
    if (!m_Run.RegulateBandwidth() && m_Run.m_iBad == 5)
        cam.DbgPrint2(LogSeverity::Warning, tag, "try lowing pkg!!\n");
    cam.ResetEndPoint(kBulkEndpoint);
    m_iEmpty = 0;
}

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::ReadBufferStatus()
{
    m_ucBufferStatus = 0;
    m_Camera.ReadFPGAREG(FPGARegister::kBufferStatus, &m_ucBufferStatus);
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::LongExposure()
{
    static const char *const tag = "WorkingFunc";
    Model &cam = m_Camera;
    ModelFamily::SleepMs(15);
    ReadBufferStatus();
    for (int restarts = 0; (m_ucBufferStatus & FPGABuffer::kInSync) == 0;) {
        cam.FPGAStop();
        ModelFamily::SleepMs(5);
        cam.FPGAStart();
        ModelFamily::SleepMs(20);
        ReadBufferStatus();
        if ((m_ucBufferStatus & FPGABuffer::kInSync) == 0)
            cam.DbgPrint2(LogSeverity::Debug, tag, "EC sync status:0x%x\n", m_ucBufferStatus);
        if (++restarts == kMaxSyncRestarts) {
            cam.GetFirmwareVer();
            cam.GetFPGAVer();
            return false;
        }
    }

    const uint64_t exposureUs = cam.Settings().m_lExposure;
    cam.DbgPrint2(LogSeverity::Debug, tag, "Begin long exp %d\n",
                  static_cast<int>(exposureUs / 1000));
    cam.EnableFPGATriggerSignal(true);
    // Up to about a second the exposure is one wait, shortened by the time
    // the wake-up below takes; longer ones idle sensor and FPGA meanwhile.
    // An exposure shortened since the pass chose this path has nothing left
    // to wait for.
    const uint64_t exposureMs = exposureUs / 1000;
    if (exposureUs <= 1000999)
        ExposureWait(exposureUs, exposureMs > kWakeUpMs ? exposureMs - kWakeUpMs : 0, false);
    else
        ExposureWait(exposureUs, exposureMs, true);
    cam.EnableLowPower(false);
    ModelFamily::SleepMs(100);
    cam.SetSensorIdle(false);
    ModelFamily::SleepMs(100);
    cam.EnableFPGAXHSStop(false);
    cam.EnableFPGATriggerSignal(false);
    m_iReloadAttempts = 0;
    m_Run.m_lWaitMs = 1000;
    return true;
}

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::ExposureWait(uint64_t exposureUs, uint64_t waitMs,
                                                  bool idleSensor)
{
    Model &cam = m_Camera;
    const uint32_t start = GetTickCount();
    for (int step = 1; m_Run.Running() && cam.Settings().m_lExposure == exposureUs; ++step) {
        // A tick that went backwards counts from 0.
        const int32_t elapsed = static_cast<int32_t>(GetTickCount() - start);
        const uint64_t doneMs = static_cast<uint64_t>(elapsed < 0 ? 0 : elapsed);
        if (doneMs >= waitMs)
            break;
        const uint64_t leftMs = waitMs - doneMs;
        ModelFamily::SleepMs(leftMs < kExposureStepMs ? static_cast<unsigned>(leftMs)
                                                      : kExposureStepMs);
        if (idleSensor && step == 7)
            cam.SetSensorIdle(true);
        else if (idleSensor && step == 9)
            cam.EnableLowPower(true);
        else if (idleSensor && step == 11)
            cam.EnableFPGAXHSStop(true);
        else if (step % kPresenceCheckSteps == 0)
            ReadBufferStatus();
    }
}

template <typename Model, FpgaKind kFpga>
void FpgaCaptureLoops<Model, kFpga>::TriggerLoop()
{
    static const char *const tag = "TriggerFunc";
    Model &cam = m_Camera;
    cam.ResetDevice();
    ModelFamily::SleepMs(50);
    cam.SendCMD(FX3Request::kStopStreaming);
    cam.StopSensorStreaming();
    cam.DbgPrint2(LogSeverity::Info, tag, "Trigger working thread begin!\n");

    // The sensor's own output, so that a frame the sensor bins is sized as
    // it arrives.
    const int frameSize = CaptureRun<Model>::FrameSize(cam);
    cam.GetCaptureState().ResetDroppedFrames();
    if (cam.GetCirBuf() == nullptr || cam.GetFrameBuf() == nullptr || frameSize <= 0) {
        cam.DbgPrint2(LogSeverity::Error, tag, "no frame buffers\n");
        return;
    }
    cam.GetCirBuf()->ResetCirBuff();
    cam.SendCMD(FX3Request::kStartStreaming);
    cam.StartSensorStreaming();
    cam.ResetEndPoint(kBulkEndpoint);

    const int pieces =
        cam.beginAsyncXfer(kBulkEndpoint, cam.GetFrameBuf(), frameSize, kTriggerPieceTimeoutMs);
    if (pieces < 0) {
        cam.DbgPrint2(LogSeverity::Error, tag,
                      "Do not have enough memory to start the transfer.\n");
    } else {
        cam.DbgPrint2(LogSeverity::Debug, tag, "Begin trigger async transfer %d times!\n", pieces);
        while (true) {
            if (!TriggeredFrame(frameSize, pieces)) {
                ReadBufferStatus();
                cam.DbgPrint2(LogSeverity::Debug, tag, "Buffer status:%x\n", m_ucBufferStatus);
                if ((m_ucBufferStatus & FPGABuffer::kHoldsFrame) != 0 && !m_bReload) {
                    m_bReload = true;
                } else {
                    m_bReload = false;
                    cam.GetCaptureState().AddDroppedFrames(1);
                }
            }
            if (!m_Run.Running())
                break;
            if (m_bReload)
                cam.FPGABufReload();
        }
    }

    cam.GetCaptureState().ResetDroppedFrames();
    cam.StopSensorStreaming();
    cam.SendCMD(FX3Request::kStopStreaming);
    cam.ResetEndPoint(kBulkEndpoint);
    cam.finishAsyncXfer(pieces < 0 ? 0 : pieces);
    cam.DbgPrint2(LogSeverity::Info, tag, "Trig working thread exit!\n");
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
        cam.DbgPrint2(LogSeverity::Debug, tag, "wait result is %d!\n", result);
        if (!*m_pRunning)
            return false;
        if (result != LIBUSB_ERROR_TIMEOUT) {
            ModelFamily::SleepMs(kTriggerErrorPauseMs);
            return false;
        }
        result = cam.waitForAsyncXfer(0, &received);
        total += received;
    }
    for (int i = 1; i < pieces; ++i) {
        cam.waitForAsyncXfer(i, &received);
        total += received;
    }
    cam.DbgPrint2(LogSeverity::Debug, tag, "wait result is %d!\n", 0);
    if (total != frameSize)
        return false;

    cam.DbgPrint2(LogSeverity::Debug, tag, "Ext Trig:Get one Frame.\n");
    const int words = frameSize / 2;
    if (cam.GetCirBuf()->InsertBuff(cam.GetFrameBuf(), frameSize, kFrameHead, 0, kFrameTail,
                                    words - 1, 1, words - 2) != 0)
        return false;
    m_bReload = false;
    // A stale frame must never pass the check again.
    uint16_t *frame = reinterpret_cast<uint16_t *>(cam.GetFrameBuf());
    frame[0] = frame[1] = frame[words - 2] = frame[words - 1] = 0;
    return true;
}

template <typename Model, FpgaKind kFpga>
bool FpgaCaptureLoops<Model, kFpga>::GetImage(Model &cam, unsigned char *buffer, int size,
                                              int waitMs)
{
    // The ROI as one whole: a read during an ROI change must not size its
    // copy from half the new one.
    IMAGE_TYPE type;
    int width, height, sensorWidth = 0, sensorHeight = 0;
    bool wide;
    {
        SectionLock roi(cam.m_csRoi);
        type = cam.Settings().m_ImgType;
        width = cam.Settings().m_iWidth;
        height = cam.Settings().m_iHeight;
        cam.GetSensorOutputSize(&sensorWidth, &sensorHeight);
        wide = cam.Settings().m_b16Bit;
    }
    if (!ModelFamily::CanDeliver(cam, buffer, size, width, height, type))
        return false;

    const int rowBytes = sensorWidth * (wide ? 2 : 1);
    const int frameBytes = rowBytes * sensorHeight;
    // What the sensor did not bin is binned in the read-out.
    const int softBin = width > 0 ? sensorWidth / width : 1;
    // A raw frame is finished in the caller's buffer: one copy out of the ring.
    uint8_t *image = cam.FinishesInPlace(buffer, softBin, type, wide) ? buffer : cam.GetImgBuf();
    if (!cam.ReadFrame(image, frameBytes, waitMs))
        return false;

    // Hide the markers behind pixels of the same colour phase two rows away.
    if (sensorHeight > 2) {
        std::memcpy(image, image + 2 * rowBytes, 4);
        std::memcpy(image + frameBytes - 4, image + frameBytes - 4 - 2 * rowBytes, 4);
    }

    cam.FinishImage(image, buffer, width, height, softBin, type, wide);
    return true;
}
