// Fixture for engine tests on a simulated camera: a simulated bus in this
// process (the test runs under umockdev's preload), HOME in a temporary
// directory (stopping a capture and closing save settings there), and a test
// model opened on a plugged-in camera.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "sim/SimulatedBus.h"
#include "tests/TempHome.h"
#include "tests/TestCoolCamera.h"

class SimCoolCameraTest : public ::testing::Test {
protected:
    static oru_sim::CameraConfig Usb3Config()
    {
        return oru_sim::CameraConfig::usb3Camera(TestCoolCamera::kProductId);
    }

    // Plugs in a camera and opens a test model on it (the first camera of the
    // product); the test stops when it does not open.
    oru_sim::SimulatedCamera &
    PlugAndOpen(const oru_sim::CameraConfig &config = Usb3Config(),
                TestCoolCamera::Sensor sensor = TestCoolCamera::Sensor::Color)
    {
        oru_sim::SimulatedCamera &device = bus.addCamera(config);
        camera = std::make_unique<TestCoolCamera>(sensor);
        if (!camera->OpenCamera(1))
            ADD_FAILURE() << "the test model did not open the simulated camera";
        return device;
    }

    TempHome home;
    oru_sim::SimulatedBus bus;
    // Declared after the bus: its handle is closed before the bus goes.
    std::unique_ptr<TestCoolCamera> camera;
};
