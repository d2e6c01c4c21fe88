// Sensor register tables of the ORU6200MC Pro (in the form of
// SonyRegisterTable.h) and the timing of its sensor readout modes.
#pragma once

#include <cstdint>

#include "models/SonyRegisterTable.h"
#include "transport/CCameraFX3.h"

constexpr int kProColorInitRows = 52;
constexpr int kProColorModeRows = 51;

// Wakes the sensor and loads its analogue settings; played at initialisation
// and before every mode table.
extern const uint16_t kProColorInitTable[kProColorInitRows][2];

// One readout mode: its register table (kProColorModeRows rows; every mode
// writes the same addresses in the same order) and the FPGA blanking, line
// length and frame overhead it needs.
struct ProColorSensorMode {
    const uint16_t (*pTable)[2];
    int iFPGAVBLK;
    int iFPGAHBLK;
    int iMinHMAX;       // sensor clocks
    int iOverheadLines; // lines of a frame beyond the sensor height
    ADC_BIT adcWidth;
};

extern const ProColorSensorMode kProColorAllPixelNormal;
extern const ProColorSensorMode kProColorAllPixelHighSpeed;
extern const ProColorSensorMode kProColorHardwareBin3;
extern const ProColorSensorMode kProColorHardwareBin24; // hardware bin 2 and bin 4
