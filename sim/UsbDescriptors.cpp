#include "sim/UsbDescriptors.h"

namespace oru_sim {

namespace {

enum : uint8_t {
    kDeviceType = 1,
    kConfigurationType = 2,
    kStringType = 3,
    kInterfaceType = 4,
    kEndpointType = 5,
    kSuperSpeedCompanionType = 0x30,
};

void appendWord(std::vector<uint8_t>& bytes, uint16_t word)
{
    bytes.push_back(static_cast<uint8_t>(word & 0xFF));
    bytes.push_back(static_cast<uint8_t>(word >> 8));
}

}  // namespace

UsbDescriptors::UsbDescriptors(const CameraConfig& config)
    : device_(deviceDescriptor(config.superSpeed, 0, 0, kCameraVendorId, config.productId, true)),
      configuration_(
          configurationDescriptor(config.superSpeed, 0xFF, config.bulkEndpoint, 2, config.superSpeed ? 1024 : 512, 0)),
      strings_{config.manufacturer, config.product}
{
}

std::vector<uint8_t> UsbDescriptors::deviceDescriptor(bool superSpeed, uint8_t deviceClass, uint8_t protocol,
                                                      uint16_t vendor, uint16_t product, bool withStrings)
{
    std::vector<uint8_t> bytes{18, kDeviceType};
    appendWord(bytes, superSpeed ? 0x0300 : 0x0200);
    bytes.insert(bytes.end(), {deviceClass, 0, protocol, static_cast<uint8_t>(superSpeed ? 9 : 64)});
    appendWord(bytes, vendor);
    appendWord(bytes, product);
    appendWord(bytes, 0x0100);
    uint8_t manufacturer = withStrings ? 1 : 0;
    uint8_t productName = withStrings ? 2 : 0;
    bytes.insert(bytes.end(), {manufacturer, productName, 0, 1});
    return bytes;
}

std::vector<uint8_t> UsbDescriptors::configurationDescriptor(bool superSpeed, uint8_t interfaceClass, uint8_t endpoint,
                                                             uint8_t transferType, uint16_t maxPacket, uint8_t interval)
{
    std::vector<uint8_t> bytes{
        9, kConfigurationType, 0, 0, 1, 1, 0, 0x80, static_cast<uint8_t>(superSpeed ? 112 : 250)};
    bytes.insert(bytes.end(), {9, kInterfaceType, 0, 0, 1, interfaceClass, 0, 0, 0});
    bytes.insert(bytes.end(), {7, kEndpointType, endpoint, transferType});
    appendWord(bytes, maxPacket);
    bytes.push_back(interval);
    if (superSpeed) {
        uint8_t maxBurst = transferType == 2 ? 15 : 0;
        bytes.insert(bytes.end(), {6, kSuperSpeedCompanionType, maxBurst, 0});
        appendWord(bytes, transferType == 2 ? 0 : maxPacket);
    }
    bytes[2] = static_cast<uint8_t>(bytes.size() & 0xFF);
    bytes[3] = static_cast<uint8_t>(bytes.size() >> 8);
    return bytes;
}

std::vector<uint8_t> UsbDescriptors::sysfsDescriptors() const
{
    std::vector<uint8_t> bytes = device_;
    bytes.insert(bytes.end(), configuration_.begin(), configuration_.end());
    return bytes;
}

std::optional<std::vector<uint8_t>> UsbDescriptors::string(uint8_t index) const
{
    if (index == 0)
        return std::vector<uint8_t>{4, kStringType, 0x09, 0x04};  // English (US)
    if (index > strings_.size())
        return std::nullopt;
    std::vector<uint8_t> bytes{0, kStringType};
    for (char c : strings_[index - 1])
        appendWord(bytes, static_cast<uint8_t>(c));
    bytes[0] = static_cast<uint8_t>(bytes.size());
    return bytes;
}

std::vector<uint8_t> UsbDescriptors::hubSysfsDescriptors(bool superSpeed)
{
    std::vector<uint8_t> bytes =
        deviceDescriptor(superSpeed, 9, superSpeed ? 3 : 1, kHubVendorId, superSpeed ? 0x0003 : 0x0002, false);
    std::vector<uint8_t> configuration = configurationDescriptor(superSpeed, 9, 0x81, 3, 2, superSpeed ? 8 : 12);
    bytes.insert(bytes.end(), configuration.begin(), configuration.end());
    return bytes;
}

}  // namespace oru_sim
