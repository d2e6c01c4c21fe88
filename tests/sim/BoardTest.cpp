// The camera board through raw libusb: temperature chips, humidity sensor,
// cooler drive and thermal model, fan and heater, ST4 guide port.
#include <chrono>
#include <cmath>
#include <thread>

#include "SimTestFixture.h"
#include "sim/CameraBoard.h"
#include "sim/GuidePort.h"

using namespace oru_sim;
using Bytes = std::vector<uint8_t>;

namespace {

struct BoardTest : SimTestFixture {
    libusb_device_handle* plugIn(CameraConfig description)
    {
        camera = &addCamera(description);
        return open(*camera);
    }

    // Holds the sensor at `celsius`: no cooler power, ambient there too.
    void holdTemperature(double celsius)
    {
        ThermalSettings settings;
        settings.ambientCelsius = celsius;
        camera->board().setThermalSettings(settings);
        camera->board().setSensorTemperature(celsius);
    }

    SimulatedCamera* camera = nullptr;
};

// The host's reading of a TMP100 reply: 12-bit two's complement sixteenths.
double tmp100Celsius(const Bytes& reply)
{
    int raw = reply.at(1) * 16 + (reply.at(0) >> 4);
    return raw < 2048 ? raw * 0.0625 : (4096 - raw) * -0.0625;
}

// The host's reading of a thermistor ADC reply.
int adcCode(const Bytes& reply)
{
    return (reply.at(1) << 4) | (reply.at(0) >> 4);
}

}  // namespace

TEST_F(BoardTest, DigitalTemperatureChips)
{
    struct Case {
        TemperatureChip chip;
        double celsius;
        Bytes reply;  // of 0xB3
    };
    const Case cases[] = {
        {TemperatureChip::TMP100, 25.0, {0x00, 0x19}},   {TemperatureChip::TMP100, -12.5, {0x80, 0xF3}},
        {TemperatureChip::TMP100, 0.0625, {0x10, 0x00}}, {TemperatureChip::TMP451, 25.5, {0x08, 0x19}},
        {TemperatureChip::TMP451, -5.0, {0x00, 0x00}},  // below its standard range
        {TemperatureChip::AD7142, 25.0, {0x00, 0x00}},  // answers 0xC7 instead
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.celsius);
        CameraConfig description;
        description.temperatureChip = c.chip;
        libusb_device_handle* handle = plugIn(description);
        holdTemperature(c.celsius);
        EXPECT_EQ(readIn(handle, 0xB3, 0, 0, 2), c.reply);
    }
}

TEST_F(BoardTest, ThermistorConverters)
{
    // Codes of the 10 kOhm divider: 2^bits x R / (R + 10 kOhm), R from the
    // NTC table (interpolated at 30.5 degC, clamped beyond -50 degC).
    struct Case {
        double celsius;
        int code12;  // AD7142
        int code8;   // ADC081
    };
    const Case cases[] = {{25.0, 2048, 128}, {0.0, 3138, 196}, {-20.0, 3715, 232},
                          {30.5, 1806, 113}, {113.0, 182, 11}, {-60.0, 4017, 251}};
    for (TemperatureChip chip : {TemperatureChip::AD7142, TemperatureChip::ADC081}) {
        CameraConfig description;
        description.temperatureChip = chip;
        libusb_device_handle* handle = plugIn(description);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.celsius);
            holdTemperature(c.celsius);
            EXPECT_EQ(adcCode(readIn(handle, 0xC7, 0, 0, 2)), chip == TemperatureChip::AD7142 ? c.code12 : c.code8);
        }
        EXPECT_EQ(readIn(handle, 0xB3, 0, 0, 2), Bytes(2, 0)) << "no digital chip";
    }
}

TEST_F(BoardTest, HumidityReadsBackThroughTheHostFormula)
{
    CameraConfig description;
    description.humiditySensor = true;
    libusb_device_handle* handle = plugIn(description);
    for (double percent : {0.0, 50.0, 100.0}) {
        camera->board().setHumidity(percent);
        Bytes reply = readIn(handle, 0x85, 0xF5, 0, 2);
        int raw = reply[0] + 256 * reply[1];
        EXPECT_EQ(raw * 125 / 65536 - 6, percent) << raw;
    }
    Bytes reply;
    EXPECT_EQ(vendorIn(handle, 0x85, 0xE5, 0, reply, 2), LIBUSB_ERROR_PIPE) << "only the measure command";
}

TEST_F(BoardTest, CoolerDriveMapsThroughTheCurrentTable)
{
    struct Case {
        CoolerDrive drive;
        uint8_t request;  // 0xB2 with the DAC, or 0xBD to FPGA register 38
        uint16_t value;
        double powerFraction;  // current / 6.4 A
    };
    const Case cases[] = {
        {CoolerDrive::VendorRequest, 0xB2, 220, 1.31 / 6.4},
        {CoolerDrive::VendorRequest, 0xB2, 110, 4.45 / 6.4},  // between the 120 and 100 rows
        {CoolerDrive::VendorRequest, 0xB2, 20, 1.0},
        {CoolerDrive::VendorRequest, 0xB2, 255, 0.0},
        {CoolerDrive::VendorRequest, 0xBD, 199, 0.0},     // not this camera's drive
        {CoolerDrive::FpgaRegister, 0xBD, 199, 0.93797},  // DAC 40 sent as 220 x 232 / 256
        {CoolerDrive::FpgaRegister, 0xBD, 14, 0.0},       // DAC 255 sent as 14
        {CoolerDrive::FpgaRegister, 0xB2, 20, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        CameraConfig description;
        description.coolerDrive = c.drive;
        libusb_device_handle* handle = plugIn(description);
        EXPECT_EQ(vendorOut(handle, c.request, c.request == 0xBD ? 38 : c.value, c.request == 0xBD ? c.value : 0), 0);
        EXPECT_NEAR(camera->board().coolerPowerFraction(), c.powerFraction, 1e-4);
    }
}

TEST_F(BoardTest, SensorCoolsWithPowerAndWarmsBackWithout)
{
    CameraConfig description;
    description.temperatureChip = TemperatureChip::TMP100;
    description.coolerDrive = CoolerDrive::FpgaRegister;
    libusb_device_handle* handle = plugIn(description);
    ThermalSettings settings;
    settings.ambientCelsius = 20.0;
    settings.lowestCelsius = -20.0;
    settings.timeConstantSeconds = 0.05;
    camera->board().setThermalSettings(settings);

    // Settles within the TMP100's step; waits up to 100 time constants.
    auto settlesAt = [&](double expected) {
        for (int poll = 0; poll < 250; ++poll) {
            if (std::abs(tmp100Celsius(readIn(handle, 0xB3, 0, 0, 2)) - expected) <= 0.0625)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    };
    EXPECT_EQ(vendorOut(handle, 0xBD, 38, 199), 0);
    EXPECT_TRUE(settlesAt(20.0 - 0.93797 * 40.0));
    EXPECT_EQ(vendorOut(handle, 0xBD, 38, 14), 0);
    EXPECT_TRUE(settlesAt(20.0));
    EXPECT_NEAR(camera->board().sensorTemperature(), 20.0, 0.125);
}

TEST_F(BoardTest, FanAndHeaterFollowTheFpgaRegisters)
{
    struct Case {
        bool powerRegister;
        uint8_t register25;
        uint8_t register42;
        bool fan, heater;
        int heaterPower;
    };
    const Case cases[] = {
        {true, 0x00, 0, true, false, 0},   {true, 0x80, 0, false, false, 0},  {true, 0x40, 197, true, true, 197},
        {true, 0xC0, 50, false, true, 50}, {false, 0x40, 0, true, true, 100}, {true, 0x00, 197, true, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int{c.register25});
        CameraConfig description;
        description.heaterPowerRegister = c.powerRegister;
        libusb_device_handle* handle = plugIn(description);
        EXPECT_EQ(vendorOut(handle, 0xBD, 42, c.register42), 0);
        EXPECT_EQ(vendorOut(handle, 0xBD, 25, c.register25), 0);
        EXPECT_EQ(camera->fanOn(), c.fan);
        EXPECT_EQ(camera->heaterOn(), c.heater);
        EXPECT_EQ(camera->heaterPowerPercent(), c.heaterPower);
    }
}

TEST_F(BoardTest, GuidePortRecordsPulses)
{
    libusb_device_handle* handle = plugIn(CameraConfig{});
    EXPECT_EQ(vendorOut(handle, 0xB0, 0, 0), 0);  // north
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(vendorOut(handle, 0xB1, 0, 0), 0);
    EXPECT_EQ(vendorOut(handle, 0xB0, 2, 0), 0);  // east, switched on twice
    EXPECT_EQ(vendorOut(handle, 0xB0, 2, 0), 0);
    EXPECT_EQ(vendorOut(handle, 0xB1, 2, 0), 0);
    EXPECT_EQ(vendorOut(handle, 0xB1, 1, 0), 0);  // south was never on
    EXPECT_EQ(vendorOut(handle, 0xB0, 3, 0), 0);  // west, still on
    EXPECT_EQ(vendorOut(handle, 0xB0, 4, 0), LIBUSB_ERROR_PIPE) << "no fifth line";

    std::vector<GuidePulse> pulses = camera->guidePort().pulses();
    ASSERT_EQ(pulses.size(), 3u);
    EXPECT_EQ(pulses[0].direction, 0);
    ASSERT_TRUE(pulses[0].stop);
    EXPECT_GE(*pulses[0].stop - pulses[0].start, std::chrono::milliseconds(20));
    EXPECT_EQ(pulses[0].repeatedOns, 0);
    EXPECT_EQ(pulses[1].direction, 2);
    EXPECT_TRUE(pulses[1].stop);
    EXPECT_EQ(pulses[1].repeatedOns, 1);
    EXPECT_EQ(pulses[2].direction, 3);
    EXPECT_FALSE(pulses[2].stop);

    camera->guidePort().clearPulses();
    EXPECT_TRUE(camera->guidePort().pulses().empty());
}
