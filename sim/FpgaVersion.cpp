#include "sim/FpgaVersion.h"

namespace oru_sim {

FpgaVersion FpgaVersion::olderLayout(uint8_t number, uint8_t digitsHigh, uint8_t digitsLow, uint8_t selector)
{
    return FpgaVersion{{selector, number, digitsHigh, digitsLow, 0, 0}};
}

FpgaVersion FpgaVersion::newerLayout(uint16_t number, uint8_t digitsHigh, uint8_t digitsLow, uint8_t selector)
{
    return FpgaVersion{
        {selector, static_cast<uint8_t>(number & 0xFF), static_cast<uint8_t>(number >> 8), 0, digitsHigh, digitsLow}};
}

}  // namespace oru_sim
