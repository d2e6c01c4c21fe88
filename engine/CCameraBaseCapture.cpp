// Capture lifecycle of the camera object: starting and stopping video and snap
// capture on the working or trigger thread, the snap hand-over, and the
// camera (trigger) modes with their FPGA trigger set-up.
#include "engine/CCameraBase.h"

#include <cstring>

#include "log/DbgPrint.h"
#include "transport/FX3Protocol.h"
#include "transport/SectionLock.h"

namespace {

constexpr int kSnapWaitMs = 10000;
// A frame read waits on the ring in slices of this, so that a camera pulled
// out ends the wait soon.
constexpr int kFrameWaitSliceMs = 100;
constexpr uint8_t kEdgeTriggerFirst = 0xA0;
constexpr uint8_t kLevelTriggerFirst = 0xC0;
// Gamma 50 leaves the image as it is.
constexpr int kGammaNeutral = 50;

// How the FPGA trigger unit is set for each camera mode. A field of -1 is
// left as it is; for the enable, -1 follows the long-exposure mode.
struct TriggerSetup {
    int iEnable;
    int iSource; // 1 external, 0 software
    int iSoftMode;
    int iType;  // 1 edge, 0 level
    int iValid; // 1 rising/high, 0 falling/low
};

constexpr TriggerSetup kTriggerSetup[] = {
    {-1, 0, 1, -1, -1}, // normal
    {1, 0, 0, 1, 1},    // soft edge
    {1, 1, 0, 1, 1},    // rising edge
    {1, 1, 0, 1, 0},    // falling edge
    {1, 0, 0, 0, 1},    // soft level
    {1, 1, 0, 0, 1},    // high level
    {1, 1, 0, 0, 0},    // low level
};
static_assert(sizeof kTriggerSetup / sizeof kTriggerSetup[0] == MODE_TRIG_LOW_LEVEL + 1,
              "one trigger set-up per camera mode");

} // namespace

bool CCameraBase::IsCaptureRunning()
{
    return m_WorkThread.IsRunning() || m_TrigThread.IsRunning();
}

ORU_EXPOSURE_STATUS CCameraBase::GetExpStatus()
{
    if (m_CaptureState.IsSnap() && m_WorkThread.IsRunning())
        return ORU_EXP_WORKING;
    return m_CaptureState.ExpStatus();
}

void CCameraBase::StopThreads()
{
    m_WorkThread.Stop();
    m_TrigThread.Stop();
    m_AutoCtrlThread.Stop();
}

void CCameraBase::BeginInit(ThreadFunc working, ThreadFunc trigger)
{
    m_WorkThread.InitFuncPt(working);
    m_TrigThread.InitFuncPt(trigger);
    InitVariable();
}

bool CCameraBase::StartCapture(bool snap)
{
    SectionLock capture(m_csCapture);
    if (!m_bOpen || IsRemoved())
        return false;
    if (IsCaptureRunning())
        return true;
    m_CaptureState.Begin(snap);
    DbgPrint2(LogSeverity::Info, "StartCapture", "start capture create thread\n");
    ThreadCtrl &thread = m_iCameraMode != MODE_NORMAL ? m_TrigThread : m_WorkThread;
    if (!thread.Start(this)) {
        m_CaptureState.FailStart();
        return false;
    }
    return true;
}

bool CCameraBase::StartExposure()
{
    return StartCapture(true);
}

bool CCameraBase::StopCapture()
{
    SectionLock capture(m_csCapture);
    if (!IsCaptureRunning())
        return true;
    if (!m_bOpen)
        return false;
    // A snap saves when the camera closes.
    if (!m_CaptureState.IsSnap())
        SaveSetting();
    DbgPrint2(LogSeverity::Info, "StopCapture", "stop capture\n");
    DbgPrint2(LogSeverity::Debug, "StopCapture", ">> wait Working thread exit\n");
    m_WorkThread.Stop();
    m_TrigThread.Stop();
    DbgPrint2(LogSeverity::Debug, "StopCapture", "<< wait Working thread exit\n");
    return true;
}

bool CCameraBase::GetImageAfterExp(unsigned char *buffer, int size)
{
    if (m_CaptureState.ExpStatus() != ORU_EXP_SUCCESS)
        return false;
    const bool read = GetImage(buffer, size, kSnapWaitMs);
    m_CaptureState.ImageTaken();
    return read;
}

bool CCameraBase::ReadFrame(uint8_t *dest, int length, int waitMs)
{
    if (m_pCirBuf == nullptr)
        return false;
    // Negative waits other than -1 do not wait at all.
    const bool limited = waitMs != -1;
    const uint32_t limitMs = waitMs < 0 ? 0 : static_cast<uint32_t>(waitMs);
    const uint32_t start = GetTickCount();
    for (;;) {
        const uint32_t elapsed = GetTickCount() - start;
        const uint32_t left = elapsed < limitMs ? limitMs - elapsed : 0;
        const int slice =
            !limited || left > kFrameWaitSliceMs ? kFrameWaitSliceMs : static_cast<int>(left);
        if (m_pCirBuf->ReadBuff(dest, length, slice, nullptr))
            return true;
        if (IsRemoved() || (limited && left <= kFrameWaitSliceMs))
            return false;
    }
}

OruStatus CCameraBase::CameraModeCheck()
{
    uint8_t caps = 0;
    const OruStatus result = ReadFPGAREG(FPGARegister::kVersionLayout, &caps);
    m_Model.m_Caps.bTrigger = caps >= kEdgeTriggerFirst;
    m_Model.m_Caps.bEdgeTrigger = caps >= kEdgeTriggerFirst;
    m_Model.m_Caps.bLevelTrigger = caps >= kLevelTriggerFirst;
    return result;
}

ORU_ERROR_CODE CCameraBase::SetCameraMode(CAM_MODE mode)
{
    DbgPrint2(LogSeverity::Info, "SetCameraMode", "set camera mode %d\n", static_cast<int>(mode));
    // No capture may start between the check and the new mode.
    SectionLock capture(m_csCapture);
    if (IsCaptureRunning())
        return ORU_ERROR_INVALID_SEQUENCE;
    if (mode < MODE_NORMAL || mode > MODE_TRIG_LOW_LEVEL)
        return ORU_ERROR_INVALID_MODE;
    const bool edgeMode = mode >= MODE_TRIG_SOFT_EDGE && mode <= MODE_TRIG_FALL_EDGE;
    const bool levelMode = mode >= MODE_TRIG_SOFT_LEVEL;
    if (!m_Model.m_Caps.bTrigger && mode > MODE_NORMAL)
        return ORU_ERROR_INVALID_MODE;
    if (m_Model.m_Caps.bEdgeTrigger && !m_Model.m_Caps.bLevelTrigger && levelMode)
        return ORU_ERROR_INVALID_MODE;
    if (m_Model.m_Caps.bLevelTrigger && !m_Model.m_Caps.bEdgeTrigger && edgeMode)
        return ORU_ERROR_INVALID_MODE;
    if (mode == m_iCameraMode)
        return ORU_SUCCESS;
    SelectCameraMode(mode);
    m_iCameraMode = mode;
    return ORU_SUCCESS;
}

bool CCameraBase::SelectCameraMode(CAM_MODE mode)
{
    if (IsCaptureRunning())
        StopCapture();
    FPGAStop();
    if (mode != m_iCameraMode && mode >= MODE_NORMAL && mode <= MODE_TRIG_LOW_LEVEL) {
        const TriggerSetup &setup = kTriggerSetup[mode];
        EnableFPGATriggerMode(setup.iEnable < 0 ? m_bLongExpMode.load() : setup.iEnable != 0);
        SelectExtTrigSource(setup.iSource != 0);
        SelectExtTrigSoftMode(setup.iSoftMode != 0);
        if (setup.iType >= 0)
            SelectExtTrigType(setup.iType != 0);
        if (setup.iValid >= 0)
            SelectExtTrigValidType(setup.iValid != 0);
    }
    m_iCameraMode = mode;
    // Normal and trigger modes take different exposure paths.
    SetExp(m_lExposure, m_bAutoExp);
    return true;
}

void CCameraBase::NoTriggerFunc(std::atomic<bool> *, void *) {}

int CCameraBase::OutputBytesPerPixel(IMAGE_TYPE type)
{
    switch (type) {
    case IMAGE_TYPE_RGB24: return 3;
    case IMAGE_TYPE_YUV422:
    case IMAGE_TYPE_RAW16: return 2;
    case IMAGE_TYPE_WORD32: return 4;
    default: return 1;
    }
}

bool CCameraBase::FinishesInPlace(unsigned char *buffer, int softBin, IMAGE_TYPE type, bool wide)
{
    // The dark frame being taken reads a whole sensor's worth of pixels.
    const bool raw = (type == IMAGE_TYPE_8BIT && m_bRawOutput) || type == IMAGE_TYPE_RAW16;
    return raw && softBin == 1 && !m_DarkFrame.IsRecording() &&
           (!wide || reinterpret_cast<uintptr_t>(buffer) % alignof(uint16_t) == 0);
}

void CCameraBase::FinishImage(uint8_t *image, unsigned char *buffer, int width, int height,
                              int softBin, IMAGE_TYPE type, bool wide)
{
    const int sensorWidth = width * softBin;
    const int sensorHeight = height * softBin;
    const int outputBytes = width * height * OutputBytesPerPixel(type);
    uint16_t *pixels16 = reinterpret_cast<uint16_t *>(image);
    const int gamma = m_iGamma;
    if (wide) {
        if (gamma != kGammaNeutral)
            m_Algorithm.Gamma(pixels16, m_pGammaTable16.get(), sensorWidth, sensorHeight);
    } else {
        DoGetDark(image);
        SubtractDark(image);
        if (gamma != kGammaNeutral)
            m_Algorithm.Gamma(image, m_GammaTable8, sensorWidth, sensorHeight);
    }
    HandleHotPixels(image);

    if (softBin > 1) {
        if (m_bMonoBin)
            m_Algorithm.MonoBin(image, pixels16, width, height, softBin, wide);
        else
            m_Algorithm.ColorRAWBin(image, pixels16, width, height, softBin, wide);
    }
    const bool flipVert = m_bFlipVert;
    const bool flipHoriz = m_bFlipHoriz;
    m_Algorithm.SoftMisc(image, width, height, wide, flipVert, flipHoriz);

    switch (type) {
    case IMAGE_TYPE_8BIT:
        if (!m_bRawOutput)
            m_Algorithm.BayerConv(image, buffer, width, height, IMAGE_TYPE_8BIT, flipVert,
                                  flipHoriz);
        else if (image != buffer)
            std::memcpy(buffer, image, static_cast<size_t>(outputBytes));
        break;
    case IMAGE_TYPE_RGB24:
    case IMAGE_TYPE_YUV422:
        m_Algorithm.BayerConv(image, buffer, width, height, type, flipVert, flipHoriz);
        break;
    case IMAGE_TYPE_WORD32:
        // The caller's buffer need not be aligned for 32-bit stores.
        for (int i = 0; i < width * height; ++i) {
            const uint32_t p = pixels16[i];
            const uint32_t word = p + p * 1024 + p * 1048576;
            std::memcpy(buffer + 4 * i, &word, 4);
        }
        break;
    case IMAGE_TYPE_RAW16:
        if (image != buffer)
            std::memcpy(buffer, image, static_cast<size_t>(outputBytes));
        break;
    }
    if (m_bTimeMark)
        AddTimeMark(buffer, width, type);
}
