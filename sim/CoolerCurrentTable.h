// The thermo-electric cooler's drive: a DAC value, lower meaning more
// current, mapped through the board's measured DAC -> current table.
#pragma once

#include <cstdint>

namespace oru_sim {

class CoolerCurrentTable {
public:
    static constexpr double kFullCurrentAmperes = 6.4;

    // Interpolated between the table rows; none above DAC 255, full below 20.
    static double currentAmperes(double dac);
    // Share of the full current, 0 to 1.
    static double powerFraction(double dac);
    // The DAC value behind FPGA register 38, which holds 220 x (272 - DAC) / 256.
    static double dacFromPowerRegister(uint8_t value);
};

}  // namespace oru_sim
