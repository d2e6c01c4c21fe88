#include "sim/FpgaRegisterFile.h"

#include "sim/FpgaRegister.h"

namespace oru_sim {

FpgaRegisterFile::FpgaRegisterFile(const FpgaVersion& version, DdrBehaviour ddr) : version_(version), ddr_(ddr)
{
    reset();
}

bool FpgaRegisterFile::readOnly(uint8_t reg)
{
    bool versionByte = reg >= fpga::kVersionLayoutRegister &&
                       reg < fpga::kVersionLayoutRegister + static_cast<int>(FpgaVersion{}.registers.size());
    return versionByte || reg == fpga::kStatusRegister;
}

void FpgaRegisterFile::write(uint8_t reg, uint8_t value)
{
    if (readOnly(reg))
        return;
    registers_[reg] = value;
    if (reg == fpga::kBufferControlRegister && value == fpga::kDdrTestValue && ddr_ == DdrBehaviour::ReadyAfterSelfTest)
        registers_[fpga::kStatusRegister] |= fpga::kDdrReadyBit;
}

void FpgaRegisterFile::reset()
{
    registers_.fill(0);
    for (size_t i = 0; i < version_.registers.size(); ++i)
        registers_[fpga::kVersionLayoutRegister + i] = version_.registers[i];
}

}  // namespace oru_sim
