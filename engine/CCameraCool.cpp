#include "engine/CCameraCool.h"

#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "log/DbgPrint.h"
#include "transport/FX3Protocol.h"
#include "transport/SectionLock.h"

namespace {

// Cooler drive: DAC value and the cooler current (A) it gives, by falling
// DAC value; a lower value drives more current.
struct CoolerCurrentRow {
    int iDAC;
    float fCurrent;
};

constexpr CoolerCurrentRow kCoolerCurrent[] = {
    {255, 0.0f}, {220, 1.31f}, {200, 1.94f}, {180, 2.53f}, {160, 3.15f}, {140, 3.7f}, {120, 4.2f},
    {100, 4.7f}, {80, 5.2f},   {60, 5.6f},   {50, 5.85f},  {40, 6.01f},  {30, 6.18f}, {20, 6.4f},
};
constexpr int kCoolerRows = sizeof kCoolerCurrent / sizeof kCoolerCurrent[0];
static_assert(kCoolerRows == 14, "fourteen cooler current rows");

constexpr int kInitialDALimit = 40;
constexpr int kDriveKindFPGA = 1;
constexpr int kHeaterKindPower = 2;
constexpr uint16_t kHumidityValue = 0xF5;
constexpr uint8_t kFanFirmwareMin = 48;
constexpr uint8_t kHeaterPowerOn = 197;
constexpr int kTargetMin = -40;
constexpr int kTargetMax = 30;

// Regulator.
constexpr float kKp = 0.2f;
constexpr float kKi = 0.0f;
constexpr float kKd = 0.6f;
constexpr float kNoPrevErr = -200.0f;
constexpr float kNoPrevTemp = -100.0f;
constexpr float kFastCoolingRate = -0.2f; // degrees C per second
constexpr float kDeadBand = 0.4f;
constexpr int kRampSlopeNum = 35;
constexpr int kRampSlopeDen = 550;
constexpr int kRampPeriod = 15;
constexpr int kRampStepMs = 15000;
// Enough power steps to cross every DAC count at the smallest useful step.
constexpr int kMaxPowerSteps = 100000;

// Cooler loop timing: one pass is about 3.6 s.
constexpr int kTickMs = 10;
constexpr int kStartDelayTicks = 20;
constexpr int kBeforeReadTicks = 20;
constexpr int kAfterReadTicks = 159;

// Sleeps ticks x 10 ms; false as soon as the loop is asked to stop.
bool SleepTicks(const std::atomic<bool> *running, int ticks)
{
    for (int i = 0; i < ticks; ++i) {
        if (!*running)
            return false;
        usleep(kTickMs * 1000);
    }
    return *running;
}

} // namespace

CCameraCool::CCameraCool()
    : CCameraBase(), m_fDAMin(static_cast<float>(kCoolerCurrent[kCoolerRows - 1].iDAC)),
      m_fDAMax(static_cast<float>(kCoolerCurrent[0].iDAC)),
      m_fIMax(kCoolerCurrent[kCoolerRows - 1].fCurrent), m_fIMin(kCoolerCurrent[0].fCurrent),
      m_iDAValue(0), m_iLastDA(-1), m_fErr(0.0f), m_fPrevErr(kNoPrevErr), m_fKp(0.0f), m_fKi(0.0f),
      m_fKd(0.0f), m_fOutput(0.0f), m_fIntegral(0.0f), m_uPrevTempTime(0), m_fPrevTemp(kNoPrevTemp),
      m_bRampActive(false), m_iRampStartTemp(0), m_iRampTarget(0), m_uRampStartMs(0),
      m_iRampSlopeNum(kRampSlopeNum), m_iRampSlopeDen(kRampSlopeDen), m_iRampPeriod(kRampPeriod),
      m_uRampLastMs(0), m_fRampSetPoint(0.0f), m_bTargetReached(false), m_TempThread(),
      m_csRegulator()
{
    InitializeCriticalSection(&m_csRegulator);
    DescribeModel().m_Caps.bCooler = true;
    InitCooling(kInitialDALimit);
    m_TempThread.InitFuncPt(AutoTempFunc);
    m_TempThread.SetName("oru-cooler");
}

CCameraCool::~CCameraCool()
{
    DbgPrint2(LogSeverity::Info, "~CCameraCool", "~CCameraCool\n");
    // The loop uses the regulator lock and this layer's state.
    m_TempThread.Stop();
    DeleteCriticalSection(&m_csRegulator);
}

void CCameraCool::InitCooling(int limit)
{
    int nearest = 0;
    for (int row = 1; row < kCoolerRows; ++row)
        if (std::abs(kCoolerCurrent[row].iDAC - limit) <
            std::abs(kCoolerCurrent[nearest].iDAC - limit))
            nearest = row;
    m_fDAMin = static_cast<float>(kCoolerCurrent[nearest].iDAC);
    m_fIMax = kCoolerCurrent[nearest].fCurrent;
    DbgPrint2(LogSeverity::Debug, "InitCooling", "DA_Min:%.2f, I_Max:%.2f\n",
              static_cast<double>(m_fDAMin), static_cast<double>(m_fIMax));
}

int CCameraCool::CalculDA(float current)
{
    int dac = -1;
    for (int k = 0; k + 1 < kCoolerRows; ++k) {
        const CoolerCurrentRow &lo = kCoolerCurrent[k];
        const CoolerCurrentRow &hi = kCoolerCurrent[k + 1];
        if (lo.fCurrent <= current && current <= hi.fCurrent) {
            dac = static_cast<int>(lo.iDAC + (hi.iDAC - lo.iDAC) * (current - lo.fCurrent) /
                                                 (hi.fCurrent - lo.fCurrent));
            break;
        }
    }
    if (dac < 0) {
        int nearest = 0;
        for (int row = 1; row < kCoolerRows; ++row)
            if (std::fabs(kCoolerCurrent[row].fCurrent - current) <
                std::fabs(kCoolerCurrent[nearest].fCurrent - current))
                nearest = row;
        dac = kCoolerCurrent[nearest].iDAC;
    }
    if (dac < m_fDAMin)
        dac = static_cast<int>(m_fDAMin);
    if (dac > m_fDAMax)
        dac = static_cast<int>(m_fDAMax);
    return dac;
}

float CCameraCool::LimitPower(float percent) const
{
    const float lowest = m_fIMin * 100.0f / m_fIMax;
    if (percent < lowest)
        percent = lowest;
    if (percent > 100.0f)
        percent = 100.0f;
    return percent;
}

int CCameraCool::DAOnWire(int dac) const
{
    return Model().m_iCoolerDriveKind == kDriveKindFPGA ? 220 * (272 - dac) / 256 : dac;
}

bool CCameraCool::SetPowerPerc(float percent)
{
    SectionLock lock(m_csRegulator);
    SetFanOn(percent > 0.0f);
    percent = LimitPower(percent);
    const bool sent = SetDA(CalculDA(percent * m_fIMax / 100.0f));
    m_fCoolPowerPerc = percent;
    return sent;
}

bool CCameraCool::SetDA(int dac)
{
    const int value = DAOnWire(dac);
    if (value == m_iLastDA)
        return true;
    const bool sent =
        Model().m_iCoolerDriveKind == kDriveKindFPGA
            ? SetFPGACoolPower(value).IsOk()
            : SendCMD(FX3Request::kCoolerDrive, static_cast<uint16_t>(value), 0, false, nullptr, 0)
                  .IsOk();
    // Only a value the camera took is remembered, so a failed one is sent again.
    if (sent) {
        m_iDAValue = value;
        m_iLastDA = value;
    }
    return sent;
}

void CCameraCool::PID_init(float kp, float ki, float kd)
{
    SectionLock lock(m_csRegulator);
    m_fErr = 0.0f;
    m_fOutput = 0.0f;
    m_fPrevErr = kNoPrevErr;
    m_fIntegral = 0.0f;
    m_fKp = kp;
    m_fKi = ki;
    m_fKd = kd;
    DbgPrint2(LogSeverity::Debug, "PID_init", "p%.2f d%.2f\n", static_cast<double>(kp),
              static_cast<double>(kd));
}

void CCameraCool::SetAutoTemp(bool on, float target)
{
    SectionLock lock(m_csRegulator);
    m_bCoolerOn = on;
    if (target < kTargetMin)
        m_iTargetTemp = kTargetMin;
    else if (target > kTargetMax)
        m_iTargetTemp = kTargetMax;
    else
        m_iTargetTemp = static_cast<int>(target);
    PID_init(kKp, kKi, kKd);
    if (!on)
        return;
    m_iRampStartTemp = static_cast<int>(GetSensorTemp());
    m_bRampActive = true;
    m_iRampTarget = m_iTargetTemp;
    m_uRampStartMs = GetTickCount();
    m_uRampLastMs = m_uRampStartMs;
    m_iRampSlopeNum = kRampSlopeNum;
    m_iRampSlopeDen = kRampSlopeDen;
    m_iRampPeriod = kRampPeriod;
    m_fRampSetPoint = static_cast<float>(m_iRampStartTemp);
    DbgPrint2(LogSeverity::Info, "Init", "Start Temp: %d, Target Temp: %d\n", m_iRampStartTemp,
              m_iTargetTemp.load());
    m_bTargetReached = false;
}

void CCameraCool::AutoTemp(float temperature)
{
    SectionLock lock(m_csRegulator);
    const uint32_t now = GetTickCount();

    float rate = 0.0f;
    if (m_uPrevTempTime != 0 && m_fPrevTemp != 0.0f) {
        // Two readings in the same millisecond count as one millisecond apart.
        const uint32_t elapsed = now - m_uPrevTempTime;
        rate = (temperature - m_fPrevTemp) * 1000.0f / static_cast<float>(elapsed ? elapsed : 1);
        if (std::fabs(rate) >= Model().m_fCoolRateLimit)
            return;
    }
    m_uPrevTempTime = now;
    m_fPrevTemp = temperature;

    if (!m_bCoolerOn)
        return;

    const int target = m_iTargetTemp;
    float setPoint = static_cast<float>(target);
    if (m_bRampActive) {
        // GetTickCount wraps at 2^32 ms; differences are taken in 32 bits.
        const uint32_t sinceUpdate = now - static_cast<uint32_t>(m_uRampLastMs);
        if (sinceUpdate < static_cast<uint32_t>(m_iRampPeriod)) {
            setPoint = m_fRampSetPoint;
        } else {
            const uint32_t sinceStart = now - static_cast<uint32_t>(m_uRampStartMs);
            const int steps = static_cast<int>(sinceStart / kRampStepMs) + 1;
            const float slope =
                static_cast<float>(m_iRampSlopeNum * m_iRampPeriod) / m_iRampSlopeDen;
            setPoint = m_iRampStartTemp - slope * steps * std::fmax(1.0f, temperature / 6.0f);
            if (temperature > 0.0f && temperature - setPoint < 3.0f)
                setPoint = temperature - 3.0f;
            if (temperature < setPoint)
                setPoint = temperature - 2.0f;
            if (setPoint < target)
                setPoint = static_cast<float>(target);
            if (temperature <= target)
                m_bTargetReached = true;
            m_fRampSetPoint = setPoint;
            m_uRampLastMs = now;
        }
    }

    const float err = setPoint - temperature;
    // Too warm, but already cooling fast enough.
    if (err < 0.0f && rate < kFastCoolingRate)
        return;
    m_fErr = err;
    m_fIntegral += err;
    const float derivative = m_fPrevErr == kNoPrevErr ? 0.0f : m_fKd * (err - m_fPrevErr);
    const float output = m_fKp * err + m_fKi * m_fIntegral + derivative;
    m_fOutput = output;
    m_fPrevErr = err;

    float power = m_fCoolPowerPerc;
    if (output == 0.0f || std::fabs(err) <= kDeadBand) {
        SetPowerPerc(power - output);
        return;
    }
    // Move the power in steps of the output until the DAC value changes or
    // a limit is reached, so that each step moves the cooler by at least one
    // count. The steps are worked out first and sent once.
    const int daBefore = m_iDAValue;
    bool stepped = false;
    for (int step = 0; step < kMaxPowerSteps; ++step) {
        if ((power >= 100.0f && output <= 0.0f) || (power <= 0.0f && output >= 0.0f))
            break;
        const float next = power - output;
        if (next == power)
            break;
        power = next;
        stepped = true;
        if (DAOnWire(CalculDA(LimitPower(power) * m_fIMax / 100.0f)) != daBefore)
            break;
    }
    if (stepped)
        SetPowerPerc(power);
}

void CCameraCool::StartAutoTempThr()
{
    m_TempThread.Start(this);
}

void CCameraCool::StopAutoTempThr()
{
    DbgPrint2(LogSeverity::Debug, "StopAutoTempThr", "AutoTempThr wait >\n");
    m_TempThread.Stop();
    DbgPrint2(LogSeverity::Debug, "StopAutoTempThr", "AutoTempThr wait <\n");
}

void CCameraCool::AutoTempFunc(std::atomic<bool> *running, void *arg)
{
    CCameraCool *camera = static_cast<CCameraCool *>(arg);
    camera->DbgPrint2(LogSeverity::Info, "AutoTempFunc", "Thread AutoTemp start!\n");
    bool keepOn = SleepTicks(running, kStartDelayTicks);
    while (keepOn) {
        camera->AutoTemp(camera->m_fTemp);
        for (int read = 0; read < 2 && keepOn; ++read) {
            keepOn = SleepTicks(running, kBeforeReadTicks);
            if (keepOn) {
                camera->GetSensorTemp();
                keepOn = SleepTicks(running, kAfterReadTicks);
            }
        }
    }
    camera->SetPowerPerc(0.0f);
    camera->DbgPrint2(LogSeverity::Info, "AutoTempFunc",
                      "Thread AutoTemp Exit! Cooler is turned off\n");
}

bool CCameraCool::SetFanOn(bool on)
{
    if (!Model().m_Caps.bCooler || m_ucFirmwareVer < kFanFirmwareMin)
        return false;
    return EnableCfan(on).IsOk();
}

bool CCameraCool::GetFanOn()
{
    uint8_t reg = FPGARegShadow(&CCameraCool::m_ucFPGAReg25);
    ReadFPGAREG(FPGABits::kFanOff.reg, &reg);
    return (reg & FPGABitMask(FPGABits::kFanOff)) == 0;
}

bool CCameraCool::SetLensHeat(long on)
{
    const uint8_t power = on ? kHeaterPowerOn : 0;
    if (Model().m_iHeaterKind >= kHeaterKindPower)
        SetFPGAHeaterPowerPercent(power);
    return EnableWarm(on != 0).IsOk();
}

bool CCameraCool::GetLensHeat()
{
    uint8_t reg = FPGARegShadow(&CCameraCool::m_ucFPGAReg25);
    ReadFPGAREG(FPGABits::kHeater.reg, &reg);
    const bool warm = (reg & FPGABitMask(FPGABits::kHeater)) != 0;
    if (Model().m_iHeaterKind < kHeaterKindPower)
        return warm;
    uint8_t power = 0;
    ReadFPGAREG(FPGARegister::kHeaterPower, &power);
    if ((power == kHeaterPowerOn) != warm)
        DbgPrint2(LogSeverity::Warning, "GetLensHeat",
                  "Heater Power Control Conflict with Warm UP.\n");
    return warm;
}

int CCameraCool::GetHumidity()
{
    uint8_t reply[2] = {};
    if (!SendCMD(FX3Request::kHumidity, kHumidityValue, 0, true, reply, sizeof reply))
        return m_iHumidity;
    const int raw = reply[0] + 256 * reply[1];
    if (raw == 0)
        return m_iHumidity;
    int humidity = raw * 125 / 65536 - 6;
    if (humidity > 100)
        humidity = 100;
    if (humidity < 0)
        humidity = 0;
    m_iHumidity = humidity;
    return humidity;
}

void CCameraCool::CloseCamera()
{
    // The loop switches the cooler off as it leaves.
    StopAutoTempThr();
    CCameraBase::CloseCamera();
}

float CCameraCool::GetTemp()
{
    // A caller never reads the sensor while the thread does.
    if (m_TempThread.IsRunning())
        return m_fTemp;
    return GetSensorTemp();
}
