// The read-only FPGA version registers 28..33 in either of their two layouts.
#pragma once

#include <array>
#include <cstdint>

namespace oru_sim {

struct FpgaVersion {
    // Register 28 (layout selector) followed by registers 29..33.
    std::array<uint8_t, 6> registers{3, 0x05, 0x01, 0x00, 0x12, 0x34};

    // Layout selector below 3: number in register 29, digit pairs in 30 and 31.
    static FpgaVersion olderLayout(uint8_t number, uint8_t digitsHigh, uint8_t digitsLow, uint8_t selector = 2);
    // Layout selector 3 or more: number in 29 (low) and 30 (high), register 31
    // unused, digit pairs in 32 and 33.
    static FpgaVersion newerLayout(uint16_t number, uint8_t digitsHigh, uint8_t digitsLow, uint8_t selector = 3);
};

}  // namespace oru_sim
