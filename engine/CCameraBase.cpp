// The camera object's controls, property record, device open and close,
// buffers and the small device helpers the models use.
#include "engine/CCameraBase.h"

#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "api/CameraRegistry.h"
#include "engine/CCameraCool.h"
#include "log/DbgPrint.h"
#include "transport/FX3Protocol.h"
#include "transport/LegacyUsb2Protocol.h"
#include "transport/SectionLock.h"

namespace {

constexpr int kGammaEntries16 = 65536;
// Two slots for the frames the transfers fill, one for a reader to copy out
// and one for the frame that came meanwhile.
constexpr int kRingSlots = 4;
constexpr int kTransferBlock = 49152;
constexpr int64_t kAutoExpMsCapUs = 60000000;
constexpr int32_t kAutoExpMsCap = 60000;
// Model digits in the display name of the legacy USB2 family, whose gain is a
// register value rather than 0.1 dB steps.
constexpr char kLegacyUSB2Digits[] = "120";

// The order of the control list, and when each control is offered: its
// capability flag (none: always) and whether it needs a colour sensor.
struct ControlListRow {
    ORU_CONTROL_TYPE type;
    bool CameraCaps::*pFlag;
    bool bNeedsColor;
};

constexpr ControlListRow kControlList[] = {
    {ORU_GAIN, &CameraCaps::bGain, false},
    {ORU_EXPOSURE, &CameraCaps::bExposure, false},
    {ORU_GAMMA, &CameraCaps::bGamma, false},
    {ORU_WB_R, &CameraCaps::bWBRed, true},
    {ORU_WB_B, &CameraCaps::bWBBlue, true},
    {ORU_OFFSET, &CameraCaps::bOffset, false},
    {ORU_BANDWIDTH, &CameraCaps::bBandwidth, false},
    {ORU_FLIP, nullptr, false},
    {ORU_OVERCLK, &CameraCaps::bOverClock, false},
    {ORU_AUTO_EXP_MAX_GAIN, nullptr, false},
    {ORU_AUTO_EXP_MAX_EXP_MS, nullptr, false},
    {ORU_AUTO_EXP_TARGET_BRIGHTNESS, nullptr, false},
    {ORU_HARDWARE_BIN, &CameraCaps::bHardwareBin, false},
    {ORU_HIGH_SPEED_MODE, &CameraCaps::bHighSpeed, false},
    {ORU_MONO_BIN, nullptr, true},
    {ORU_PATTERN_ADJUST, &CameraCaps::bPatternAdjust, false},
    {ORU_TEMPERATURE, &CameraCaps::bTemperature, false},
    {ORU_COOL_POWER_PERC, &CameraCaps::bCooler, false},
    {ORU_TARGET_TEMP, &CameraCaps::bCooler, false},
    {ORU_COOLER_ON, &CameraCaps::bCooler, false},
    {ORU_ANTI_DEW_HEATER, &CameraCaps::bAntiDewHeater, false},
};

int32_t Saturate32(int64_t value)
{
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

void SetCapsLimits(ORU_CONTROL_CAPS *caps, int64_t max, int64_t min, int64_t def)
{
    caps->max_value = Saturate32(max);
    caps->min_value = Saturate32(min);
    caps->default_value = Saturate32(def);
}

// Amplification of a legacy USB2 camera at gain register g: piecewise linear,
// doubling every 16 steps up to 64, then steeper.
float LegacyAmplification(int g)
{
    if (g < 16)
        return 1.0f + g / 16.0f;
    if (g < 32)
        return 2.0f + (g - 16) / 8.0f;
    if (g < 48)
        return 4.0f + (g - 32) / 4.0f;
    if (g < 64)
        return 8.0f + (g - 48) / 2.0f;
    if (g < 80)
        return static_cast<float>(g - 48);
    return 32.0f + 1.6f * (g - 80);
}

// Null when memory is short.
template <typename T>
std::unique_ptr<T[]> NewBuffer(long count)
{
    return std::unique_ptr<T[]>(count > 0 ? new (std::nothrow) T[count]() : nullptr);
}

// For buffers every user fills before reading: left uncleared, their pages
// are touched only by the frames that need them.
template <typename T>
std::unique_ptr<T[]> NewFrameBuffer(long count)
{
    return std::unique_ptr<T[]>(count > 0 ? new (std::nothrow) T[count] : nullptr);
}

ORU_BOOL ToOruBool(bool value)
{
    return value ? ORU_TRUE : ORU_FALSE;
}

// The cooled layer of a camera that a row marked cooled-only is used on.
CCameraCool &Cooled(CCameraBase &camera)
{
    return static_cast<CCameraCool &>(camera);
}

} // namespace

// Limits that belong to the model (gain, exposure, ...) come from its
// ControlLimits; the numbers in a row are the fixed ones.
const CCameraBase::ControlRow CCameraBase::s_ControlTable[kControlTypeCount] = {
    {"Gain", "Gain", 0, 0, 0, true, true, false,
     [](const CCameraBase &c, ORU_CONTROL_CAPS *caps) {
         SetCapsLimits(caps, c.Model().m_Limits.iGainMax, c.Model().m_Limits.iGainMin,
                       c.Model().m_Limits.iGainDefault);
     },
     [](CCameraBase &c, bool *autoOn) -> long { return c.GetGain(autoOn); },
     [](CCameraBase &c, long value, bool autoOn) {
         return c.SetGain(static_cast<int>(value), autoOn);
     }},
    {"Exposure", "Exposure Time(us)", 0, 0, 0, true, true, false,
     [](const CCameraBase &c, ORU_CONTROL_CAPS *caps) {
         SetCapsLimits(caps, c.Model().m_Limits.lExpMax, c.Model().m_Limits.lExpMin,
                       c.Model().m_Limits.lExpDefault);
     },
     [](CCameraBase &c, bool *autoOn) -> long {
         *autoOn = c.m_bAutoExp;
         return static_cast<long>(static_cast<uint32_t>(c.m_lExposure.load()));
     },
     [](CCameraBase &c, long value, bool autoOn) {
         const uint64_t exposure = static_cast<uint64_t>(value);
         if (exposure == c.m_lLastExp && autoOn == c.m_bLastExpAuto)
             return true;
         c.DbgPrint2(LogSeverity::Debug, "SetControlValue", "SetExp-> %d, auto: %d\n",
                     static_cast<int>(value), autoOn);
         const bool done = c.SetExp(exposure, autoOn);
         // A refused value is not remembered, so that the same value is tried again.
         if (done) {
             c.m_lLastExp = exposure;
             c.m_bLastExpAuto = autoOn;
         }
         return done;
     }},
    {"Gamma", "Gamma", 0, 0, 0, false, true, false,
     [](const CCameraBase &c, ORU_CONTROL_CAPS *caps) {
         SetCapsLimits(caps, c.Model().m_Limits.iGammaMax, c.Model().m_Limits.iGammaMin,
                       c.Model().m_Limits.iGammaDefault);
     },
     [](CCameraBase &c, bool *) -> long { return c.GetGamma(); },
     [](CCameraBase &c, long value, bool) { return c.SetGamma(static_cast<int>(value)); }},
    {"WB_R", "White balance: Red component", 0, 0, 0, true, true, false,
     [](const CCameraBase &c, ORU_CONTROL_CAPS *caps) {
         SetCapsLimits(caps, c.Model().m_Limits.iWBMax, c.Model().m_Limits.iWBMin,
                       c.Model().m_Limits.iWBRDefault);
     },
     [](CCameraBase &c, bool *autoOn) -> long {
         *autoOn = c.m_bAutoWB;
         return c.m_iWB_R;
     },
     [](CCameraBase &c, long value, bool autoOn) {
         return c.SetRGBBalance(static_cast<int>(value), c.m_iWB_B, autoOn);
     }},
    {"WB_B", "White balance: Blue component", 0, 0, 0, true, true, false,
     [](const CCameraBase &c, ORU_CONTROL_CAPS *caps) {
         SetCapsLimits(caps, c.Model().m_Limits.iWBMax, c.Model().m_Limits.iWBMin,
                       c.Model().m_Limits.iWBBDefault);
     },
     [](CCameraBase &c, bool *autoOn) -> long {
         *autoOn = c.m_bAutoWB;
         return c.m_iWB_B;
     },
     [](CCameraBase &c, long value, bool autoOn) {
         return c.SetRGBBalance(c.m_iWB_R, static_cast<int>(value), autoOn);
     }},
    {"Offset", "offset", 0, 0, 0, false, true, false,
     [](const CCameraBase &c, ORU_CONTROL_CAPS *caps) {
         SetCapsLimits(caps, c.Model().m_Limits.iOffsetMax, c.Model().m_Limits.iOffsetMin,
                       c.Model().m_Limits.iOffsetDefault);
     },
     [](CCameraBase &c, bool *) -> long { return c.m_iOffset; },
     [](CCameraBase &c, long value, bool) { return c.SetBrightness(static_cast<int>(value)); }},
    {"BandWidth", "The total data transfer rate percentage", 0, 0, 50, false, true, false,
     [](const CCameraBase &c, ORU_CONTROL_CAPS *caps) {
         SetCapsLimits(caps, c.Model().m_Limits.iBandwidthMax, c.Model().m_Limits.iBandwidthMin,
                       caps->default_value);
         caps->supports_auto = ToOruBool(c.Model().m_Caps.bAutoBandwidth);
     },
     [](CCameraBase &c, bool *autoOn) -> long {
         *autoOn = c.m_bAutoBandwidth;
         return c.m_iBandwidth;
     },
     [](CCameraBase &c, long value, bool autoOn) {
         return c.SetFPSPerc(static_cast<int>(value), autoOn);
     }},
    {"OverCLK", "Over clocking percentage", 30, 0, 0, false, true, false, nullptr,
     [](CCameraBase &c, bool *) -> long { return c.m_iOverCLKPerc; },
     [](CCameraBase &c, long value, bool) { return c.SetOverCLKPerc(static_cast<int>(value)); }},
    // Read-only: a write changes nothing.
    {"Temperature", "Sensor temperature(degrees Celsius)", 1000, -500, 20, false, false, false,
     nullptr, [](CCameraBase &c, bool *) { return static_cast<long>(c.GetTemp() * 10.0f); },
     [](CCameraBase &, long, bool) { return true; }},
    {"Flip", "Flip: 0->None 1->Horiz 2->Vert 3->Both", 3, 0, 0, false, true, false, nullptr,
     [](CCameraBase &c, bool *) -> long {
         return (c.m_bFlipHoriz ? ORU_FLIP_HORIZ : 0) | (c.m_bFlipVert ? ORU_FLIP_VERT : 0);
     },
     [](CCameraBase &c, long value, bool) {
         c.m_bFlipHoriz = value == ORU_FLIP_HORIZ || value == ORU_FLIP_BOTH;
         c.m_bFlipVert = value == ORU_FLIP_VERT || value == ORU_FLIP_BOTH;
         return true;
     }},
    {"AutoExpMaxGain", "Auto exposure maximum gain value", 0, 0, 0, false, true, false,
     [](const CCameraBase &c, ORU_CONTROL_CAPS *caps) {
         SetCapsLimits(
             caps, c.Model().m_Limits.iGainMax, c.Model().m_Limits.iGainMin,
             (static_cast<int64_t>(c.Model().m_Limits.iGainMax) + c.Model().m_Limits.iGainMin) / 2);
     },
     [](CCameraBase &c, bool *) -> long { return c.m_iAutoMaxGain; },
     [](CCameraBase &c, long value, bool) {
         c.SetAutoPara(static_cast<int>(value), c.m_iAutoMaxExpMs, c.m_iAutoTargetBrightness);
         return true;
     }},
    {"AutoExpMaxExpMS", "Auto exposure maximum exposure value(unit ms)", 0, 1, 100, false, true,
     false,
     [](const CCameraBase &c, ORU_CONTROL_CAPS *caps) {
         caps->max_value = c.Model().m_Limits.lExpMax < kAutoExpMsCapUs
                               ? Saturate32(c.Model().m_Limits.lExpMax / 1000)
                               : kAutoExpMsCap;
     },
     [](CCameraBase &c, bool *) -> long { return c.m_iAutoMaxExpMs; },
     [](CCameraBase &c, long value, bool) {
         c.SetAutoPara(c.m_iAutoMaxGain, static_cast<int>(value), c.m_iAutoTargetBrightness);
         return true;
     }},
    {"AutoExpTargetBrightness", "Auto exposure target brightness value", 160, 50, 100, false, true,
     false, nullptr, [](CCameraBase &c, bool *) -> long { return c.m_iAutoTargetBrightness; },
     [](CCameraBase &c, long value, bool) {
         c.SetAutoPara(c.m_iAutoMaxGain, c.m_iAutoMaxExpMs, static_cast<int>(value));
         return true;
     }},
    {"HardwareBin", "Is hardware bin2:0->No 1->Yes", 1, 0, 0, false, true, false, nullptr,
     [](CCameraBase &c, bool *) -> long { return c.m_bHardwareBin; },
     [](CCameraBase &c, long value, bool) { return c.SetHardwareBin(value >= 1); }},
    {"HighSpeedMode", "Is high speed mode:0->No 1->Yes", 1, 0, 0, false, true, false, nullptr,
     [](CCameraBase &c, bool *) -> long { return c.m_bHighSpeed; },
     [](CCameraBase &c, long value, bool) { return c.SetHighSpeedMode(value >= 1); }},
    {"CoolPowerPerc", "Cooler power percent", 100, 0, 0, false, false, true, nullptr,
     [](CCameraBase &c, bool *) { return static_cast<long>(Cooled(c).m_fCoolPowerPerc); }, nullptr},
    {"TargetTemp", "Target temperature(cool camera only)", 30, -40, 0, false, true, true, nullptr,
     [](CCameraBase &c, bool *) -> long { return Cooled(c).m_iTargetTemp; },
     [](CCameraBase &c, long value, bool) {
         Cooled(c).SetAutoTemp(c.m_bCoolerOn, static_cast<float>(value));
         return true;
     }},
    {"CoolerOn", "turn on/off cooler(cool camera only)", 1, 0, 0, false, true, true, nullptr,
     [](CCameraBase &c, bool *) -> long { return Cooled(c).m_bCoolerOn; },
     [](CCameraBase &c, long value, bool) {
         Cooled(c).SetAutoTemp(value > 0, static_cast<float>(c.m_iTargetTemp));
         if (value <= 0)
             Cooled(c).SetPowerPerc(0.0f);
         return true;
     }},
    {"MonoBin", "bin R G G B to one pixel for color camera, color will loss", 1, 0, 0, false, true,
     false, nullptr, [](CCameraBase &c, bool *) -> long { return c.GetMonoBin(); },
     [](CCameraBase &c, long value, bool) {
         c.SetMonoBin(value >= 1);
         return true;
     }},
    {"FanOn", "turn on/off fan(cool camera only)", 1, 0, 0, false, true, true, nullptr,
     [](CCameraBase &c, bool *) -> long { return Cooled(c).GetFanOn(); },
     [](CCameraBase &c, long value, bool) {
         Cooled(c).SetFanOn(value > 0);
         return true;
     }},
    {"PatternAdjust", "make brightness accordant", 0, 0, 0, false, true, false,
     [](const CCameraBase &c, ORU_CONTROL_CAPS *caps) {
         SetCapsLimits(caps, c.Model().m_Limits.iPatternMax, c.Model().m_Limits.iPatternMin,
                       caps->default_value);
     },
     [](CCameraBase &c, bool *) -> long { return c.m_iPattern; },
     [](CCameraBase &c, long value, bool) {
         c.SetPattern(static_cast<int>(value));
         return true;
     }},
    {"AntiDewHeater", "turn on/off anti dew heater(cool camera only)", 1, 0, 0, false, true, true,
     nullptr, [](CCameraBase &c, bool *) -> long { return Cooled(c).GetLensHeat(); },
     [](CCameraBase &c, long value, bool) {
         Cooled(c).SetLensHeat(value > 0);
         return true;
     }},
};

CCameraBase::CCameraBase() : m_DarkFrame(*this), m_HotPixelMap(*this)
{
    SysInfo();
    m_Algorithm.RGBYUV_Init();
    InitThermistorRange();
    InitializeCriticalSection(&m_csCapture);
    InitializeCriticalSection(&m_csRoi);
    m_WorkThread.SetName("oru-work");
    m_TrigThread.SetName("oru-trigger");
    m_AutoCtrlThread.SetName("oru-auto");
}

CCameraBase::~CCameraBase()
{
    // The loops read the buffers, which go after this body.
    m_AutoCtrlThread.Stop();
    m_WorkThread.Stop();
    m_TrigThread.Stop();
    DeleteCriticalSection(&m_csCapture);
    DeleteCriticalSection(&m_csRoi);
    DbgPrint2(LogSeverity::Info, "~CCameraBase", "~CCameraBase\n");
}

// ---- Virtual operations with a base behaviour ----

int CCameraBase::GetGain(bool *autoGain)
{
    if (autoGain != nullptr)
        *autoGain = m_bAutoGain;
    return m_iGain;
}

bool CCameraBase::SetGamma(int gamma)
{
    if (m_pGammaTable16 == nullptr)
        return false;
    if (gamma > 100)
        gamma = 100;
    m_iGamma = gamma;
    // 50 is linear; 100 gives exponent 0.5, 0 gives 2.0.
    const float exponent = gamma > 50 ? (150 - gamma) / 100.0f : (200 - 2 * gamma) / 100.0f;
    for (int i = 0; i < kGammaEntries16; ++i) {
        const float value = static_cast<float>(pow(i / 65535.0f, exponent)) * 65535.0f;
        m_pGammaTable16[i] =
            static_cast<uint16_t>(value > 65535.0f ? 65535 : static_cast<int>(value));
    }
    for (int i = 0; i < 256; ++i) {
        const float value = static_cast<float>(pow(i / 255.0f, exponent)) * 255.0f;
        m_GammaTable8[i] = static_cast<uint8_t>(value > 255.0f ? 255 : static_cast<int>(value));
    }
    return true;
}

int CCameraBase::GetGamma()
{
    return m_iGamma;
}

bool CCameraBase::SetBrightness(int)
{
    return false;
}

bool CCameraBase::SetHighSpeedMode(bool)
{
    return false;
}

bool CCameraBase::SetHardwareBin(bool)
{
    return false;
}

bool CCameraBase::SetEnableDDR(bool)
{
    return false;
}

bool CCameraBase::SetFPSPerc(int, bool)
{
    return false;
}

bool CCameraBase::SetOverCLKPerc(int)
{
    return false;
}

void CCameraBase::SetPattern(int) {}

float CCameraBase::GetSensorTempInside()
{
    return 0.0f;
}

bool CCameraBase::IsHardBinRun()
{
    return m_bHardwareBin && m_iBin > 1;
}

// ---- Controls ----

int CCameraBase::GetNumOfControls()
{
    m_iCtrlCount = 0;
    for (const ControlListRow &row : kControlList) {
        if (row.pFlag != nullptr && !(m_Model.m_Caps.*row.pFlag))
            continue;
        if (row.bNeedsColor && !m_Model.m_Caps.bColor)
            continue;
        m_CtrlList[m_iCtrlCount++] = row.type;
    }
    return m_iCtrlCount;
}

bool CCameraBase::GetControlCaps(int index, ORU_CONTROL_CAPS *caps)
{
    const int listSize = static_cast<int>(sizeof m_CtrlList / sizeof m_CtrlList[0]);
    // The type field is written even for an index past the count; an index
    // outside the list itself has no slot to read.
    if (index >= 0 && index < listSize)
        caps->control_type = static_cast<ORU_CONTROL_TYPE>(m_CtrlList[index]);
    if (index < 0 || index >= m_iCtrlCount)
        return false;
    return GetCtrllCaps(static_cast<ORU_CONTROL_TYPE>(m_CtrlList[index]), caps);
}

bool CCameraBase::GetCtrllCaps(ORU_CONTROL_TYPE type, ORU_CONTROL_CAPS *caps)
{
    // Every type has its caps, whether or not this camera has the control.
    if (type < 0 || type >= kControlTypeCount)
        return false;
    const ControlRow *row = &s_ControlTable[type];
    snprintf(caps->name, sizeof caps->name, "%s", row->szName);
    snprintf(caps->description, sizeof caps->description, "%s", row->szDescription);
    SetCapsLimits(caps, row->iMax, row->iMin, row->iDefault);
    caps->supports_auto = ToOruBool(row->bAuto);
    caps->is_writable = ToOruBool(row->bWritable);
    if (row->pLimits != nullptr)
        row->pLimits(*this, caps);
    return true;
}

ORU_CONTROL_TYPE CCameraBase::ControlConv(Control_TYPE type)
{
    if (type >= CTRL_EXPOSURE && type <= CTRL_TEMPERATURE)
        return static_cast<ORU_CONTROL_TYPE>(type);
    if (type >= CTRL_HARDWARE_BIN && type <= CTRL_ANTI_DEW_HEATER)
        return static_cast<ORU_CONTROL_TYPE>(type + (ORU_HARDWARE_BIN - CTRL_HARDWARE_BIN));
    return ORU_GAIN;
}

int CCameraBase::GetValue(Control_TYPE type, bool *autoOn)
{
    long value = 0;
    ORU_BOOL isAuto = ORU_FALSE;
    GetControlValue(ControlConv(type), &value, &isAuto);
    if (autoOn != nullptr)
        *autoOn = isAuto == ORU_TRUE;
    return static_cast<int>(value);
}

int CCameraBase::GetMin(Control_TYPE type)
{
    ORU_CONTROL_CAPS caps{};
    GetCtrllCaps(ControlConv(type), &caps);
    return caps.min_value;
}

int CCameraBase::GetMax(Control_TYPE type)
{
    ORU_CONTROL_CAPS caps{};
    GetCtrllCaps(ControlConv(type), &caps);
    return caps.max_value;
}

bool CCameraBase::IsAutoSupported(Control_TYPE type)
{
    ORU_CONTROL_CAPS caps{};
    GetCtrllCaps(ControlConv(type), &caps);
    return caps.supports_auto == ORU_TRUE;
}

bool CCameraBase::IsAvailable(Control_TYPE type)
{
    const ORU_CONTROL_TYPE wanted = ControlConv(type);
    const int count = GetNumOfControls();
    for (int i = 0; i < count; ++i)
        if (m_CtrlList[i] == wanted)
            return true;
    return false;
}

bool CCameraBase::IsImgTypeSupported(IMG_TYPE type)
{
    switch (type) {
    case IMG_RAW8: return m_Model.m_Caps.bRaw8;
    case IMG_RGB24: return m_Model.m_Caps.bColor && m_Model.m_Caps.bRGB24;
    case IMG_RAW16: return m_Model.m_Caps.bRaw16;
    case IMG_Y8: return m_Model.m_Caps.bColor && m_Model.m_Caps.bY8;
    default: return false;
    }
}

long CCameraBase::ClampToCaps(ORU_CONTROL_TYPE type, long value)
{
    ORU_CONTROL_CAPS caps{};
    if (GetCtrllCaps(type, &caps)) {
        if (value < caps.min_value)
            value = caps.min_value;
        else if (value > caps.max_value)
            value = caps.max_value;
    }
    return value;
}

ORU_ERROR_CODE CCameraBase::SetControlValue(ORU_CONTROL_TYPE type, long value, bool autoOn)
{
    const ControlRow *row = FindControl(type);
    if (row == nullptr || row->pSet == nullptr)
        return ORU_ERROR_INVALID_CONTROL_TYPE;
    return row->pSet(*this, ClampToCaps(type, value), autoOn) ? ORU_SUCCESS
                                                              : ORU_ERROR_GENERAL_ERROR;
}

ORU_ERROR_CODE CCameraBase::GetControlValue(ORU_CONTROL_TYPE type, long *value, ORU_BOOL *autoOn)
{
    *autoOn = ORU_FALSE;
    const ControlRow *row = FindControl(type);
    if (row == nullptr)
        return ORU_ERROR_INVALID_CONTROL_TYPE;
    bool isAuto = false;
    *value = row->pGet(*this, &isAuto);
    *autoOn = ToOruBool(isAuto);
    return ORU_SUCCESS;
}

// The row of a control this camera has; null for any other type.
const CCameraBase::ControlRow *CCameraBase::FindControl(ORU_CONTROL_TYPE type)
{
    if (type < 0 || type >= kControlTypeCount)
        return nullptr;
    const ControlRow &row = s_ControlTable[type];
    if (row.bCooledOnly && dynamic_cast<CCameraCool *>(this) == nullptr)
        return nullptr;
    return &row;
}

void CCameraBase::GetCameraProperty(ORU_CAMERA_INFO *info)
{
    snprintf(info->name, sizeof info->name, "%s",
             m_Model.m_szCameraName ? m_Model.m_szCameraName : "");
    info->max_height = m_Model.m_iMaxHeight;
    info->max_width = m_Model.m_iMaxWidth;
    info->is_color = ToOruBool(m_Model.m_Caps.bColor);
    info->bayer = static_cast<ORU_BAYER_PATTERN>(m_Model.m_iBayerPattern);
    info->pixel_size_um = m_Model.m_dPixelSize;

    memset(info->supported_bins, 0, sizeof info->supported_bins);
    for (size_t i = 0; i < sizeof m_Model.m_SupportedBins; ++i)
        info->supported_bins[i] = m_Model.m_SupportedBins[i];

    static const IMG_TYPE kTypeOrder[] = {IMG_RAW8, IMG_RGB24, IMG_Y8, IMG_RAW16};
    for (ORU_IMG_TYPE &slot : info->supported_image_types)
        slot = ORU_IMG_END;
    int used = 0;
    for (IMG_TYPE type : kTypeOrder)
        if (IsImgTypeSupported(type))
            info->supported_image_types[used++] = static_cast<ORU_IMG_TYPE>(type);

    info->mechanical_shutter = ORU_FALSE;
    info->st4_port = ToOruBool(m_Model.m_Caps.bST4);
    info->has_cooler = ToOruBool(m_Model.m_Caps.bCooler);
    info->is_usb3 = ToOruBool(m_Model.m_bUSB3Camera);
    info->is_usb3_host = ToOruBool(m_bUSB3Host);
    info->bit_depth = m_Model.m_iBitDepth;
    info->is_trigger = ToOruBool(m_Model.m_Caps.bTrigger);

    const int gain = m_iGain;
    const bool legacy =
        m_Model.m_szCameraName != nullptr && strstr(m_Model.m_szCameraName, kLegacyUSB2Digits);
    const float amplification =
        legacy ? LegacyAmplification(gain) : static_cast<float>(pow(10.0, gain / 200.0));
    info->elec_per_adu = m_Model.m_fElecPerADU / amplification;
}

bool CCameraBase::GetCameraSupportedMode(ORU_SUPPORTED_MODE *modes)
{
    int used = 0;
    modes->SupportedCameraMode[used++] = ORU_MODE_NORMAL;
    for (int mode = ORU_MODE_TRIG_SOFT_EDGE; mode <= ORU_MODE_TRIG_LOW_LEVEL; ++mode) {
        const bool edge = mode <= ORU_MODE_TRIG_FALL_EDGE;
        if (m_Model.m_Caps.bTrigger &&
            (edge ? m_Model.m_Caps.bEdgeTrigger : m_Model.m_Caps.bLevelTrigger))
            modes->SupportedCameraMode[used++] = static_cast<ORU_CAMERA_MODE>(mode);
    }
    modes->SupportedCameraMode[used] = ORU_MODE_END;
    return true;
}

bool CCameraBase::SetMonoBin(bool on)
{
    m_bMonoBin = on;
    if (m_Model.m_bFPGABin)
        SetFPGABinType(on);
    return true;
}

bool CCameraBase::GetMonoBin()
{
    if (m_Model.m_bFPGABin) {
        uint8_t reg = FPGARegShadow(&CCameraBase::m_ucFPGAReg39);
        if (ReadFPGAREG(FPGABits::kBinType.reg, &reg))
            m_bMonoBin = (reg & FPGABitMask(FPGABits::kBinType)) == 0;
    }
    return m_bMonoBin;
}

void CCameraBase::SetAutoPara(int maxGain, int maxExpMs, int target)
{
    m_iAutoMaxGain = maxGain;
    m_iAutoMaxExpMs = maxExpMs;
    m_iAutoTargetBrightness = target;
}

void CCameraBase::StoreRoi(int width, int height, int bin, IMAGE_TYPE type)
{
    m_iWidth = width;
    m_iHeight = height;
    m_iBin = bin;
    m_ImgType = type;
}

void CCameraBase::StoreStartPos(int x, int y)
{
    m_iStartX = x;
    m_iStartY = y;
}

void CCameraBase::StoreGain(int gain, bool autoGain)
{
    m_bAutoGain = autoGain;
    m_iGain = gain;
}

void CCameraBase::StoreExposure(uint64_t us, bool autoExp)
{
    m_bAutoExp = autoExp;
    m_lExposure = us;
}

void CCameraBase::StoreLongExpMode(bool on)
{
    m_bLongExpMode = on;
}

void CCameraBase::StoreExpReg(int value)
{
    m_iExpReg = value;
}

void CCameraBase::StoreBandwidth(int bandwidth, bool autoBandwidth)
{
    m_iBandwidth = bandwidth;
    m_bAutoBandwidth = autoBandwidth;
}

void CCameraBase::StoreWhiteBalance(int red, int blue, bool autoWB)
{
    m_bAutoWB = autoWB;
    m_iWB_R = red;
    m_iWB_B = blue;
}

void CCameraBase::StoreHMAX(int hmax)
{
    m_iHMAX = hmax;
}

void CCameraBase::StoreFrameTime(uint32_t frameTimeUs, uint32_t transferTimeUs)
{
    m_iFrameTimeUs = frameTimeUs;
    m_iTransferTimeUs = transferTimeUs;
}

void CCameraBase::StoreMaxFPS(float fps, float dataRate)
{
    m_fMaxFPS = fps;
    m_fDataRate = dataRate;
}

void CCameraBase::StoreRawOutput(bool raw)
{
    m_bRawOutput = raw;
}

void CCameraBase::SetDevicePath(const char *path)
{
    snprintf(m_szDevicePath, sizeof m_szDevicePath, "%s", path);
}

void CCameraBase::StoreGamma(int gamma)
{
    m_iGamma = gamma;
}

void CCameraBase::StoreOffset(int offset)
{
    m_iOffset = offset;
}

void CCameraBase::StoreBandwidthUSB3(int bandwidth)
{
    m_iBandwidthUSB3 = bandwidth;
}

void CCameraBase::StoreAutoExpLimit(int us)
{
    m_iAutoExpLimitUs = us;
}

void CCameraBase::GetAutoPara(int *maxGain, int *maxExpMs, int *target)
{
    *maxGain = m_iAutoMaxGain;
    *maxExpMs = m_iAutoMaxExpMs;
    *target = m_iAutoTargetBrightness;
}

// ---- Device ----

bool CCameraBase::OpenCamera(int index)
{
    if (m_bOpen)
        return true;
    m_iCameraIndex = index;
    // The product ID is -1 until the model has named it.
    if (m_iProductID <= 0 || m_iProductID > 0xFFFF) {
        DbgPrint2(LogSeverity::Error, "OpenCamera", "PID or PID is not assigned\n");
        return false;
    }
    // Without its own context the handle would land in libusb's default one.
    libusb_device_handle *handle = nullptr;
    if (m_pUsbContext != nullptr) {
        libusb_set_option(m_pUsbContext, LIBUSB_OPTION_LOG_LEVEL, m_iLibusbLogLevel);
        handle = libusb_open_device_with_vid_pid_index(m_pUsbContext, ORU_VENDOR_ID,
                                                       static_cast<uint16_t>(m_iProductID),
                                                       static_cast<uint8_t>(index % 256));
    }
    if (handle == nullptr) {
        DbgPrint2(LogSeverity::Error, "OpenCamera", "open camera fail\n");
        return false;
    }
    {
        SectionLock lock(m_csTransport);
        libusb_set_configuration(handle, 1);
        libusb_claim_interface(handle, 0);
        m_pDevHandle = handle;
        m_bOpen = true;
        m_bRemoved = false;
    }
    DbgPrint2(LogSeverity::Info, "OpenCamera", "open camera success\n");

    if (!GetFirmwareVer(&m_ucFirmwareVer)) {
        CloseCamera();
        m_bOpen = false;
        DbgPrint2(LogSeverity::Error, "OpenCamera",
                  "Failed to get firmware version, close camera\n");
        return false;
    }

    m_bUSB3Host = IsUSB3Host();
    if (m_bUSB3Host) {
        DbgPrint2(LogSeverity::Info, "OpenCamera", "***********USB3.0 Host*********** \n");
        m_iFPGACtrl = kFPGACtrlUSB3;
        m_iBandwidth = m_iBandwidthUSB3;
    } else {
        DbgPrint2(LogSeverity::Info, "OpenCamera", "***********USB2.0 Host***********\n");
        m_iFPGACtrl = kFPGACtrlUSB2;
    }
    CameraModeCheck();
    return m_bOpen;
}

void CCameraBase::CloseCamera()
{
    if (!m_bOpen)
        return;
    // A running video capture saves in StopCapture; otherwise save here, so
    // that settings changed without any capture survive a reopen too.
    if (m_CaptureState.IsSnap() || !IsCaptureRunning())
        SaveSetting();
    StopCapture();
    CloseDevice();
    DbgPrint2(LogSeverity::Info, "CloseCamera", "camera closed\n");
}

bool CCameraBase::ReConnectCamera()
{
    DbgPrint2(LogSeverity::Warning, "ReConnectCamera", "reconnect camera\n");
    if (m_pDevHandle == nullptr)
        return false;
    CloseDevice();
    usleep(100000);
    DbgPrint2(LogSeverity::Info, "ReConnectCamera", "camera closed\n");
    usleep(50000);
    if (OpenCamera(m_iCameraIndex))
        return true;
    usleep(1000000);
    return OpenCamera(m_iCameraIndex);
}

long CCameraBase::FrameBufferBytes() const
{
    return static_cast<long>(m_Model.m_iMaxWidth) * m_Model.m_iMaxHeight * 2;
}

void CCameraBase::InitVariable()
{
    const long pixels = static_cast<long>(m_Model.m_iMaxWidth) * m_Model.m_iMaxHeight;
    const long frameBytes = FrameBufferBytes();
    // A second initialisation keeps what the first one allocated.
    if (m_pGammaTable16 == nullptr)
        m_pGammaTable16 = NewBuffer<uint16_t>(kGammaEntries16);
    const bool hpcMaps = m_HotPixelMap.Allocate(pixels > 0 ? size_t(pixels) : 0);
    if (m_pFrameBuf == nullptr)
        m_pFrameBuf = NewFrameBuffer<uint8_t>(frameBytes);
    if (m_pImgBuf == nullptr)
        m_pImgBuf = NewFrameBuffer<uint8_t>(frameBytes);
    if (m_pCirBuf == nullptr)
        m_pCirBuf.reset(new (std::nothrow) CirBuf(frameBytes, kRingSlots));
    if (m_pGammaTable16 == nullptr || !hpcMaps || m_pFrameBuf == nullptr || m_pImgBuf == nullptr ||
        m_pCirBuf == nullptr)
        DbgPrint2(LogSeverity::Error, "InitVariable", "buffer allocation failed\n");
    m_Algorithm.SetBayer(static_cast<BayerPattern>(m_Model.m_iBayerPattern));
}

bool CCameraBase::StartSensorCLK()
{
    if (!SendCMD(LegacyUsb2Request::kSensorClockStart))
        return false;
    m_bSensorClkStopped = false;
    return true;
}

bool CCameraBase::StopSensorCLK()
{
    if (!SendCMD(LegacyUsb2Request::kSensorClockStop))
        return false;
    m_bSensorClkStopped = true;
    return true;
}

bool CCameraBase::SetTransferCount(int bytes)
{
    const uint32_t blocks =
        bytes > 0 ? static_cast<uint32_t>((static_cast<int64_t>(bytes) + kTransferBlock - 1) /
                                          kTransferBlock)
                  : 0;
    return SendCMD(FX3Request::kTransferCount, static_cast<uint16_t>(blocks >> 16),
                   static_cast<uint16_t>(blocks & 0xFFFF), false, nullptr, 0)
        .IsOk();
}

void CCameraBase::SetMemSave(bool) {}

void CCameraBase::DbgPrint2(LogSeverity severity, const char *tag, const char *format, ...)
{
    if (!g_bDebugPrint.load(std::memory_order_relaxed))
        return;
    va_list args;
    va_start(args, format);
    DbgPrintV(severity, m_iProductID, tag, format, args);
    va_end(args);
}
