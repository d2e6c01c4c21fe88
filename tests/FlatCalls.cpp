#include "FlatCalls.h"

std::vector<FlatCall> AllCameraFunctions()
{
    static unsigned char buffer[16];
    static ORU_CONTROL_CAPS caps;
    static ORU_CAMERA_INFO info;
    static ORU_ID oruId;
    static ORU_SUPPORTED_MODE modes;
    static int a, b, c, d;
    static int32_t value;
    static ORU_BOOL flag;
    static ORU_IMG_TYPE type;
    static ORU_EXPOSURE_STATUS status;
    static ORU_CAMERA_MODE mode;
    static char path[] = "/nonexistent.bmp";
    return {
        {"InitCamera", [](int id) { return ORUInitCamera(id); }},
        {"GetCameraPropertyByID", [](int id) { return ORUGetCameraPropertyByID(id, &info); }},
        {"GetNumOfControls", [](int id) { return ORUGetNumOfControls(id, &a); }},
        {"GetControlCaps", [](int id) { return ORUGetControlCaps(id, 0, &caps); }},
        {"GetControlValue", [](int id) { return ORUGetControlValue(id, ORU_GAIN, &value, &flag); }},
        {"SetControlValue", [](int id) { return ORUSetControlValue(id, ORU_GAIN, 1, ORU_FALSE); }},
        {"SetROIFormat", [](int id) { return ORUSetROIFormat(id, 640, 480, 1, ORU_IMG_RAW8); }},
        {"GetROIFormat", [](int id) { return ORUGetROIFormat(id, &a, &b, &c, &type); }},
        {"SetStartPos", [](int id) { return ORUSetStartPos(id, 0, 0); }},
        {"GetStartPos", [](int id) { return ORUGetStartPos(id, &a, &b); }},
        {"GetDroppedFrames", [](int id) { return ORUGetDroppedFrames(id, &a); }},
        {"EnableDarkSubtract", [](int id) { return ORUEnableDarkSubtract(id, path); }},
        {"DisableDarkSubtract", [](int id) { return ORUDisableDarkSubtract(id); }},
        {"StartVideoCapture", [](int id) { return ORUStartVideoCapture(id); }},
        {"StopVideoCapture", [](int id) { return ORUStopVideoCapture(id); }},
        {"GetVideoData", [](int id) { return ORUGetVideoData(id, buffer, sizeof buffer, 0); }},
        {"StartExposure", [](int id) { return ORUStartExposure(id, ORU_FALSE); }},
        {"StopExposure", [](int id) { return ORUStopExposure(id); }},
        {"GetExpStatus", [](int id) { return ORUGetExpStatus(id, &status); }},
        {"GetDataAfterExp", [](int id) { return ORUGetDataAfterExp(id, buffer, sizeof buffer); }},
        {"PulseGuideOn", [](int id) { return ORUPulseGuideOn(id, ORU_GUIDE_NORTH); }},
        {"PulseGuideOff", [](int id) { return ORUPulseGuideOff(id, ORU_GUIDE_NORTH); }},
        {"GetID", [](int id) { return ORUGetID(id, &oruId); }},
        {"SetID", [](int id) { return ORUSetID(id, oruId); }},
        {"GetSerialNumber", [](int id) { return ORUGetSerialNumber(id, &oruId); }},
        {"GetGainOffset", [](int id) { return ORUGetGainOffset(id, &a, &b, &c, &d); }},
        {"GetLMHGainOffset", [](int id) { return ORUGetLMHGainOffset(id, &a, &b, &c, &d); }},
        {"GetCameraSupportMode", [](int id) { return ORUGetCameraSupportMode(id, &modes); }},
        {"GetCameraMode", [](int id) { return ORUGetCameraMode(id, &mode); }},
        {"SetCameraMode", [](int id) { return ORUSetCameraMode(id, ORU_MODE_NORMAL); }},
        {"SendSoftTrigger", [](int id) { return ORUSendSoftTrigger(id, ORU_FALSE); }},
        {"SetTriggerOutputIOConf",
         [](int id) {
             return ORUSetTriggerOutputIOConf(id, ORU_TRIG_OUTPUT_PINA, ORU_TRUE, 0, 0);
         }},
        {"GetTriggerOutputIOConf",
         [](int id) {
             return ORUGetTriggerOutputIOConf(id, ORU_TRIG_OUTPUT_PINA, &flag, &value, &value);
         }},
        {"EnableDebugLog", [](int id) { return ORUEnableDebugLog(id, ORU_FALSE); }},
        {"GetDebugLogIsEnabled", [](int id) { return ORUGetDebugLogIsEnabled(id, &flag); }},
    };
}
