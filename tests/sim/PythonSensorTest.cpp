// The PYTHON cameras' sensor decoded from raw 16-bit camera register writes
// (request 0xA6), including states the library never leaves it in.
#include "SimTestFixture.h"
#include "sim/ModelCatalog.h"
#include "sim/PythonSensor.h"

using namespace oru_sim;

namespace {

struct CameraWrite {
    uint16_t address;
    uint16_t value;
};

struct PythonSensorTest : SimTestFixture {
    PythonSensorTest()
    {
        camera = &addCamera(ModelCatalog::find("oru174mc"));
        handle = open(*camera);
    }

    void write(std::initializer_list<CameraWrite> writes)
    {
        for (const CameraWrite& w : writes)
            ASSERT_EQ(vendorOut(handle, 0xA6, w.address, w.value), 0) << w.address;
    }

    PythonState decoded() const { return PythonSensor(true).decode(*camera); }

    SimulatedCamera* camera = nullptr;
    libusb_device_handle* handle = nullptr;
};

}  // namespace

TEST_F(PythonSensorTest, PoweredNeedsClockResetReleasedAndSerialisersAwakeNeedsTheSequencer)
{
    struct Case {
        const char* name;
        uint16_t clock, softReset, serialisers, sequencer;
        bool powered, awake;
    };
    const Case cases[] = {
        {"powered and streaming", 0x0001, 0x0000, 0x0007, 0x0801, true, true},
        {"powered, sequencer stopped", 0x0001, 0x0000, 0x0007, 0x0800, true, false},
        {"a block held in soft reset", 0x0001, 0x0900, 0x0007, 0x0001, false, false},
        {"clock generator off", 0x0000, 0x0000, 0x0007, 0x0001, false, false},
        {"one serialiser off", 0x0001, 0x0000, 0x0003, 0x0001, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write({{32, c.clock}, {10, c.softReset}, {112, c.serialisers}, {192, c.sequencer}});
        EXPECT_EQ(decoded().powered, c.powered);
        EXPECT_EQ(camera->sensorState().awake, c.awake);
    }
}

TEST_F(PythonSensorTest, ExposureCountsTimerTicksAndTheWindowFallsBackToTheFpgaSize)
{
    write({{199, 72}, {201, 5000}});
    EXPECT_DOUBLE_EQ(camera->sensorState().exposureUs, 5000.0);
    write({{199, 36}});
    EXPECT_DOUBLE_EQ(camera->sensorState().exposureUs, 2500.0) << "a tick of 36 clocks is 0.5 us";

    for (auto [reg, value] : {std::pair<uint8_t, uint8_t>{4, 0x80}, {5, 0x02}, {8, 0xF0}, {9, 0x00}})
        ASSERT_EQ(vendorOut(handle, 0xBD, reg, value), 0);
    SensorState state = camera->sensorState();
    EXPECT_EQ(state.windowWidth, 640);
    EXPECT_EQ(state.windowHeight, 240);
    EXPECT_TRUE(state.colorMosaic);

    write({{256, 45 << 8 | 16}, {257, 100}, {258, 299}});
    state = camera->sensorState();
    EXPECT_EQ(state.windowX, 128);
    EXPECT_EQ(state.windowWidth, 240);
    EXPECT_EQ(state.windowY, 100);
    EXPECT_EQ(state.windowHeight, 200);
    // 240 columns: (240 + 16) x 125 / 36 + 1000 = 1888 ns a line.
    EXPECT_NEAR(state.frameTimeUs, 50 + 200 * 1.888, 0.001);
}
