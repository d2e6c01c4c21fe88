// The ORU functions that act on an opened camera. Each runs its body under its
// own lock of the camera's lock set (CameraCall), so calls of one function on
// one camera are serialised while different functions run concurrently.
#include <atomic>

#include "OruVersion.h"
#include "api/CameraRegistry.h"
#include "engine/CCameraBase.h"
#include "log/DbgPrint.h"

namespace {

// Lock number of each function within a camera's lock set.
enum FlatLock {
    kLockNumOfControls = 2,
    kLockControlCaps = 3,
    kLockGetControl = 4,
    kLockSetControl = 5,
    kLockSetROI = 6,
    kLockGetROI = 7,
    kLockSetStartPos = 8,
    kLockGetStartPos = 9,
    kLockDroppedFrames = 10,
    kLockEnableDark = 11,
    kLockDisableDark = 12,
    kLockStartVideo = 13,
    kLockStopVideo = 14,
    kLockVideoData = 15,
    kLockStartExposure = 16,
    kLockStopExposure = 17,
    kLockExpStatus = 18,
    kLockDataAfterExp = 19,
    kLockGuideOn = 20,
    kLockGuideOff = 21,
    kLockGetID = 22,
    kLockSetID = 23,
    kLockGainOffset = 24,
    kLockSupportMode = 25,
    kLockGetMode = 26,
    kLockSetMode = 27,
    kLockSoftTrigger = 28,
    kLockSerialNumber = 29,
    kLockSetTrigOutput = 44,
    kLockGetTrigOutput = 45,
    kLockEnableDebugLog = 47,
    kLockDebugLogEnabled = 48,
    kLockLMHGainOffset = 50,
};

// Bytes of one output frame of the ROI last accepted, per camera ID.
std::atomic<int32_t> g_frameSize[kMaxCameras];

// A null output pointer is refused instead of crashing the process.
template <typename... Pointers>
bool AnyNull(Pointers... pointers)
{
    return ((pointers == nullptr) || ...);
}

ORU_ERROR_CODE ToResult(bool ok, ORU_ERROR_CODE failure)
{
    return ok ? ORU_SUCCESS : failure;
}

// ORU_IMG_TYPE -> engine output format and bytes per pixel.
struct ImageTypeRow {
    bool bRawOutput;
    IMAGE_TYPE internalType;
    int iBytesPerPixel;
};
constexpr ImageTypeRow kImageTypes[] = {
    {true, IMAGE_TYPE_8BIT, 1},   // RAW8
    {false, IMAGE_TYPE_RGB24, 3}, // RGB24
    {true, IMAGE_TYPE_RAW16, 2},  // RAW16
    {false, IMAGE_TYPE_8BIT, 1},  // Y8
};

ORU_IMG_TYPE PublicImageType(IMAGE_TYPE internalType, bool rawOutput)
{
    if (internalType == IMAGE_TYPE_RGB24)
        return ORU_IMG_RGB24;
    if (internalType == IMAGE_TYPE_RAW16)
        return ORU_IMG_RAW16;
    if (internalType == IMAGE_TYPE_8BIT && rawOutput)
        return ORU_IMG_RAW8;
    return ORU_IMG_Y8;
}

} // namespace

const char *ORUGetSDKVersion(void)
{
    return ORU_PROJECT_VERSION;
}

ORU_ERROR_CODE ORUGetNumOfControls(int id, int *count)
{
    return CameraCall(id, kLockNumOfControls, [count](CCameraBase *camera) {
        if (AnyNull(count))
            return ORU_ERROR_GENERAL_ERROR;
        *count = camera->GetNumOfControls();
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUGetControlCaps(int id, int index, ORU_CONTROL_CAPS *caps)
{
    return CameraCall(id, kLockControlCaps, [index, caps](CCameraBase *camera) {
        if (AnyNull(caps))
            return ORU_ERROR_GENERAL_ERROR;
        return ToResult(camera->GetControlCaps(index, caps), ORU_ERROR_INVALID_CONTROL_TYPE);
    });
}

ORU_ERROR_CODE ORUGetControlValue(int id, ORU_CONTROL_TYPE type, int32_t *value, ORU_BOOL *is_auto)
{
    return CameraCall(id, kLockGetControl, [type, value, is_auto](CCameraBase *camera) {
        if (AnyNull(value, is_auto))
            return ORU_ERROR_GENERAL_ERROR;
        long engineValue = 0;
        const ORU_ERROR_CODE result = camera->GetControlValue(type, &engineValue, is_auto);
        *value = static_cast<int32_t>(engineValue);
        return result;
    });
}

ORU_ERROR_CODE ORUSetControlValue(int id, ORU_CONTROL_TYPE type, int32_t value, ORU_BOOL is_auto)
{
    return CameraCall(id, kLockSetControl, [id, type, value, is_auto](CCameraBase *camera) {
        DbgPrint(LogSeverity::Info, -1, "ORUSetControlValue",
                 "set camera ID %d: control %d, val %ld, auto %d\n", id, type,
                 static_cast<long>(value), is_auto);
        return camera->SetControlValue(type, value, is_auto == ORU_TRUE);
    });
}

ORU_ERROR_CODE ORUSetROIFormat(int id, int width, int height, int bin, ORU_IMG_TYPE type)
{
    return CameraCall(id, kLockSetROI, [id, width, height, bin, type](CCameraBase *camera) {
        DbgPrint(LogSeverity::Info, -1, "ORUSetROIFormat",
                 "set camera ID %d: width:%d, height:%d, bin:%d, ImgType:%d\n", id, width, height,
                 bin, type);
        if (static_cast<unsigned>(type) > ORU_IMG_Y8)
            return ORU_ERROR_INVALID_IMGTYPE;
        const ImageTypeRow &row = kImageTypes[type];
        const bool wasRawOutput = camera->Settings().m_bRawOutput;
        camera->StoreRawOutput(row.bRawOutput);
        if (!camera->SetResolution(width, height, bin, row.internalType)) {
            // A refused ROI leaves the format as it was, RAW8 and Y8 alike.
            camera->StoreRawOutput(wasRawOutput);
            return ORU_ERROR_INVALID_SIZE;
        }
        g_frameSize[id] = width * height * row.iBytesPerPixel;
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUGetROIFormat(int id, int *width, int *height, int *bin, ORU_IMG_TYPE *type)
{
    return CameraCall(id, kLockGetROI, [width, height, bin, type](CCameraBase *camera) {
        if (AnyNull(width, height, bin, type))
            return ORU_ERROR_GENERAL_ERROR;
        *width = camera->Settings().m_iWidth;
        *height = camera->Settings().m_iHeight;
        *bin = camera->Settings().m_iBin;
        *type = PublicImageType(camera->Settings().m_ImgType, camera->Settings().m_bRawOutput);
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUSetStartPos(int id, int x, int y)
{
    return CameraCall(id, kLockSetStartPos, [id, x, y](CCameraBase *camera) {
        DbgPrint(LogSeverity::Info, -1, "ORUSetStartPos", "set camera ID %d: StartPos: (%d,%d)\n",
                 id, x, y);
        const int bin = camera->Settings().m_iBin;
        return ToResult(camera->SetStartPos(x * bin, y * bin), ORU_ERROR_OUTOF_BOUNDARY);
    });
}

ORU_ERROR_CODE ORUGetStartPos(int id, int *x, int *y)
{
    return CameraCall(id, kLockGetStartPos, [x, y](CCameraBase *camera) {
        if (AnyNull(x, y))
            return ORU_ERROR_GENERAL_ERROR;
        const int bin = camera->Settings().m_iBin;
        *x = camera->Settings().m_iStartX / bin;
        *y = camera->Settings().m_iStartY / bin;
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUGetDroppedFrames(int id, int *dropped)
{
    return CameraCall(id, kLockDroppedFrames, [dropped](CCameraBase *camera) {
        if (AnyNull(dropped))
            return ORU_ERROR_GENERAL_ERROR;
        *dropped = camera->GetCaptureState().DroppedFrames();
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUEnableDarkSubtract(int id, char *bmp_path)
{
    return CameraCall(id, kLockEnableDark, [bmp_path](CCameraBase *camera) {
        if (AnyNull(bmp_path))
            return ORU_ERROR_INVALID_PATH;
        return camera->LoadBMPFromFile(bmp_path);
    });
}

ORU_ERROR_CODE ORUDisableDarkSubtract(int id)
{
    return CameraCall(id, kLockDisableDark, [](CCameraBase *camera) {
        camera->UsingDark(false);
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUStartVideoCapture(int id)
{
    return CameraCall(id, kLockStartVideo, [](CCameraBase *camera) {
        const CaptureState &capture = camera->GetCaptureState();
        if (capture.IsSnap() && capture.ExpStatus() == ORU_EXP_WORKING)
            return ORU_ERROR_EXPOSURE_IN_PROGRESS;
        if (camera->StartCapture(false) || camera->IsCaptureRunning())
            return ORU_SUCCESS;
        return ORU_ERROR_GENERAL_ERROR;
    });
}

ORU_ERROR_CODE ORUStopVideoCapture(int id)
{
    return CameraCall(id, kLockStopVideo, [](CCameraBase *camera) {
        return ToResult(camera->StopCapture(), ORU_ERROR_CAMERA_CLOSED);
    });
}

ORU_ERROR_CODE ORUGetVideoData(int id, unsigned char *buffer, int32_t buffer_size, int wait_ms)
{
    return CameraCall(id, kLockVideoData, [id, buffer, buffer_size, wait_ms](CCameraBase *camera) {
        const int32_t frameSize = g_frameSize[id];
        if (frameSize > buffer_size)
            return ORU_ERROR_BUFFER_TOO_SMALL;
        if (AnyNull(buffer))
            return ORU_ERROR_GENERAL_ERROR;
        return ToResult(camera->GetImage(buffer, frameSize, wait_ms), ORU_ERROR_TIMEOUT);
    });
}

ORU_ERROR_CODE ORUStartExposure(int id, ORU_BOOL /*is_dark*/)
{
    return CameraCall(id, kLockStartExposure, [](CCameraBase *camera) {
        if (!camera->GetCaptureState().IsSnap() && camera->IsCaptureRunning())
            return ORU_ERROR_VIDEO_MODE_ACTIVE;
        camera->StartExposure();
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUStopExposure(int id)
{
    return CameraCall(id, kLockStopExposure, [](CCameraBase *camera) {
        camera->StopCapture();
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUGetExpStatus(int id, ORU_EXPOSURE_STATUS *status)
{
    return CameraCall(id, kLockExpStatus, [status](CCameraBase *camera) {
        if (AnyNull(status))
            return ORU_ERROR_GENERAL_ERROR;
        *status = camera->GetExpStatus();
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUGetDataAfterExp(int id, unsigned char *buffer, int32_t buffer_size)
{
    return CameraCall(id, kLockDataAfterExp, [id, buffer, buffer_size](CCameraBase *camera) {
        const int32_t frameSize = g_frameSize[id];
        if (frameSize > buffer_size)
            return ORU_ERROR_BUFFER_TOO_SMALL;
        if (AnyNull(buffer))
            return ORU_ERROR_GENERAL_ERROR;
        return ToResult(camera->GetImageAfterExp(buffer, frameSize), ORU_ERROR_TIMEOUT);
    });
}

ORU_ERROR_CODE ORUPulseGuideOn(int id, ORU_GUIDE_DIRECTION direction)
{
    return CameraCall(id, kLockGuideOn, [direction](CCameraBase *camera) {
        camera->PulseGuideOn(static_cast<GuideD>(direction));
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUPulseGuideOff(int id, ORU_GUIDE_DIRECTION direction)
{
    return CameraCall(id, kLockGuideOff, [direction](CCameraBase *camera) {
        camera->PulseGuideOff(static_cast<GuideD>(direction));
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUGetID(int id, ORU_ID *user_id)
{
    return CameraCall(id, kLockGetID, [user_id](CCameraBase *camera) {
        if (AnyNull(user_id))
            return ORU_ERROR_GENERAL_ERROR;
        return ToResult(camera->GetIDFromSPI(user_id), ORU_ERROR_GENERAL_ERROR);
    });
}

ORU_ERROR_CODE ORUSetID(int id, ORU_ID user_id)
{
    return CameraCall(id, kLockSetID, [user_id](CCameraBase *camera) {
        return ToResult(camera->SetIDToSPI(user_id), ORU_ERROR_GENERAL_ERROR);
    });
}

ORU_ERROR_CODE ORUGetSerialNumber(int id, ORU_ID *serial)
{
    return CameraCall(id, kLockSerialNumber, [serial](CCameraBase *camera) {
        if (AnyNull(serial))
            return ORU_ERROR_GENERAL_ERROR;
        return ToResult(camera->GetSerialNumber(serial), ORU_ERROR_GENERAL_ERROR);
    });
}

ORU_ERROR_CODE ORUGetGainOffset(int id, int *offset_highest_dr, int *offset_unity_gain,
                                int *gain_lowest_rn, int *offset_lowest_rn)
{
    return CameraCall(id, kLockGainOffset, [=](CCameraBase *camera) {
        if (AnyNull(offset_highest_dr, offset_unity_gain, gain_lowest_rn, offset_lowest_rn))
            return ORU_ERROR_GENERAL_ERROR;
        *offset_highest_dr = camera->Model().m_iGainOffsetRef[0];
        *offset_unity_gain = camera->Model().m_iGainOffsetRef[1];
        *gain_lowest_rn = camera->Model().m_iGainOffsetRef[3];
        *offset_lowest_rn = camera->Model().m_iGainOffsetRef[4];
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUGetLMHGainOffset(int id, int *low_gain, int *medium_gain, int *high_gain,
                                   int *high_offset)
{
    return CameraCall(id, kLockLMHGainOffset, [=](CCameraBase *camera) {
        if (AnyNull(low_gain, medium_gain, high_gain, high_offset))
            return ORU_ERROR_GENERAL_ERROR;
        *low_gain = 0;
        *medium_gain = camera->Model().m_iGainOffsetRef[2];
        *high_gain = camera->Model().m_iGainOffsetRef[3];
        *high_offset = camera->Model().m_iGainOffsetRef[4];
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUGetCameraSupportMode(int id, ORU_SUPPORTED_MODE *modes)
{
    return CameraCall(id, kLockSupportMode, [modes](CCameraBase *camera) {
        if (AnyNull(modes))
            return ORU_ERROR_GENERAL_ERROR;
        return ToResult(camera->GetCameraSupportedMode(modes), ORU_ERROR_GENERAL_ERROR);
    });
}

ORU_ERROR_CODE ORUGetCameraMode(int id, ORU_CAMERA_MODE *mode)
{
    return CameraCall(id, kLockGetMode, [mode](CCameraBase *camera) {
        if (AnyNull(mode))
            return ORU_ERROR_GENERAL_ERROR;
        const int current = camera->Settings().m_iCameraMode;
        *mode = current >= ORU_MODE_TRIG_SOFT_EDGE && current <= ORU_MODE_TRIG_LOW_LEVEL
                    ? static_cast<ORU_CAMERA_MODE>(current)
                    : ORU_MODE_NORMAL;
        return ORU_SUCCESS;
    });
}

ORU_ERROR_CODE ORUSetCameraMode(int id, ORU_CAMERA_MODE mode)
{
    return CameraCall(id, kLockSetMode, [mode](CCameraBase *camera) {
        return camera->SetCameraMode(static_cast<CAM_MODE>(mode));
    });
}

ORU_ERROR_CODE ORUSendSoftTrigger(int id, ORU_BOOL start)
{
    return CameraCall(id, kLockSoftTrigger, [start](CCameraBase *camera) {
        return ToResult(camera->EnableFPGATriggerSignal(start == ORU_TRUE).IsOk(),
                        ORU_ERROR_GENERAL_ERROR);
    });
}

ORU_ERROR_CODE ORUSetTriggerOutputIOConf(int id, ORU_TRIG_OUTPUT pin, ORU_BOOL pin_high,
                                         int32_t delay, int32_t duration)
{
    return CameraCall(id, kLockSetTrigOutput, [=](CCameraBase *camera) {
        if (static_cast<unsigned>(pin) > ORU_TRIG_OUTPUT_PINB)
            return ORU_ERROR_GENERAL_ERROR;
        return camera->SetTrigOutPinConf(static_cast<Trig_Output_Pin>(pin), pin_high != ORU_FALSE,
                                         delay, duration);
    });
}

ORU_ERROR_CODE ORUGetTriggerOutputIOConf(int id, ORU_TRIG_OUTPUT pin, ORU_BOOL *pin_high,
                                         int32_t *delay, int32_t *duration)
{
    return CameraCall(id, kLockGetTrigOutput, [=](CCameraBase *camera) {
        if (static_cast<unsigned>(pin) > ORU_TRIG_OUTPUT_PINB)
            return ORU_ERROR_GENERAL_ERROR;
        if (AnyNull(pin_high, delay, duration))
            return ORU_ERROR_GENERAL_ERROR;
        long engineDelay = 0;
        long engineDuration = 0;
        const ORU_ERROR_CODE result = camera->GetTrigOutPinConf(
            static_cast<Trig_Output_Pin>(pin), pin_high, &engineDelay, &engineDuration);
        *delay = static_cast<int32_t>(engineDelay);
        *duration = static_cast<int32_t>(engineDuration);
        return result;
    });
}

ORU_ERROR_CODE ORUEnableDebugLog(int id, ORU_BOOL enable)
{
    return CameraCall(id, kLockEnableDebugLog,
                      [enable](CCameraBase *camera) { return camera->EnableDebugLog(enable); });
}

ORU_ERROR_CODE ORUGetDebugLogIsEnabled(int id, ORU_BOOL *enabled)
{
    return CameraCall(id, kLockDebugLogEnabled, [enabled](CCameraBase *camera) {
        if (AnyNull(enabled))
            return ORU_ERROR_GENERAL_ERROR;
        return camera->GetDebugLogIsEnabled(enabled);
    });
}
