// The representative camera's sensor decoded from raw register writes, as
// the library's representative model sends them over 0xB6 (sensor) and 0xBD
// (FPGA).
#include <string>

#include "SimTestFixture.h"
#include "sim/ModelCatalog.h"
#include "sim/ProColorSensor.h"

using namespace oru_sim;

namespace {

struct SensorWrite {
    uint16_t address;
    uint8_t value;
};

struct ModeTable {
    uint8_t driveMode;  // 0x001
    uint8_t speed;      // 0x002
    uint8_t ad;         // 0x02A
};

constexpr ModeTable kNormal{0x00, 0x80, 0x0A};
constexpr ModeTable kHighSpeed{0x00, 0x54, 0x0A};
constexpr ModeTable kBin3{0x07, 0x54, 0x04};
constexpr ModeTable kBin2And4{0x05, 0x54, 0x04};

struct ProColorSensorTest : SimTestFixture {
    ProColorSensorTest()
    {
        camera = &addCamera(ModelCatalog::find("ORU6200MC Pro"));
        handle = open(*camera);
    }

    void writeSensor(std::initializer_list<SensorWrite> writes)
    {
        for (const SensorWrite& write : writes)
            ASSERT_EQ(vendorOut(handle, 0xB6, write.address, write.value), 0) << std::hex << write.address;
    }

    // Least significant byte first, to ascending registers.
    void writeFpga(uint8_t first, uint32_t value, int bytes)
    {
        for (int i = 0; i < bytes; ++i)
            ASSERT_EQ(vendorOut(handle, 0xBD, first + i, (value >> (8 * i)) & 0xFF), 0);
    }

    void selectMode(const ModeTable& mode)
    {
        writeSensor({{0x001, mode.driveMode}, {0x002, mode.speed}, {0x02A, mode.ad}});
    }

    SimulatedCamera* camera = nullptr;
    libusb_device_handle* handle = nullptr;
};

}  // namespace

TEST_F(ProColorSensorTest, ExposureAndFrameTimeFromVmaxHmaxAndShs)
{
    struct Case {
        const char* name;
        ModeTable mode;
        uint16_t hmax;
        uint32_t vmax;
        uint8_t shsLow, shsHigh;  // registers 0x018, 0x019 as the host writes them
        int hostLines;            // VMAX - 1 - SHS as the host computed it
    };
    // Full frame, normal mode: 1H = 67.5 us; 32 us, 1 ms, 100 ms and 300 ms.
    // Bin 2/4 at HMAX 490: 1H = 24.5 us, SHS counted in single lines.
    const Case cases[] = {
        {"32 us", kNormal, 1350, 4224, 63, 8, 0},
        {"1 ms", kNormal, 1350, 4224, 56, 8, 14},
        {"100 ms", kNormal, 1350, 4224, 91, 5, 1481},
        {"longer than a frame", kNormal, 1350, 4445, 1, 0, 4443},
        {"bin 2/4 single lines", kBin2And4, 490, 2116, 100, 0, 2015},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        selectMode(c.mode);
        writeFpga(19, c.hmax, 2);
        writeFpga(16, c.vmax, 3);
        writeSensor({{0x018, c.shsLow}, {0x019, c.shsHigh}});

        double lineUs = c.hmax * 1000.0 / 20000.0;
        SensorState state = camera->sensorState();
        EXPECT_NEAR(state.exposureUs, c.hostLines * lineUs, lineUs);
        EXPECT_DOUBLE_EQ(state.frameTimeUs, c.vmax * lineUs);
        EXPECT_DOUBLE_EQ(ProColorSensor::decode(*camera).lineTimeUs, lineUs);
    }
}

TEST_F(ProColorSensorTest, GainAndBlackLevel)
{
    struct Case {
        int gain;  // 0.1 dB
        uint8_t hcg;
        uint16_t analogueCode;
        uint8_t digital;
    };
    const Case cases[] = {
        {0, 0, 0, 0}, {50, 0, 1792, 0}, {200, 1, 2800, 0}, {460, 1, 4030, 0}, {461, 1, 3966, 16}, {700, 1, 4030, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gain);
        uint8_t low = c.analogueCode & 0xFF;
        uint8_t high = c.analogueCode >> 8;
        writeSensor({{0x030, low}, {0x031, high}, {0x032, low}, {0x033, high}, {0x02F, c.hcg}, {0x040, c.digital}});
        EXPECT_EQ(camera->sensorState().gainTenthDb, c.gain);
    }

    writeSensor({{0x042, 0x60}, {0x043, 0x09}, {0x044, 0x60}, {0x045, 0x09}});
    EXPECT_EQ(camera->sensorState().blackLevel, 2400);
}

TEST_F(ProColorSensorTest, ReadOutModeFromTheModeTables)
{
    struct Case {
        ModeTable mode;
        ProColorMode expected;
        std::string name;
        int binning;
        int windowY;  // start row register 125 minus the mode's row offset
    };
    const Case cases[] = {
        {kNormal, ProColorMode::AllPixelNormal, "all-pixel normal", 1, 100},
        {kHighSpeed, ProColorMode::AllPixelHighSpeed, "all-pixel high speed", 1, 100},
        {kBin3, ProColorMode::HardwareBin3, "hardware bin 3", 3, 98},
        {kBin2And4, ProColorMode::HardwareBin2And4, "hardware bin 2/4", 2, 100},
        {{0x07, 0x80, 0x04}, ProColorMode::Unrecognised, "unrecognised", 1, 100},
    };
    writeSensor({{0x008, 125}, {0x009, 0}});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        selectMode(c.mode);
        ProColorState state = ProColorSensor::decode(*camera);
        EXPECT_EQ(state.mode, c.expected);
        EXPECT_EQ(modeName(state.mode), c.name);
        EXPECT_EQ(state.sensor.mode, static_cast<int>(c.expected));
        EXPECT_EQ(state.sensor.binning, c.binning);
        EXPECT_EQ(state.sensor.windowY, c.windowY);
        EXPECT_EQ(state.sensor.adcBits, 16);
        EXPECT_TRUE(state.sensor.colorMosaic);
    }
}

TEST_F(ProColorSensorTest, WindowOfAHardwareBin3Roi)
{
    // 1000 x 700 at bin 3 with hardware binning, start (101, 101) aligned to
    // (96, 96): the sensor puts out 1000 x 700 (plus 2 extra rows).
    selectMode(kBin3);
    writeSensor({{0x0A8, 96 >> 4},
                 {0x0A9, 0},
                 {0x008, 96 + 27},
                 {0x009, 0},
                 {0x00A, 702 & 0xFF},
                 {0x00B, 702 >> 8},
                 {0x1DD, 1024 & 0xFC},
                 {0x1DE, 1024 >> 8}});
    writeFpga(4, 1000, 2);
    writeFpga(8, 700, 2);
    SensorState state = camera->sensorState();
    EXPECT_EQ(state.windowX, 96);
    EXPECT_EQ(state.windowY, 96);
    EXPECT_EQ(state.windowWidth, 1000);
    EXPECT_EQ(state.windowHeight, 700);
    EXPECT_EQ(state.binning, 3);

    // A full-width all-pixel window whose sensor registers the FPGA outsizes.
    selectMode(kNormal);
    writeSensor({{0x0A8, 0},
                 {0x008, 25},
                 {0x00A, 4176 & 0xFF},
                 {0x00B, 4176 >> 8},
                 {0x1DD, (6248 + 24) & 0xFC},
                 {0x1DE, (6248 + 24) >> 8}});
    writeFpga(4, 6250, 2);
    state = camera->sensorState();
    EXPECT_EQ(state.windowX, 0);
    EXPECT_EQ(state.windowY, 0);
    EXPECT_EQ(state.windowWidth, 6250);
    EXPECT_EQ(state.windowHeight, 4176);
}

TEST_F(ProColorSensorTest, StandbyAndWakeUp)
{
    EXPECT_FALSE(camera->sensorState().awake) << "asleep until woken";
    struct Case {
        uint8_t register0;  // bit 0 standby, bit 2 wake-up
        bool awake;
    };
    const Case cases[] = {{0x04, true}, {0x05, false}, {0x01, false}, {0x00, false}, {0x06, true}};
    for (const Case& c : cases) {
        writeSensor({{0x000, c.register0}});
        EXPECT_EQ(camera->sensorState().awake, c.awake) << int{c.register0};
    }
}
