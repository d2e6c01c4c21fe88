// Standard USB descriptors of a simulated camera (device, its one
// configuration with interface 0 and the bulk-IN endpoint, strings) and of
// the hubs the bus puts between root hub and camera.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/CameraConfig.h"

namespace oru_sim {

class UsbDescriptors {
public:
    static constexpr uint16_t kHubVendorId = 0x1D6B;

    explicit UsbDescriptors(const CameraConfig& config);

    const std::vector<uint8_t>& device() const { return device_; }
    const std::vector<uint8_t>& configuration() const { return configuration_; }
    // Device and configuration descriptors back to back, as in sysfs.
    std::vector<uint8_t> sysfsDescriptors() const;
    std::optional<std::vector<uint8_t>> string(uint8_t index) const;

    // A hub with one interrupt endpoint.
    static std::vector<uint8_t> hubSysfsDescriptors(bool superSpeed);

private:
    static std::vector<uint8_t> deviceDescriptor(bool superSpeed, uint8_t deviceClass, uint8_t protocol,
                                                 uint16_t vendor, uint16_t product, bool withStrings);
    static std::vector<uint8_t> configurationDescriptor(bool superSpeed, uint8_t interfaceClass, uint8_t endpoint,
                                                        uint8_t transferType, uint16_t maxPacket, uint8_t interval);

    std::vector<uint8_t> device_;
    std::vector<uint8_t> configuration_;
    std::vector<std::string> strings_;
};

}  // namespace oru_sim
