// The sensor of the ORU120 (legacy USB2) cameras: 1280 x 960 pixels, RGGB,
// a 12-bit ADC, 16-bit registers written with request 0xA6, and an on-chip
// PLL. Everything is decoded from the registers on demand; the model keeps no
// state, so one instance may serve several cameras.
//
// Decoding:
//   clock (MHz)     48 x multiplier (0x3030) / (pre-divider 0x302E x system
//                   divider 0x302C x pixel divider 0x302A); the 24 MHz crystal
//                   when 0x30B0 bit 14 bypasses the PLL; 0 while a divider is 0
//   line, frame     line length 0x300C clocks; frame length 0x300A lines
//   exposure        integration 0x3012 lines x line length + 26 clocks
//   frame time      max(frame length, integration + 1) lines
//   streaming       0x301A = 0x10DC
//   window          rows 0x3002 - 2 to 0x3006 - 1, columns 0x3004 to 0x3008
//   gain            coarse x1, x2, x4, x8 from 0x30B0 bits 4-5, fine from the
//                   green gain 0x3056 (32 = x1); red 0x305A and blue 0x3058
//                   relative to green give the colour gains
//   black level     0x301E, in 12-bit ADC units
#pragma once

#include <cstdint>

#include "sim/SensorModel.h"

namespace oru_sim {

struct LegacyUsb2State {
    SensorState sensor;  // what sensorState() reports
    double clockMHz = 0.0;
    bool pllBypassed = false;
    uint16_t lineLength = 0;
    uint16_t frameLength = 0;
    uint16_t integrationLines = 0;
    uint16_t streamControl = 0;
    int coarseGainStep = 0;  // 0..3: x1, x2, x4, x8
    uint16_t greenGain = 0;
    uint16_t redGain = 0;
    uint16_t blueGain = 0;
};

class LegacyUsb2Sensor : public SensorModel {
public:
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 960;
    static constexpr uint16_t kStreaming = 0x10DC;

    static LegacyUsb2State decode(const SimulatedCamera& camera);

    void registerWritten(SimulatedCamera& camera, RegisterSpace space, uint16_t address, uint16_t value) override;
    SensorState state(const SimulatedCamera& camera) const override;
};

}  // namespace oru_sim
