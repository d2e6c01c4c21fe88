#include "sim/I2cEeprom.h"

#include <algorithm>

namespace oru_sim {

I2cEeprom::I2cEeprom()
{
    for (auto& device : devices_)
        device.assign(kDeviceSize, 0xFF);
}

bool I2cEeprom::inRange(uint16_t deviceSelect, uint32_t offset, size_t length)
{
    return deviceSelect < kDevices && offset <= kDeviceSize && length <= kDeviceSize - offset;
}

bool I2cEeprom::write(uint16_t deviceSelect, uint32_t offset, const uint8_t* data, size_t length)
{
    if (!inRange(deviceSelect, offset, length))
        return false;
    std::copy_n(data, length, devices_[deviceSelect].begin() + offset);
    return true;
}

bool I2cEeprom::read(uint16_t deviceSelect, uint32_t offset, uint8_t* out, size_t length) const
{
    if (!inRange(deviceSelect, offset, length))
        return false;
    std::copy_n(devices_[deviceSelect].begin() + offset, length, out);
    return true;
}

}  // namespace oru_sim
