// The camera's current settings: what the caller and the model set (ROI,
// exposure, gain, timing, white balance, automatic controls, cooler, ...)
// and what the camera measured last. The camera object owns them; engine and
// model code read and write them as its members, other code reads them
// through CCameraBase::Settings() and changes them through the camera's
// operations.
//
// Thread safety: values the working, trigger, auto-control and cooler
// threads read while a caller writes them are atomics; the ROI geometry
// changes as a whole under the camera's m_csRoi.
#pragma once

#include <atomic>
#include <cstdint>

#include "algorithm/ImageType.h"
#include "engine/EngineTypes.h"

struct TrigOutPinConf {
    bool bHighActive;
    int32_t lDelayUs;
    int32_t lDurationUs;
};

struct CameraSettings {
    static constexpr int kAutoMaxGainDefault = 50;
    static constexpr int kAutoMaxExpMsDefault = 30000;
    static constexpr int kAutoTargetDefault = 100;
    // FPGA control byte for a USB3 and a USB2 link.
    static constexpr int kFPGACtrlUSB3 = 0x21;
    static constexpr int kFPGACtrlUSB2 = 0x61;

    std::atomic<int> m_iWidth{0};
    std::atomic<int> m_iHeight{0};
    std::atomic<int> m_iStartX{0};
    std::atomic<int> m_iStartY{0};
    std::atomic<int> m_iBin{1};
    std::atomic<IMAGE_TYPE> m_ImgType{IMAGE_TYPE_8BIT};
    std::atomic<uint64_t> m_lExposure{0};
    std::atomic<int> m_iExpReg{0};
    std::atomic<bool> m_bLongExpMode{false};
    std::atomic<bool> m_bHardwareBin{false};
    std::atomic<int> m_iGain{0};
    std::atomic<int> m_iGamma{0};
    std::atomic<int> m_iOffset{0};
    std::atomic<int> m_iCMOSClk{0};
    std::atomic<bool> m_b16Bit{false};
    std::atomic<bool> m_bHighSpeed{false};
    std::atomic<bool> m_bRawOutput{false};
    std::atomic<bool> m_bEnableDDR{false};
    std::atomic<int> m_iHMAX{0};
    std::atomic<uint32_t> m_iFrameTimeUs{0};
    std::atomic<uint32_t> m_iTransferTimeUs{0};
    std::atomic<float> m_fMaxFPS{0.0f};
    std::atomic<float> m_fDataRate{0.0f};
    std::atomic<int> m_iBandwidth{0};
    std::atomic<bool> m_bAutoBandwidth{false};
    int m_iBandwidthUSB3 = 0;
    std::atomic<bool> m_bFlipHoriz{false};
    std::atomic<bool> m_bFlipVert{false};
    std::atomic<int> m_iWB_R{0};
    std::atomic<int> m_iWB_B{0};
    int m_iPattern = 0;
    std::atomic<bool> m_bAutoExp{false};
    std::atomic<bool> m_bAutoGain{false};
    std::atomic<bool> m_bAutoWB{false};
    bool m_bAutoBL = false;
    // Per-phase black-level bytes.
    uint8_t m_ucEE = 0, m_ucOO = 0, m_ucEO = 0, m_ucOE = 0;
    std::atomic<int> m_iAutoMaxGain{kAutoMaxGainDefault};
    std::atomic<int> m_iAutoMaxExpMs{kAutoMaxExpMsDefault};
    std::atomic<int> m_iAutoTargetBrightness{kAutoTargetDefault};
    bool m_bUSB3Host = false;
    std::atomic<bool> m_bHPC{false};
    std::atomic<bool> m_bCutDark{false};
    char m_szBMPPath[256] = {};
    std::atomic<float> m_fCoolPowerPerc{0.0f};
    std::atomic<int> m_iTargetTemp{0};
    std::atomic<bool> m_bCoolerOn{false};
    std::atomic<float> m_fTemp{0.0f};
    float m_fThermistorTemp = 0.0f;
    int m_iThermistorMinTemp = 0;
    int m_iThermistorMaxTemp = 0;
    std::atomic<int> m_iHumidity{0};
    int m_iOverCLKPerc = 0;
    std::atomic<bool> m_bMonoBin{false};
    bool m_bDebugPrint = false;
    std::atomic<int> m_iCameraMode{MODE_NORMAL};
    TrigOutPinConf m_TrigOutPin[2] = {{true, 0, 0}, {true, 0, 0}};
    std::atomic<int> m_iAutoExpLimitUs{0};
    uint64_t m_lLastExp = 0;
    bool m_bLastExpAuto = false;
    int m_iFPGACtrl = kFPGACtrlUSB3;
    bool m_bSensorClkStopped = false;
    bool m_bTimeMark = false;
    int m_iLibusbLogLevel = 0;
};
