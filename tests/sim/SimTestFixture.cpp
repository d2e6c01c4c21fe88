#include "SimTestFixture.h"

using namespace oru_sim;

SimTestFixture::SimTestFixture()
{
    EXPECT_EQ(libusb_init(&context_), 0);
}

SimTestFixture::~SimTestFixture()
{
    for (libusb_device_handle* handle : handles_)
        libusb_close(handle);
    libusb_exit(context_);
}

SimulatedCamera& SimTestFixture::addCamera(CameraConfig config)
{
    return bus_.addCamera(config);
}

libusb_device* SimTestFixture::findDevice(const SimulatedCamera& camera)
{
    PortAddress address = camera.address();
    libusb_device** devices = nullptr;
    ssize_t count = libusb_get_device_list(context_, &devices);
    libusb_device* found = nullptr;
    for (ssize_t i = 0; i < count && !found; ++i) {
        uint8_t ports[8];
        int depth = libusb_get_port_numbers(devices[i], ports, sizeof ports);
        if (libusb_get_bus_number(devices[i]) == address.bus && depth >= 0 &&
            std::vector<int>(ports, ports + depth) == address.ports)
            found = libusb_ref_device(devices[i]);
    }
    libusb_free_device_list(devices, 1);
    if (found)
        libusb_unref_device(found);  // the context keeps it while it is plugged in
    return found;
}

libusb_device_handle* SimTestFixture::open(const SimulatedCamera& camera)
{
    libusb_device* device = findDevice(camera);
    libusb_device_handle* handle = nullptr;
    EXPECT_NE(device, nullptr) << "no device at " << camera.address().sysfsName();
    if (!device)
        return nullptr;
    EXPECT_EQ(libusb_open(device, &handle), 0);
    if (!handle)
        return nullptr;
    EXPECT_EQ(libusb_set_configuration(handle, 1), 0);
    EXPECT_EQ(libusb_claim_interface(handle, 0), 0);
    handles_.push_back(handle);
    return handle;
}

int SimTestFixture::vendorIn(libusb_device_handle* handle, uint8_t request, uint16_t value, uint16_t index,
                             std::vector<uint8_t>& reply, uint16_t length, unsigned timeoutMs)
{
    reply.assign(length, 0xEE);
    int result = libusb_control_transfer(handle, kVendorIn, request, value, index, reply.data(), length, timeoutMs);
    reply.resize(result > 0 ? static_cast<size_t>(result) : 0);
    return result;
}

int SimTestFixture::vendorOut(libusb_device_handle* handle, uint8_t request, uint16_t value, uint16_t index,
                              std::vector<uint8_t> data, unsigned timeoutMs)
{
    return libusb_control_transfer(handle, kVendorOut, request, value, index, data.data(),
                                   static_cast<uint16_t>(data.size()), timeoutMs);
}

std::vector<uint8_t> SimTestFixture::readIn(libusb_device_handle* handle, uint8_t request, uint16_t value,
                                            uint16_t index, uint16_t length)
{
    std::vector<uint8_t> reply;
    EXPECT_EQ(vendorIn(handle, request, value, index, reply, length), length)
        << "request 0x" << std::hex << int{request};
    return reply;
}
