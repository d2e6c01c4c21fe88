// The ORU120 (legacy USB2) cameras through the flat API against the named
// simulated model: firmware load at open, sensor clock, window and gain
// registers, frames from endpoint 0x82 with their head word, software-timed
// long exposures, and the camera info; plus the firmware images themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/TempHome.h"
#include "api/ORUCamera.h"
#include "models/LegacyUsb2Firmware.h"
#include "sim/LegacyFrameStream.h"
#include "sim/LegacyUsb2Sensor.h"
#include "sim/ModelCatalog.h"
#include "sim/SimulatedBus.h"
#include "sim/VendorRequest.h"

using oru_sim::LegacyFrameStream;
using oru_sim::LegacyUsb2Sensor;
using oru_sim::SimulatedCamera;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

namespace {

constexpr uint16_t kRegPllRegisters[] = {0x302C, 0x302A, 0x302E, 0x3030};

// The image's load records (RAM address, bytes) up to the CPU start record,
// which must end the image.
std::vector<std::pair<uint16_t, Bytes>> Records(const LegacyUsb2FirmwareImage &image)
{
    std::vector<std::pair<uint16_t, Bytes>> records;
    const uint8_t *bytes = image.pImage;
    long at = 8;
    while (at + 4 <= image.lLength && !(bytes[at] == 0x80 && bytes[at + 1] == 0x01)) {
        const long length = bytes[at] << 8 | bytes[at + 1];
        const uint16_t address = static_cast<uint16_t>(bytes[at + 2] << 8 | bytes[at + 3]);
        records.emplace_back(address, Bytes(bytes + at + 4, bytes + at + 4 + length));
        at += 4 + length;
    }
    EXPECT_EQ(Bytes(bytes + at, bytes + image.lLength), (Bytes{0x80, 0x01, 0xE6, 0x00, 0x00}));
    return records;
}

class LegacyUsb2Test : public ::testing::Test {
protected:
    void TearDown() override { ORUCloseCamera(0); }

    void Plug(uint8_t firmwareVersion)
    {
        oru_sim::CameraConfig description = oru_sim::ModelCatalog::find("oru120");
        description.firmwareVersion = firmwareVersion;
        sim_ = &bus_.addCamera(description);
        stream_ = std::dynamic_pointer_cast<LegacyFrameStream>(sim_->dataSource());
        ASSERT_NE(stream_, nullptr);
    }

    void OpenAndInit()
    {
        Plug(0x30);
        ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
        ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);
        ASSERT_EQ(ORUInitCamera(0), ORU_SUCCESS);
    }

    void SetControl(ORU_CONTROL_TYPE type, int32_t value)
    {
        ASSERT_EQ(ORUSetControlValue(0, type, value, ORU_FALSE), ORU_SUCCESS) << type;
    }

    // Values written to the camera registers in `addresses`, in order.
    std::vector<std::pair<uint16_t, uint16_t>>
    Writes(std::initializer_list<uint16_t> addresses) const
    {
        std::vector<std::pair<uint16_t, uint16_t>> writes;
        for (const auto &entry : sim_->requests(oru_sim::kWriteCameraRegister))
            if (std::find(addresses.begin(), addresses.end(), entry.setup.value) != addresses.end())
                writes.emplace_back(entry.setup.value, entry.setup.index);
        return writes;
    }

    // A sent frame as the read-out delivers it: the head covered by the
    // bytes two rows on, 16-bit samples least significant byte first.
    static Bytes AsDelivered(Bytes frame, int rowBytes, bool wide)
    {
        std::copy_n(frame.begin() + 2 * rowBytes, 4, frame.begin());
        if (wide)
            for (size_t i = 0; i + 1 < frame.size(); i += 2)
                std::swap(frame[i], frame[i + 1]);
        return frame;
    }

    TempHome home_;
    oru_sim::SimulatedBus bus_;
    SimulatedCamera *sim_ = nullptr;
    std::shared_ptr<LegacyFrameStream> stream_;
};

} // namespace

TEST(LegacyUsb2FirmwareTest, OneBootImagePerProductInTheC2Format)
{
    struct Case {
        int productId;
        long length;
    };
    for (const Case c :
         {Case{0x1005, 4265}, Case{0x1006, 4238}, Case{0x1007, 4346}, Case{0x1008, 4299}}) {
        SCOPED_TRACE(c.productId);
        const LegacyUsb2FirmwareImage *image = LegacyUsb2FirmwareFor(c.productId);
        ASSERT_NE(image, nullptr);
        ASSERT_EQ(image->lLength, c.length);
        const uint8_t *bytes = image->pImage;
        EXPECT_EQ(Bytes(bytes, bytes + 8),
                  (Bytes{0xC2, 0x7E, 0x3A, static_cast<uint8_t>(c.productId & 0xFF),
                         static_cast<uint8_t>(c.productId >> 8), 0x01, 0x00, 0x04}));
        const auto records = Records(*image);
        ASSERT_EQ(records.size(), 5u);
        ASSERT_EQ(records[0].first, 0x0000);
        const Bytes &program = records[0].second;
        EXPECT_EQ(std::string(program.begin() + 3, program.begin() + 17), "ORU-FX2-CAMERA");
        EXPECT_EQ(program[17], 0x30) << "the version the camera reports once loaded";
        EXPECT_EQ(records[3].second[11], c.productId >> 8) << "device descriptor's product ID";
    }
    EXPECT_EQ(LegacyUsb2FirmwareFor(0x1001), nullptr);
}

TEST_F(LegacyUsb2Test, OpensWithoutALoadWhenTheFirmwareIsNewEnough)
{
    Plug(0x30);
    const int deviceNumber = sim_->deviceNumber();
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);
    EXPECT_TRUE(sim_->requests(oru_sim::kControllerRam).empty());
    EXPECT_TRUE(sim_->readEeprom(0, 0, 1) == Bytes{0xFF}) << "EEPROM untouched";
    EXPECT_EQ(sim_->deviceNumber(), deviceNumber);
}

TEST_F(LegacyUsb2Test, LoadsItsFirmwareAt0x2FAndOpensTheCameraThatComesBack)
{
    Plug(0x2F);
    const int deviceNumber = sim_->deviceNumber();
    const oru_sim::PortAddress port = sim_->address();
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    ASSERT_EQ(ORUOpenCamera(0), ORU_SUCCESS);

    const LegacyUsb2FirmwareImage *image = LegacyUsb2FirmwareFor(0x1005);
    ASSERT_NE(image, nullptr);
    const Bytes imageBytes(image->pImage, image->pImage + image->lLength);
    const auto records = Records(*image);
    // Loader in, CPU run; the image's records in, CPU run.
    std::vector<std::pair<uint16_t, Bytes>> expected = {
        {0xE600, {1}}, {0x0000, {}}, {0x0800, {}}, {0xE600, {0}}, {0xE600, {1}}};
    for (const auto &record : records)
        expected.push_back(record);
    expected.push_back({0xE600, {0}});
    const auto ram = sim_->requests(oru_sim::kControllerRam);
    ASSERT_EQ(ram.size(), expected.size());
    for (size_t i = 0; i < ram.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ram[i].setup.value, expected[i].first);
        if (!expected[i].second.empty()) {
            EXPECT_EQ(ram[i].data, expected[i].second);
        }
    }
    EXPECT_EQ(ram[1].data.size(), 2048u) << "loader part 1";
    EXPECT_EQ(ram[2].data.size(), 1427u) << "loader part 2";

    // The EEPROM gets the image in two blocks and gives it back once.
    std::vector<std::tuple<bool, uint16_t, size_t>> eeprom;
    for (const auto &entry : sim_->requests(oru_sim::kStartStreaming))
        eeprom.emplace_back(entry.setup.deviceToHost(), entry.setup.value, entry.setup.length);
    const size_t tail = imageBytes.size() - 4096;
    EXPECT_EQ(eeprom,
              (std::vector<std::tuple<bool, uint16_t, size_t>>{
                  {false, 0, 4096}, {false, 0x1000, tail}, {true, 0, 4096}, {true, 0x1000, tail}}));
    EXPECT_EQ(sim_->readEeprom(0, 0, imageBytes.size()), imageBytes);

    EXPECT_EQ(sim_->address(), port);
    EXPECT_NE(sim_->deviceNumber(), deviceNumber) << "came back as a new device";
    const auto versions = sim_->requests(oru_sim::kFirmwareVersion);
    ASSERT_GE(versions.size(), 2u);
    EXPECT_EQ(versions.front().data, (Bytes{'V', 0x2F}));
    EXPECT_EQ(versions.back().data, (Bytes{'V', 0x30}))
        << "the reopened camera runs the new firmware";
    EXPECT_EQ(ORUInitCamera(0), ORU_SUCCESS);
}

TEST_F(LegacyUsb2Test, CameraThatDoesNotAnswerAfterTheLoadStaysClosed)
{
    Plug(0x2F);
    const int deviceNumber = sim_->deviceNumber();
    // Silence the camera as soon as it has come back with its new firmware.
    std::thread silencer([this, deviceNumber] {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (sim_->deviceNumber() == deviceNumber && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        sim_->setUnresponsive(true);
    });
    ASSERT_EQ(ORUGetNumOfConnectedCameras(), 1);
    EXPECT_EQ(ORUOpenCamera(0), ORU_ERROR_CAMERA_REMOVED);
    silencer.join();
    EXPECT_EQ(ORUInitCamera(0), ORU_ERROR_CAMERA_CLOSED);
}

TEST_F(LegacyUsb2Test, ClockFollowsWidthDepthAndHighSpeed)
{
    struct Case {
        int width, height;
        ORU_IMG_TYPE type;
        bool highSpeed;
        std::vector<uint16_t> pll; // 0x302C, 0x302A, 0x302E, 0x3030
        double clockMHz;
    };
    const Case cases[] = {
        {1000, 800, ORU_IMG_RAW8, false, {1, 8, 12, 63}, 31.5}, // 62 MHz row
        {1280, 960, ORU_IMG_RAW8, false, {1, 8, 6, 25}, 25},    // 50
        {640, 480, ORU_IMG_RAW16, false, {2, 8, 6, 40}, 20},    // 80 / 2 = 40
        {1280, 960, ORU_IMG_RAW8, true, {1, 8, 3, 25}, 50},
    };
    OpenAndInit();
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " " << c.type << " " << c.highSpeed);
        SetControl(ORU_HIGH_SPEED_MODE, c.highSpeed);
        sim_->clearRequests();
        ASSERT_EQ(ORUSetROIFormat(0, c.width, c.height, 1, c.type), ORU_SUCCESS);
        auto writes = Writes({0x302C, 0x302A, 0x302E, 0x3030});
        ASSERT_EQ(writes.size(), 4u) << "one PLL row";
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(writes[i], std::make_pair(kRegPllRegisters[i], c.pll[i]));
        const oru_sim::LegacyUsb2State state = LegacyUsb2Sensor::decode(*sim_);
        EXPECT_DOUBLE_EQ(state.clockMHz, c.clockMHz);
        EXPECT_FALSE(state.pllBypassed);
        // The rows name their clocks in whole MHz (the 62 row runs at 63).
        EXPECT_NEAR(state.sensor.exposureUs, 10000, 200);
    }
}

TEST_F(LegacyUsb2Test, WindowRegistersFollowTheROI)
{
    struct Case {
        int width, height, bin, x, y; // the flat API's binned start position
        int sensorX, sensorY;
        std::vector<uint16_t> registers; // 0x3002, 0x3004, 0x3006, 0x3008, 0x300A
    };
    const Case cases[] = {
        {320, 240, 2, 51, 25, 102, 50, {52, 102, 531, 741, 506}},
        {640, 480, 1, 101, 51, 100, 50, {52, 100, 531, 739, 506}},      // down to even
        {640, 480, 1, 1000, 900, 640, 480, {482, 640, 961, 1279, 506}}, // held on the sensor
    };
    OpenAndInit();
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " bin " << c.bin);
        ASSERT_EQ(ORUSetROIFormat(0, c.width, c.height, c.bin, ORU_IMG_RAW8), ORU_SUCCESS);
        ASSERT_EQ(ORUSetStartPos(0, c.x, c.y), ORU_SUCCESS);
        const std::vector<uint16_t> registers = {
            sim_->cameraRegister(0x3002), sim_->cameraRegister(0x3004),
            sim_->cameraRegister(0x3006), sim_->cameraRegister(0x3008),
            sim_->cameraRegister(0x300A)};
        EXPECT_EQ(registers, c.registers);
        EXPECT_EQ(sim_->cameraRegister(0x3032), 0);
        EXPECT_EQ(sim_->cameraRegister(0x306E), 0x9210);
        const oru_sim::SensorState state = sim_->sensorState();
        EXPECT_EQ(state.windowX, c.sensorX);
        EXPECT_EQ(state.windowY, c.sensorY);
        EXPECT_EQ(state.windowWidth, c.width * c.bin);
        EXPECT_EQ(state.windowHeight, c.height * c.bin);
    }
}

TEST_F(LegacyUsb2Test, GainWhiteBalanceAndOffsetCodes)
{
    struct Case {
        int gain;
        uint16_t analogue; // 0x30B0
        uint16_t code;     // both green gains
    };
    const Case cases[] = {{0, 0x1300, 32},  {15, 0x1300, 62},   {16, 0x1310, 32},
                          {31, 0x1310, 62}, {32, 0x1320, 32},   {47, 0x1320, 62},
                          {48, 0x1330, 32}, {100, 0x1330, 136}, {150, 0x1330, 136}};
    OpenAndInit();
    SetControl(ORU_WB_R, 55);
    SetControl(ORU_WB_B, 99);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.gain);
        SetControl(ORU_GAIN, c.gain);
        EXPECT_EQ(sim_->cameraRegister(0x30B0), c.analogue);
        EXPECT_EQ(sim_->cameraRegister(0x3056), c.code);
        EXPECT_EQ(sim_->cameraRegister(0x305C), c.code);
        EXPECT_EQ(sim_->cameraRegister(0x305A), c.code) << "red at white balance 55";
        EXPECT_EQ(sim_->cameraRegister(0x3058), c.code * 99 / 55) << "blue";
    }

    // Above 100 ms the sensor runs on the crystal, and the gain says so.
    SetControl(ORU_GAIN, 20);
    SetControl(ORU_EXPOSURE, 200000);
    oru_sim::LegacyUsb2State state = LegacyUsb2Sensor::decode(*sim_);
    EXPECT_TRUE(state.pllBypassed);
    EXPECT_EQ(sim_->cameraRegister(0x30B0), 0x5310);
    EXPECT_NEAR(state.sensor.exposureUs, 200000, state.lineLength / state.clockMHz);
    SetControl(ORU_EXPOSURE, 20000);
    state = LegacyUsb2Sensor::decode(*sim_);
    EXPECT_FALSE(state.pllBypassed);
    EXPECT_EQ(sim_->cameraRegister(0x30B0), 0x1310);
    EXPECT_NEAR(state.sensor.exposureUs, 20000, state.lineLength / state.clockMHz);

    SetControl(ORU_OFFSET, 20);
    EXPECT_EQ(sim_->cameraRegister(0x301E), 320);
}

TEST_F(LegacyUsb2Test, VideoDeliversTheFramesTheCameraSent)
{
    OpenAndInit();
    stream_->keepSentFrames(16);
    for (const ORU_IMG_TYPE type : {ORU_IMG_RAW8, ORU_IMG_RAW16}) {
        SCOPED_TRACE(type);
        const bool wide = type == ORU_IMG_RAW16;
        const int rowBytes = 640 * (wide ? 2 : 1);
        ASSERT_EQ(ORUSetROIFormat(0, 640, 480, 1, type), ORU_SUCCESS);
        ASSERT_EQ(ORUStartVideoCapture(0), ORU_SUCCESS);
        Bytes image(static_cast<size_t>(rowBytes) * 480);
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(ORUGetVideoData(0, image.data(), static_cast<int32_t>(image.size()), 3000),
                      ORU_SUCCESS);
        ASSERT_EQ(ORUStopVideoCapture(0), ORU_SUCCESS);

        const auto sent = stream_->sentFrames();
        ASSERT_FALSE(sent.empty());
        const Bytes &last = sent.back().bytes;
        ASSERT_EQ(last.size(), image.size());
        EXPECT_EQ(Bytes(last.begin(), last.begin() + 4), (Bytes{0x11, 0xAA, 0x00, 0xBB}));
        EXPECT_TRUE(std::any_of(sent.begin(), sent.end(), [&](const oru_sim::SentLegacyFrame &f) {
            return AsDelivered(f.bytes, rowBytes, wide) == image;
        })) << "delivered frame is one the camera sent";
        if (wide) {
            const uint16_t sample =
                static_cast<uint16_t>(image[2 * 640 * 100 + 201] << 8 | image[2 * 640 * 100 + 200]);
            EXPECT_EQ(sample & 0x000F, 0) << "12 bits at the top of a little-endian sample";
        }
    }
}

TEST_F(LegacyUsb2Test, BadHeadsAndShortFramesCountAsDropped)
{
    struct Case {
        const char *name;
        std::function<void(oru_sim::StreamFaults &)> fault;
    };
    const Case cases[] = {
        {"bad head",
         [](oru_sim::StreamFaults &f) { f.corruptNextFrame(oru_sim::MarkerFault::HeadMarker); }},
        {"short frame", [](oru_sim::StreamFaults &f) { f.shortenNextFrame(1000); }},
    };
    OpenAndInit();
    ASSERT_EQ(ORUSetROIFormat(0, 640, 480, 1, ORU_IMG_RAW8), ORU_SUCCESS);
    Bytes image(640 * 480);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(ORUStartVideoCapture(0), ORU_SUCCESS);
        ASSERT_EQ(ORUGetVideoData(0, image.data(), static_cast<int32_t>(image.size()), 3000),
                  ORU_SUCCESS);
        int dropped = -1;
        ASSERT_EQ(ORUGetDroppedFrames(0, &dropped), ORU_SUCCESS);
        EXPECT_EQ(dropped, 0);
        c.fault(stream_->faults());
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        while (dropped == 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            ORUGetDroppedFrames(0, &dropped);
        }
        EXPECT_EQ(dropped, 1);
        EXPECT_EQ(ORUGetVideoData(0, image.data(), static_cast<int32_t>(image.size()), 3000),
                  ORU_SUCCESS)
            << "the stream goes on";
        ASSERT_EQ(ORUStopVideoCapture(0), ORU_SUCCESS);
    }
}

TEST_F(LegacyUsb2Test, LongSnapIsTimedWithTheSensorClockStopped)
{
    OpenAndInit();
    stream_->keepSentFrames(4);
    ASSERT_EQ(ORUSetROIFormat(0, 640, 480, 1, ORU_IMG_RAW8), ORU_SUCCESS);
    SetControl(ORU_EXPOSURE, 1500000);
    sim_->clearRequests();
    ASSERT_EQ(ORUStartExposure(0, ORU_FALSE), ORU_SUCCESS);
    ORU_EXPOSURE_STATUS status = ORU_EXP_WORKING;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (status == ORU_EXP_WORKING && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(ORUGetExpStatus(0, &status), ORU_SUCCESS);
    }
    ASSERT_EQ(status, ORU_EXP_SUCCESS);
    Bytes image(640 * 480);
    EXPECT_EQ(ORUGetDataAfterExp(0, image.data(), static_cast<int32_t>(image.size())), ORU_SUCCESS);

    std::vector<uint8_t> clockRequests;
    for (const auto &entry : sim_->requests())
        if (entry.setup.request == oru_sim::kSensorClockStop ||
            entry.setup.request == oru_sim::kSensorClockStart)
            clockRequests.push_back(entry.setup.request);
    EXPECT_EQ(clockRequests,
              (std::vector<uint8_t>{oru_sim::kSensorClockStart, oru_sim::kSensorClockStop,
                                    oru_sim::kSensorClockStart}));
    const auto sent = stream_->sentFrames();
    ASSERT_FALSE(sent.empty());
    EXPECT_NEAR(sent.back().exposureUs, 1500000, 100000) << "programmed integration plus the stop";
}

TEST_F(LegacyUsb2Test, ElecPerAduFollowsTheGainRegisterRule)
{
    struct Case {
        int gain;
        double amplification;
    };
    const Case cases[] = {{0, 1.0},   {8, 1.5},   {20, 2.5},  {40, 6.0},
                          {56, 12.0}, {70, 22.0}, {90, 48.0}, {100, 64.0}};
    OpenAndInit();
    ORU_CAMERA_INFO info{};
    ASSERT_EQ(ORUGetCameraProperty(&info, 0), ORU_SUCCESS);
    EXPECT_STREQ(info.name, "ORU120");
    EXPECT_EQ(info.is_usb3, ORU_FALSE);
    EXPECT_EQ(info.max_width, 1280);
    EXPECT_EQ(info.max_height, 960);
    SetControl(ORU_GAIN, 0);
    ASSERT_EQ(ORUGetCameraProperty(&info, 0), ORU_SUCCESS);
    const double unity = info.elec_per_adu;
    EXPECT_GT(unity, 0.0);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.gain);
        SetControl(ORU_GAIN, c.gain);
        ASSERT_EQ(ORUGetCameraProperty(&info, 0), ORU_SUCCESS);
        EXPECT_NEAR(info.elec_per_adu, unity / c.amplification, 1e-5);
    }
}
