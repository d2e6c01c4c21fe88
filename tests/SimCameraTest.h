// Fixture: one simulated camera on an in-process bus, opened through the real
// libusb by an OpenedTransport. The request log starts empty after the open.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "sim/SimulatedBus.h"
#include "tests/OpenedTransport.h"

class SimCameraTest : public ::testing::Test {
protected:
    using RegisterWrite = std::pair<uint16_t, uint16_t>; // (wValue, wIndex)

    void Plug(const oru_sim::CameraConfig &config = oru_sim::CameraConfig::usb3Camera(0x1001))
    {
        sim_ = &bus_.addCamera(config);
        ASSERT_TRUE(camera_.Open(config.productId));
        sim_->clearRequests();
    }

    // wValue and wIndex of every logged request with this code, in order.
    std::vector<RegisterWrite> Sent(uint8_t request) const
    {
        std::vector<RegisterWrite> sent;
        for (const auto &entry : sim_->requests(request))
            sent.emplace_back(entry.setup.value, entry.setup.index);
        return sent;
    }

    // Declared first: the camera closes its handle before the bus goes.
    oru_sim::SimulatedBus bus_;
    oru_sim::SimulatedCamera *sim_ = nullptr;
    OpenedTransport camera_;
};
