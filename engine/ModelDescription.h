// What a camera model is: its identity, sensor, capabilities and control
// limits, and the model data the generic code works with. The model's
// constructor fills it; from then on it is read only, except the trigger
// capabilities, which the camera learns from its FPGA when it opens.
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>

// Capability flags a model constructor sets, in the order of the capability
// record.
struct CameraCaps {
    bool bGain;
    bool bExposure;
    bool bGamma;
    bool bOffset;
    bool bBandwidth;
    bool bWBRed;
    bool bWBBlue;
    bool bRaw8;
    bool bRGB24;
    bool bY8;
    bool bRaw16;
    bool bAutoBandwidth;
    bool bColor;
    bool bOverClock;
    bool bTemperature;
    bool bHardwareBin;
    bool bHighSpeed;
    bool bCooler;
    bool bPatternAdjust;
    bool bAntiDewHeater;
    bool bModelFlagA; // set by some models, read by no generic code
    bool bST4;
    bool bModelFlagB; // set by some models, read by no generic code
    bool bTrigger;
    bool bEdgeTrigger;
    bool bLevelTrigger;
};

// Per-model control limits (units of the public controls).
struct ControlLimits {
    int iGainDefault, iGainMax, iGainMin;
    int64_t lExpDefault, lExpMax, lExpMin; // µs
    int iGammaDefault, iGammaMax, iGammaMin;
    int iWBRDefault, iWBBDefault, iWBMax, iWBMin;
    int iOffsetDefault, iOffsetMax, iOffsetMin;
    int iBandwidthMin, iBandwidthMax;
    int iPatternMax, iPatternMin;
};

struct ModelDescription {
    ModelDescription()
    {
        // 127 in every byte: no per-bin pixel offset until a model sets one.
        std::fill(std::begin(m_pSensorTable), std::end(m_pSensorTable), int8_t{127});
    }

    const char *m_szCameraName = "";
    const char *m_szModelKey = "";
    int m_iMaxWidth = 0;
    int m_iMaxHeight = 0;
    double m_dPixelSize = 0.0;
    int m_iBitDepth = 0;
    int m_iBayerPattern = 0;
    float m_fElecPerADU = 0.0f;
    bool m_bUSB3Camera = false;
    // Bin 1, then the model's others; 0 ends the list.
    uint8_t m_SupportedBins[16] = {1};
    CameraCaps m_Caps = {};
    ControlLimits m_Limits = {};
    // The five gain/offset reference values: two offsets, a middle gain, a
    // high gain and the offset that goes with the high gain.
    int m_iGainOffsetRef[5] = {};
    int m_iTempSensorType = 0;     // 0 TMP100, 1 ADC081, 2 AD7142, 3 TMP451, 4 model's own
    int m_iCoolerDriveKind = 0;    // 1: DAC through the FPGA cool-power register
    int m_iHeaterKind = 0;         // 2 or more: heater power register present
    bool m_bFPGABin = false;       // the FPGA bins (mono bin and binned frame size)
    bool m_bHWBinSums = false;     // the hardware bin sums pixels instead of averaging
    float m_fCoolRateLimit = 2.0f; // cooler regulation ignores faster temperature jumps (°C/s)
    // 5 rows (bin 0-4) of 8 (x, y) signed byte pairs; 127 = no offset.
    int8_t m_pSensorTable[80];
    // Binned hot-pixel rows are rounded to the nearest output row and the
    // offsets added after binning.
    bool m_bHPCRoundRows = false;
};
