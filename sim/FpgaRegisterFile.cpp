#include "sim/FpgaRegisterFile.h"

namespace oru_sim {

FpgaRegisterFile::FpgaRegisterFile(const FpgaVersion& version, DdrBehaviour ddr)
    : version_(version), ddr_(ddr)
{
    reset();
}

bool FpgaRegisterFile::readOnly(uint8_t reg)
{
    bool versionByte = reg >= FpgaVersion::kFirstRegister &&
                       reg < FpgaVersion::kFirstRegister + static_cast<int>(FpgaVersion{}.registers.size());
    return versionByte || reg == kStatusRegister;
}

void FpgaRegisterFile::write(uint8_t reg, uint8_t value)
{
    if (readOnly(reg))
        return;
    registers_[reg] = value;
    if (reg == kDdrTestRegister && value == kDdrTestValue && ddr_ == DdrBehaviour::ReadyAfterSelfTest)
        registers_[kStatusRegister] |= kDdrReadyBit;
}

void FpgaRegisterFile::reset()
{
    registers_.fill(0);
    for (size_t i = 0; i < version_.registers.size(); ++i)
        registers_[FpgaVersion::kFirstRegister + i] = version_.registers[i];
}

}  // namespace oru_sim
