#include "sim/SpiFlash.h"

#include <algorithm>

namespace oru_sim {

SpiFlash::SpiFlash(uint32_t size, uint32_t sectorSize, int busyPolls)
    : bytes_(size, 0xFF),
      sectorSize_(sectorSize),
      busyPolls_(busyPolls)
{
}

bool SpiFlash::inRange(uint32_t address, size_t length) const
{
    return address <= bytes_.size() && length <= bytes_.size() - address;
}

bool SpiFlash::program(uint32_t address, const uint8_t* data, size_t length)
{
    if (!inRange(address, length))
        return false;
    if (busyPollsLeft_ > 0)
        return true;
    for (size_t i = 0; i < length; ++i)
        bytes_[address + i] &= data[i];
    return true;
}

bool SpiFlash::read(uint32_t address, uint8_t* out, size_t length) const
{
    if (!inRange(address, length))
        return false;
    std::copy_n(bytes_.begin() + address, length, out);
    return true;
}

bool SpiFlash::eraseSector(uint32_t sector)
{
    if (sector >= bytes_.size() / sectorSize_)
        return false;
    std::fill_n(bytes_.begin() + static_cast<long>(sector) * sectorSize_, sectorSize_, 0xFF);
    busyPollsLeft_ = busyPolls_;
    return true;
}

uint8_t SpiFlash::pollBusy()
{
    if (busyPollsLeft_ == 0)
        return 0;
    --busyPollsLeft_;
    return 1;
}

void SpiFlash::store(uint32_t address, const uint8_t* data, size_t length)
{
    if (inRange(address, length))
        std::copy_n(data, length, bytes_.begin() + address);
}

}  // namespace oru_sim
