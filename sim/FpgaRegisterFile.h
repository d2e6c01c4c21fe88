// The FPGA's 8-bit registers as the host sees them through requests 0xBC and
// 0xBD: read-only version bytes, a status register whose DDR-ready bit follows
// the DDR self-test, all others stored as written.
#pragma once

#include <array>
#include <cstdint>

#include "sim/CameraConfig.h"
#include "sim/FpgaVersion.h"

namespace oru_sim {

class FpgaRegisterFile {
public:
    static constexpr int kRegisterCount = 256;

    FpgaRegisterFile(const FpgaVersion& version, DdrBehaviour ddr);

    // A write from the host; read-only registers keep their value.
    void write(uint8_t reg, uint8_t value);
    uint8_t read(uint8_t reg) const { return registers_[reg]; }
    // Sets any register, read-only ones included.
    void store(uint8_t reg, uint8_t value) { registers_[reg] = value; }
    // The state after power-on.
    void reset();

private:
    static bool readOnly(uint8_t reg);

    FpgaVersion version_;
    DdrBehaviour ddr_;
    std::array<uint8_t, kRegisterCount> registers_{};
};

}  // namespace oru_sim
