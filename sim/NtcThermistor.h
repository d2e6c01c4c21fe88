// The camera's NTC thermistor (10 kOhm at 25 degC) and the divider that a
// temperature ADC reads it through: the thermistor against a 10 kOhm
// reference, so a code of n bits is 2^n x R / (R + 10 kOhm).
#pragma once

#include <cstdint>

namespace oru_sim {

class NtcThermistor {
public:
    static constexpr int kLowestCelsius = -50;
    static constexpr int kHighestCelsius = 113;
    static constexpr double kReferenceKOhm = 10.0;

    // Interpolated linearly between the whole degrees of the table; outside
    // the table the end value holds.
    static double resistanceKOhm(double celsius);
    // The divider's ADC code, rounded to the nearest step.
    static uint16_t adcCode(double celsius, int bits);
};

}  // namespace oru_sim
