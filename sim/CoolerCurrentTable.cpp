#include "sim/CoolerCurrentTable.h"

#include <iterator>

namespace oru_sim {

namespace {

struct Row {
    double dac;
    double amperes;
};

// Ordered by falling DAC value.
constexpr Row kRows[] = {
    {255, 0.0}, {220, 1.31}, {200, 1.94}, {180, 2.53}, {160, 3.15}, {140, 3.7}, {120, 4.2},
    {100, 4.7}, {80, 5.2},   {60, 5.6},   {50, 5.85},  {40, 6.01},  {30, 6.18}, {20, 6.4},
};

}  // namespace

double CoolerCurrentTable::currentAmperes(double dac)
{
    if (dac >= kRows[0].dac)
        return kRows[0].amperes;
    for (size_t i = 1; i < std::size(kRows); ++i) {
        const Row& upper = kRows[i - 1];
        const Row& lower = kRows[i];
        if (dac >= lower.dac)
            return upper.amperes + (lower.amperes - upper.amperes) * (upper.dac - dac) / (upper.dac - lower.dac);
    }
    return std::prev(std::end(kRows))->amperes;
}

double CoolerCurrentTable::powerFraction(double dac)
{
    return currentAmperes(dac) / kFullCurrentAmperes;
}

double CoolerCurrentTable::dacFromPowerRegister(uint8_t value)
{
    return 272.0 - value * 256.0 / 220.0;
}

}  // namespace oru_sim
