// The controller's I2C EEPROM bus: up to eight 64 KiB devices chosen by a
// device select (0..7), blank bytes 0xFF. Device 0 is the controller's boot
// EEPROM, which the FX2 EEPROM loader reaches.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace oru_sim {

class I2cEeprom {
public:
    static constexpr int kDevices = 8;
    static constexpr uint32_t kDeviceSize = 1u << 16;

    I2cEeprom();

    // False when the device does not exist or the range leaves it.
    bool write(uint16_t deviceSelect, uint32_t offset, const uint8_t* data, size_t length);
    bool read(uint16_t deviceSelect, uint32_t offset, uint8_t* out, size_t length) const;

private:
    static bool inRange(uint16_t deviceSelect, uint32_t offset, size_t length);

    std::array<std::vector<uint8_t>, kDevices> devices_;
};

}  // namespace oru_sim
