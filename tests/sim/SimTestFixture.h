// Fixture for tests that talk to simulated cameras through the real libusb:
// a simulated bus, a libusb context, and helpers to open a camera by its port
// chain and to send control requests.
#pragma once

#include <gtest/gtest.h>
#include <libusb.h>

#include <cstdint>
#include <vector>

#include "sim/SimulatedBus.h"

class SimTestFixture : public ::testing::Test {
protected:
    static constexpr uint8_t kVendorOut = 0x40;
    static constexpr uint8_t kVendorIn = 0xC0;
    static constexpr unsigned kTimeoutMs = 500;

    SimTestFixture();
    ~SimTestFixture() override;

    // The libusb device at the camera's port chain, or null.
    libusb_device* findDevice(const oru_sim::SimulatedCamera& camera);
    // Opens the camera and claims interface 0; fails the test if it cannot.
    libusb_device_handle* open(const oru_sim::SimulatedCamera& camera);
    oru_sim::SimulatedCamera& addCamera(oru_sim::CameraConfig config = {});

    // A vendor request; returns the libusb result, the reply in `reply`.
    int vendorIn(libusb_device_handle* handle, uint8_t request, uint16_t value, uint16_t index,
                 std::vector<uint8_t>& reply, uint16_t length, unsigned timeoutMs = kTimeoutMs);
    int vendorOut(libusb_device_handle* handle, uint8_t request, uint16_t value, uint16_t index,
                  std::vector<uint8_t> data = {}, unsigned timeoutMs = kTimeoutMs);
    // Reads `length` bytes of a vendor request, expecting success.
    std::vector<uint8_t> readIn(libusb_device_handle* handle, uint8_t request, uint16_t value, uint16_t index,
                                uint16_t length);

    oru_sim::SimulatedBus bus_;
    libusb_context* context_ = nullptr;

private:
    std::vector<libusb_device_handle*> handles_;
};
