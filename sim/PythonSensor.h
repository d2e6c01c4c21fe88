// The PYTHON sensor of the ORU174MM and ORU174MC (products 0x1009 and
// 0x100A): 1280 x 1024 pixels, a 10-bit ADC and 16-bit camera registers
// (requests 0xA6 / 0xA7). Everything is decoded from the registers on demand;
// the model keeps no state beyond its colour, so one instance may serve
// several cameras.
//
// Decoding:
//   powered        register 32 bit 0 set (clock generator), register 10 bits
//                  0-11 clear (no block held in soft reset), register 112
//                  bits 0-2 set (output serialisers)
//   awake          powered and register 192 bit 0 set (the sequencer runs)
//   exposure (us)  register 201 timer ticks of register 199 clocks at 72 MHz
//   readout        register 41 bits 12-14 the scheme (0 CDS, 1 UDS, 2 MSC,
//                  3 MSL), register 42 bit 8 the low-noise variant, register
//                  72 bit 4 zero row overhead time (high-speed mode)
//   frame time     50 us + rows x line time; line time (ns) = (columns + 16)
//                  x 125 / 36 + 1000, or + 56 with zero row overhead, at
//                  least 1000 ns, or 1260 ns with zero row overhead
//   gain (0.1 dB)  60 per analogue stage (register 204 bits 0-1) plus
//                  200 log10(register 205 / 128), rounded
//   black level    register 128 bits 0-7, in ADC steps
//   window         columns from register 256 (bits 0-7 first, bits 8-15 last
//                  8-column kernel), rows from registers 257 (first) and 258
//                  (last); before the host has written a window, the FPGA
//                  width (4-5) and height (8-9) at the origin
#pragma once

#include <cstdint>

#include "sim/SensorModel.h"

namespace oru_sim {

enum class PythonScheme { CDS, UDS, MSC, MSL, Unrecognised };

struct PythonState {
    SensorState sensor;  // what state() reports
    bool powered = false;
    PythonScheme scheme = PythonScheme::Unrecognised;
    bool lowNoise = false;
    bool zeroRowOverhead = false;
    int lineTimeNs = 0;
    int analogueStage = 0;
    int digitalGain = 0;  // 128 = unity
};

class PythonSensor : public SensorModel {
public:
    static constexpr uint16_t kMonoProductId = 0x1009;
    static constexpr uint16_t kColourProductId = 0x100A;
    static constexpr int kWidth = 1280;
    static constexpr int kHeight = 1024;

    explicit PythonSensor(bool colour) : colour_(colour) {}

    PythonState decode(const SimulatedCamera& camera) const;

    void registerWritten(SimulatedCamera& camera, RegisterSpace space, uint16_t address, uint16_t value) override;
    SensorState state(const SimulatedCamera& camera) const override;

private:
    const bool colour_;
};

}  // namespace oru_sim
