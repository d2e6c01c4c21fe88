// Side services of the camera object: sensor temperature from whichever chip
// the model carries, pulse guiding, the two trigger-output pins, the debug
// log switch and the host description.
#include "engine/CCameraBase.h"

#include <sys/utsname.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>

#include "log/DbgPrint.h"
#include "transport/FX3Protocol.h"

namespace {

constexpr int kThermistorRefKOhm = 10;

enum TempSensorType {
    TEMP_TMP100 = 0,
    TEMP_ADC081 = 1,
    TEMP_AD7142 = 2,
    TEMP_TMP451 = 3,
    TEMP_INSIDE = 4,
};

// NTC thermistor, 10 kOhm at 25 degrees C: resistance in kOhm for each whole
// degree from kThermistorFirstTemp upwards.
constexpr int kThermistorFirstTemp = -50;
// clang-format off
constexpr double kThermistorKOhm[] = {
    505.7038, 480.707, 457.8162, 435.186, 410.5533, 391.0031, 373.808, 355.3308, 335.218,
    319.255, 304.7, 290.9, 277.2, 263.6, 250.1, 236.8, 224.0, 211.5, 199.6, 188.1, // -50..-31
    175.2876, 165.0387, 155.433, 146.4552, 138.0481, 130.2341, 122.8624, 115.9736, 109.5123,
    103.3623, 97.6037, 92.0947, 86.9305, 82.0877, 77.5442, 73.2798, 69.2759, 65.5149, 61.9809,
    58.6587, // -30..-11
    55.5345, 52.5954, 49.8294, 47.2253, 44.7727, 42.462, 40.2841, 38.2307, 36.294, 34.4668,
    32.7421, 31.1138, 29.5759, 28.1229, 26.7496, 25.4513, 24.2234, 23.0618, 21.9625,
    20.9218, // -10..9
    19.9364, 19.0029, 18.1184, 17.28, 16.4852, 15.7313, 15.0161, 14.3375, 13.6932, 13.0815,
    12.5005, 11.9485, 11.4239, 10.9252, 10.451, 10.0, 9.5709, 9.1626, 8.7738, 8.4037, // 10..29
    8.0512, 7.7154, 7.3954, 7.0904, 6.7996, 6.5223, 6.2577, 6.0053, 5.7645, 5.5345, 5.315,
    5.1053, 4.905, 4.7136, 4.5307, 4.3558, 4.1887, 4.0287, 3.8758, 3.7294, // 30..49
    3.5893, 3.4553, 3.3269, 3.2039, 3.0862, 2.9733, 2.8652, 2.7616, 2.6622, 2.5669, 2.4755,
    2.3879, 2.3038, 2.2231, 2.1456, 2.0712, 1.9998, 1.9312, 1.8653, 1.8019, // 50..69
    1.7411, 1.6826, 1.6264, 1.5723, 1.5203, 1.4703, 1.4222, 1.3759, 1.3313, 1.2884, 1.2471,
    1.2073, 1.169, 1.1321, 1.0965, 1.0623, 1.0293, 0.9974, 0.9667, 0.9372, // 70..89
    0.9086, 0.8811, 0.8545, 0.8289, 0.8042, 0.7803, 0.7572, 0.735, 0.7135, 0.6927, 0.6727,
    0.6533, 0.6346, 0.6165, 0.599, 0.5821, 0.5658, 0.55, 0.5347, 0.5199, // 90..109
    0.5056, 0.4918, 0.4784, 0.4654, // 110..113
};
// clang-format on
constexpr int kThermistorRows = sizeof kThermistorKOhm / sizeof kThermistorKOhm[0];
static_assert(kThermistorRows == 164, "one thermistor row per degree from -50 to 113");

// Interpolates the table at a resistance (kOhm). The result is kept in
// lastTemp; a resistance outside the table leaves lastTemp as it is.
float ThermistorTemp(float resistance, float &lastTemp, int minTemp, int maxTemp)
{
    for (int k = 0; k + 1 < kThermistorRows; ++k) {
        const double r0 = kThermistorKOhm[k];
        const double r1 = kThermistorKOhm[k + 1];
        if (std::fabs(resistance - (r0 + r1) / 2) > std::fabs(r1 - r0) / 2)
            continue;
        const float temp =
            static_cast<float>(kThermistorFirstTemp + k + (resistance - r0) / (r1 - r0));
        if (temp >= minTemp && temp <= maxTemp)
            lastTemp = temp;
        break;
    }
    return lastTemp;
}

bool ValidGuideDirection(GuideD direction)
{
    return direction >= GUIDE_NORTH && direction <= GUIDE_WEST;
}

// One output pin's FPGA operations.
struct SyncPinOps {
    OruStatus (CCameraFX3::*enable)(bool);
    OruStatus (CCameraFX3::*level)(bool);
    OruStatus (CCameraFX3::*delay)(uint32_t);
    OruStatus (CCameraFX3::*keep)(uint32_t);
};

constexpr SyncPinOps kSyncPins[] = {
    {&CCameraFX3::EnableExtSyncA, &CCameraFX3::SelectExtSyncALevel,
     &CCameraFX3::SetExtSyncADelayTime, &CCameraFX3::SetExtSyncAKeepTime},
    {&CCameraFX3::EnableExtSyncB, &CCameraFX3::SelectExtSyncBLevel,
     &CCameraFX3::SetExtSyncBDelayTime, &CCameraFX3::SetExtSyncBKeepTime},
};

bool ValidPin(Trig_Output_Pin pin)
{
    return pin >= TRIG_OUTPUT_PINA && pin <= TRIG_OUTPUT_PINB;
}

} // namespace

// ---- Temperatures ----

void CCameraBase::InitThermistorRange()
{
    m_iThermistorMinTemp = kThermistorFirstTemp;
    m_iThermistorMaxTemp = kThermistorFirstTemp + kThermistorRows - 1;
}

float CCameraBase::GetTemp()
{
    return GetSensorTemp();
}

float CCameraBase::GetSensorTemp()
{
    float temp;
    switch (m_Model.m_iTempSensorType) {
    case TEMP_ADC081: temp = GetADC081Temp(); break;
    case TEMP_AD7142: temp = GetAD7142Temp(); break;
    case TEMP_TMP451: temp = GetTMP451Temp(); break;
    case TEMP_INSIDE: temp = GetSensorTempInside(); break;
    default: temp = GetTMP100Temp(); break;
    }
    m_fTemp = temp;
    return temp;
}

float CCameraBase::TMP100RawToTemp(int raw)
{
    return raw < 2048 ? raw * 0.0625f : (4096 - raw) * -0.0625f;
}

float CCameraBase::GetTMP100Temp()
{
    uint8_t reply[2] = {};
    if (!SendCMD(FX3Request::kBoardTemp, 0, 0, true, reply, sizeof reply))
        return m_fTemp;
    const int raw = reply[1] * 16 + (reply[0] >> 4);
    // A zero reading is what an absent or idle chip answers.
    if (raw == 0)
        return m_fTemp;
    m_fTemp = TMP100RawToTemp(raw);
    return m_fTemp;
}

float CCameraBase::GetTMP451Temp()
{
    uint8_t reply[2] = {};
    if (SendCMD(FX3Request::kBoardTemp, 0, 0, true, reply, sizeof reply)) {
        m_fTemp = reply[1] + reply[0] * 0.0625f;
        DbgPrint2(LogSeverity::Debug, "GetTMP451Temp", "Temp:%2.2f.\n",
                  static_cast<double>(m_fTemp.load()));
    }
    return m_fTemp;
}

float CCameraBase::GetAD7142Temp()
{
    uint8_t reply[2] = {};
    if (!SendCMD(FX3Request::kTempAdc, 0, 0, true, reply, sizeof reply))
        return m_fTemp;
    const int raw = (reply[1] << 4) | (reply[0] >> 4);
    return CalculTempuature(raw, kThermistorRefKOhm);
}

float CCameraBase::GetADC081Temp()
{
    uint8_t reply[2] = {};
    if (!SendCMD(FX3Request::kTempAdc, 0, 0, true, reply, sizeof reply))
        return m_fTemp;
    const unsigned char raw = static_cast<unsigned char>((reply[0] >> 4) | (reply[1] << 4));
    return CalculTempuature(raw, kThermistorRefKOhm);
}

float CCameraBase::CalculTempuature(int raw, int referenceKOhm)
{
    // A 12-bit reading; 4096 and above would divide by zero or go negative.
    if (raw < 0 || raw >= 4096)
        return m_fThermistorTemp;
    const float resistance =
        static_cast<float>(static_cast<double>(raw) * referenceKOhm / (4096 - raw));
    return ThermistorTemp(resistance, m_fThermistorTemp, m_iThermistorMinTemp,
                          m_iThermistorMaxTemp);
}

float CCameraBase::CalculTempuature(unsigned char raw, int referenceKOhm)
{
    const float resistance =
        static_cast<float>(static_cast<double>(raw) * referenceKOhm / (256 - raw));
    return ThermistorTemp(resistance, m_fThermistorTemp, m_iThermistorMinTemp,
                          m_iThermistorMaxTemp);
}

// ---- Guiding ----

bool CCameraBase::PulseGuideOn(GuideD direction)
{
    if (!ValidGuideDirection(direction))
        return true;
    DbgPrint2(LogSeverity::Info, "PulseGuideOn", "PulseGuide Direction On:%d",
              static_cast<int>(direction));
    SendCMD(FX3Request::kGuideOn, static_cast<uint16_t>(direction), 0, false, nullptr, 0);
    return true;
}

bool CCameraBase::PulseGuideOff(GuideD direction)
{
    if (!ValidGuideDirection(direction))
        return true;
    DbgPrint2(LogSeverity::Info, "PulseGuideOff", "PulseGuide Direction Off:%d",
              static_cast<int>(direction));
    SendCMD(FX3Request::kGuideOff, static_cast<uint16_t>(direction), 0, false, nullptr, 0);
    return true;
}

bool CCameraBase::pulseGuide(GuideD direction, int ms)
{
    if (!ValidGuideDirection(direction))
        return true;
    DbgPrint2(LogSeverity::Info, "pulseGuide", "PulseGuide Direction:%d time:%d\n",
              static_cast<int>(direction), ms);
    SendCMD(FX3Request::kGuideOn, static_cast<uint16_t>(direction), 0, false, nullptr, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(ms > 0 ? ms : 0));
    SendCMD(FX3Request::kGuideOff, static_cast<uint16_t>(direction), 0, false, nullptr, 0);
    return true;
}

// ---- Trigger-output pins ----

ORU_ERROR_CODE CCameraBase::SetTrigOutPinConf(Trig_Output_Pin pin, bool highActive, long delayUs,
                                              long durationUs)
{
    if (!ValidPin(pin))
        return ORU_ERROR_GENERAL_ERROR;
    // A negative time would reach the FPGA as a huge unsigned one.
    const int32_t delay =
        delayUs > 0 ? static_cast<int32_t>(std::min<long>(delayUs, INT32_MAX)) : 0;
    const int32_t duration =
        durationUs > 0 ? static_cast<int32_t>(std::min<long>(durationUs, INT32_MAX)) : 0;
    const SyncPinOps &ops = kSyncPins[pin];
    OruStatus written = (this->*ops.enable)(duration >= 1);
    written &= (this->*ops.level)(highActive);
    written &= (this->*ops.delay)(static_cast<uint32_t>(delay));
    written &= (this->*ops.keep)(static_cast<uint32_t>(duration));
    if (!written)
        return written.Code();
    m_TrigOutPin[pin] = TrigOutPinConf{highActive, delay, duration};
    return ORU_SUCCESS;
}

ORU_ERROR_CODE CCameraBase::GetTrigOutPinConf(Trig_Output_Pin pin, ORU_BOOL *highActive,
                                              long *delayUs, long *durationUs)
{
    if (!ValidPin(pin))
        return ORU_ERROR_GENERAL_ERROR;
    const TrigOutPinConf &conf = m_TrigOutPin[pin];
    *highActive = conf.bHighActive ? ORU_TRUE : ORU_FALSE;
    *delayUs = conf.lDelayUs;
    *durationUs = conf.lDurationUs;
    return ORU_SUCCESS;
}

// ---- Log switch and host description ----

ORU_ERROR_CODE CCameraBase::EnableDebugLog(ORU_BOOL enable)
{
    m_bDebugPrint = enable == ORU_TRUE;
    g_bDebugPrint = m_bDebugPrint;
    return ORU_SUCCESS;
}

ORU_ERROR_CODE CCameraBase::GetDebugLogIsEnabled(ORU_BOOL *enabled)
{
    *enabled = m_bDebugPrint ? ORU_TRUE : ORU_FALSE;
    return ORU_SUCCESS;
}

void CCameraBase::SysInfo()
{
    utsname name{};
    if (uname(&name) != 0) {
        perror("uname");
        return;
    }
    DbgPrint2(LogSeverity::Info, "SysInfo", "%s\n", name.sysname);
    DbgPrint2(LogSeverity::Info, "SysInfo", "%s\n", name.version);
    DbgPrint2(LogSeverity::Info, "SysInfo", "%s\n", name.machine);
}
