// The cooled-camera layer: thermo-electric cooler driven through a DAC value
// derived from a wanted current, PD regulation towards the target temperature
// with a cool-down ramp on its own thread, fan, anti-dew heater and humidity,
// and what the cooled-camera controls (cooler power, target, cooler on, fan,
// heater) do.
//
// Thread safety: the temperature thread runs AutoTemp, GetSensorTemp and
// SetPowerPerc while callers change the target or switch the cooler. The
// regulator lock guards the PD, rate and ramp state and orders every cooler
// power decision (AutoTemp, SetAutoTemp, PID_init, SetPowerPerc); the other
// shared values are atomics of CCameraBase or of this class.
#pragma once

#include <atomic>
#include <cstdint>

#include "engine/CCameraBase.h"

class CCameraCool : public CCameraBase {
public:
    CCameraCool();
    ~CCameraCool() override;

    void InitCooling(int limit);
    bool SetPowerPerc(float percent);
    bool SetDA(int dac);
    int CalculDA(float current);
    void PID_init(float kp, float ki, float kd);
    void SetAutoTemp(bool on, float target);
    void AutoTemp(float temperature);
    void StartAutoTempThr();
    void StopAutoTempThr();
    bool SetFanOn(bool on);
    bool GetFanOn();
    bool SetLensHeat(long on);
    bool GetLensHeat();
    int GetHumidity();

    void CloseCamera() override;
    float GetTemp() override;

    float m_fDAMin;
    float m_fDAMax;
    float m_fIMax;
    float m_fIMin;
    std::atomic<int> m_iDAValue;
    std::atomic<int> m_iLastDA;

    // PD regulator.
    float m_fErr;
    float m_fPrevErr; // -200.0: no previous error
    float m_fKp, m_fKi, m_fKd;
    float m_fOutput;
    float m_fIntegral;

    // Rate limit: time (ms) and temperature of the previous accepted reading.
    uint32_t m_uPrevTempTime;
    float m_fPrevTemp;

    // Cool-down ramp.
    bool m_bRampActive;
    int m_iRampStartTemp;
    int m_iRampTarget;
    uint64_t m_uRampStartMs;
    int m_iRampSlopeNum;   // 35
    int m_iRampSlopeDen;   // 550
    int m_iRampPeriod;     // 15
    uint64_t m_uRampLastMs;
    float m_fRampSetPoint;
    bool m_bTargetReached;

    ThreadCtrl m_TempThread;

private:
    static void AutoTempFunc(std::atomic<bool> *running, void *arg);
    // The power SetPowerPerc settles on for a requested percentage.
    float LimitPower(float percent) const;
    // The value SetDA sends for a DAC value (transformed for drive kind 1).
    int DAOnWire(int dac) const;

    S_MUTEX_UNIX m_csRegulator;
};
