// The simulated bus as libusb enumerates it: descriptors, ports, speed.
#include <set>
#include <stdexcept>
#include <utility>

#include "SimTestFixture.h"

using namespace oru_sim;

namespace {

std::string asciiString(libusb_device_handle* handle, uint8_t index)
{
    unsigned char text[64] = {};
    int length = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
    return length > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<size_t>(length)) : "";
}

}  // namespace

using EnumerationTest = SimTestFixture;

TEST_F(EnumerationTest, SeesEachCameraAtItsPortWithItsDescriptors)
{
    struct Case {
        CameraConfig config;
        PortAddress address;
    };
    std::vector<Case> cases{
        {CameraConfig::usb3Camera(0x1001), {1, {2}}},
        {CameraConfig::usb2Camera(0x0801), {1, {3, 2}}},
        {CameraConfig::usb3Camera(0x1003), {2, {1, 4, 5}}},
    };
    for (Case& c : cases) {
        c.config.address = c.address;
        addCamera(c.config);
    }
    std::set<std::pair<int, int>> busAndNumber;
    for (SimulatedCamera* camera : bus_.cameras()) {
        const CameraConfig& config = camera->config();
        SCOPED_TRACE(camera->address().sysfsName());
        libusb_device* device = findDevice(*camera);
        ASSERT_NE(device, nullptr);
        busAndNumber.insert({libusb_get_bus_number(device), libusb_get_device_address(device)});
        EXPECT_EQ(libusb_get_device_address(device), camera->deviceNumber());
        EXPECT_EQ(libusb_get_device_speed(device), config.superSpeed ? LIBUSB_SPEED_SUPER : LIBUSB_SPEED_HIGH);

        libusb_device_descriptor descriptor;
        ASSERT_EQ(libusb_get_device_descriptor(device, &descriptor), 0);
        EXPECT_EQ(descriptor.idVendor, kCameraVendorId);
        EXPECT_EQ(descriptor.idProduct, config.productId);
        EXPECT_EQ(descriptor.bcdUSB, config.superSpeed ? 0x0300 : 0x0200);
        EXPECT_EQ(descriptor.bNumConfigurations, 1);

        libusb_config_descriptor* configuration = nullptr;
        ASSERT_EQ(libusb_get_active_config_descriptor(device, &configuration), 0);
        EXPECT_EQ(configuration->bConfigurationValue, 1);
        ASSERT_EQ(configuration->bNumInterfaces, 1);
        const libusb_interface_descriptor& interface = configuration->interface[0].altsetting[0];
        EXPECT_EQ(interface.bInterfaceNumber, 0);
        ASSERT_EQ(interface.bNumEndpoints, 1);
        EXPECT_EQ(interface.endpoint[0].bEndpointAddress, config.bulkEndpoint);
        EXPECT_EQ(interface.endpoint[0].bmAttributes & 3, LIBUSB_TRANSFER_TYPE_BULK);
        EXPECT_EQ(interface.endpoint[0].wMaxPacketSize, config.superSpeed ? 1024 : 512);
        libusb_free_config_descriptor(configuration);

        libusb_device_handle* handle = open(*camera);
        ASSERT_NE(handle, nullptr);
        EXPECT_EQ(asciiString(handle, descriptor.iManufacturer), config.manufacturer);
        EXPECT_EQ(asciiString(handle, descriptor.iProduct), config.product);
    }
    EXPECT_EQ(busAndNumber.size(), cases.size());
}

TEST_F(EnumerationTest, RefusesTakenAndInvalidPorts)
{
    CameraConfig config;
    config.address = PortAddress{1, {2, 3}};
    addCamera(config);
    for (PortAddress taken : {PortAddress{1, {2, 3}}, PortAddress{1, {2}}, PortAddress{1, {2, 3, 1}},
                              PortAddress{0, {1}}, PortAddress{1, {256}}, PortAddress{1, {}}}) {
        config.address = taken;
        EXPECT_THROW(addCamera(config), std::invalid_argument) << taken.sysfsName();
    }
    config.address.reset();
    EXPECT_EQ(addCamera(config).address(), (PortAddress{1, {1}}));
    EXPECT_EQ(addCamera(config).address(), (PortAddress{1, {3}}));
}
