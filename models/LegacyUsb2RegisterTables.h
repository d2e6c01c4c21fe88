// Sensor data of the ORU120 (legacy USB2) cameras: the initialisation table
// of their 16-bit sensor registers and the PLL settings for each sensor clock.
// A table row is (address, value) for WriteCameraRegister, except that the
// address kLegacyPause waits value milliseconds.
#pragma once

#include <cstdint>

constexpr uint16_t kLegacyPause = 0xFFFF;
constexpr int kLegacyInitRows = 118;

extern const uint16_t kLegacyInitTable[kLegacyInitRows][2];

// PLL registers for one sensor clock (MHz as requested): system divider
// (0x302C), pixel divider (0x302A), pre-divider (0x302E; the high-speed value
// halves the output of the normal one) and multiplier (0x3030).
struct LegacyPllRow {
    int iClockMHz;
    uint16_t usSysDiv;
    uint16_t usPixDiv;
    uint16_t usPreDivHighSpeed;
    uint16_t usPreDivNormal;
    uint16_t usMultiplier;
};

constexpr int kLegacyPllRows = 11;
extern const LegacyPllRow kLegacyPllTable[kLegacyPllRows];
