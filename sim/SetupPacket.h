// The 8-byte setup packet of a USB control transfer.
#pragma once

#include <cstdint>

namespace oru_sim {

struct SetupPacket {
    uint8_t requestType = 0;  // bmRequestType
    uint8_t request = 0;      // bRequest
    uint16_t value = 0;       // wValue
    uint16_t index = 0;       // wIndex
    uint16_t length = 0;      // wLength

    bool deviceToHost() const { return (requestType & 0x80) != 0; }
    bool isVendor() const { return (requestType & 0x60) == 0x40; }
    bool isStandard() const { return (requestType & 0x60) == 0x00; }
};

}  // namespace oru_sim
