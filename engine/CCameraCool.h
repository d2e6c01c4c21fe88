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
    float m_fErr ORU_GUARDED_BY(m_csRegulator);
    float m_fPrevErr ORU_GUARDED_BY(m_csRegulator); // -200.0: no previous error
    float m_fKp ORU_GUARDED_BY(m_csRegulator);
    float m_fKi ORU_GUARDED_BY(m_csRegulator);
    float m_fKd ORU_GUARDED_BY(m_csRegulator);
    float m_fOutput ORU_GUARDED_BY(m_csRegulator);
    float m_fIntegral ORU_GUARDED_BY(m_csRegulator);

    // Rate limit: time (ms) and temperature of the previous accepted reading.
    uint32_t m_uPrevTempTime ORU_GUARDED_BY(m_csRegulator);
    float m_fPrevTemp ORU_GUARDED_BY(m_csRegulator);

    // Cool-down ramp.
    bool m_bRampActive ORU_GUARDED_BY(m_csRegulator);
    int m_iRampStartTemp ORU_GUARDED_BY(m_csRegulator);
    int m_iRampTarget ORU_GUARDED_BY(m_csRegulator);
    uint64_t m_uRampStartMs ORU_GUARDED_BY(m_csRegulator);
    int m_iRampSlopeNum ORU_GUARDED_BY(m_csRegulator); // 35
    int m_iRampSlopeDen ORU_GUARDED_BY(m_csRegulator); // 550
    int m_iRampPeriod ORU_GUARDED_BY(m_csRegulator);   // 15
    uint64_t m_uRampLastMs ORU_GUARDED_BY(m_csRegulator);
    float m_fRampSetPoint ORU_GUARDED_BY(m_csRegulator);
    bool m_bTargetReached ORU_GUARDED_BY(m_csRegulator);

    ThreadCtrl m_TempThread;

private:
    static void AutoTempFunc(std::atomic<bool> *running, void *arg);
    // The power SetPowerPerc settles on for a requested percentage.
    float LimitPower(float percent) const;
    // The value SetDA sends for a DAC value (transformed for drive kind 1).
    int DAOnWire(int dac) const;

    S_MUTEX_UNIX m_csRegulator;
};
