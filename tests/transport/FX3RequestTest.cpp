// Vendor requests, register access, identity and the closed/unplugged camera,
// through libusb and umockdev against the simulated camera.
#include <functional>
#include <string>

#include "sim/VendorRequest.h"
#include "tests/SimCameraTest.h"

using oru_sim::CameraConfig;
using oru_sim::FailureKind;

using FX3RequestTest = SimCameraTest;

TEST_F(FX3RequestTest, CameraRegisterReplyIsBigEndianAndFailedReadYieldsZero)
{
    Plug();
    sim_->setCameraRegister(0x3012, 0x1234);
    uint16_t value = 0xFFFF;
    EXPECT_TRUE(camera_.ReadCameraRegister(0x3012, &value));
    EXPECT_EQ(value, 0x1234);

    sim_->failNextRequests(1, FailureKind::Stall);
    value = 0xFFFF;
    EXPECT_EQ(camera_.ReadCameraRegister(0x3012, &value).LibusbCode(), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(value, 0);
}

TEST_F(FX3RequestTest, RegisterWritesReachTheirSpaces)
{
    Plug();
    EXPECT_TRUE(camera_.WriteCameraRegister(0x3012, 0xBEEF));
    EXPECT_TRUE(camera_.WriteSONYREG(0x3000, 0x5A));
    EXPECT_TRUE(camera_.WriteFPGAREG(38, 0x77));
    EXPECT_EQ(sim_->cameraRegister(0x3012), 0xBEEF);
    EXPECT_EQ(sim_->sensorRegister(0x3000), 0x5A);
    EXPECT_EQ(sim_->fpgaRegister(38), 0x77);

    uint8_t byte = 0;
    EXPECT_TRUE(camera_.ReadSONYREG(0x3000, &byte));
    EXPECT_EQ(byte, 0x5A);
    EXPECT_TRUE(camera_.ReadFPGAREG(38, &byte));
    EXPECT_EQ(byte, 0x77);
}

TEST_F(FX3RequestTest, CameraRegisterBitFieldWrite)
{
    struct Case {
        uint16_t old;
        uint8_t lowBit, highBit;
        uint16_t value, written;
    };
    const Case cases[] = {
        {0xFFFF, 4, 7, 0x000A, 0xFFAF},
        {0x1234, 8, 3, 0xFFFF, 0x1234}, // empty range: old value written back
        {0x0000, 0, 15, 0xBEEF, 0xBEEF},
        {0xFFFF, 12, 20, 0x0000, 0x0FFF}, // bits past 15 are not in the mask
        {0x0000, 12, 15, 0x00FF, 0xF000}, // value bits outside the field dropped
        {0xABCD, 16, 20, 0xFFFF, 0xABCD},
    };
    Plug();
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "lowBit " << int(c.lowBit) << " highBit " << int(c.highBit));
        sim_->setCameraRegister(0x0100, c.old);
        sim_->clearRequests();
        EXPECT_TRUE(camera_.WriteCameraRegister_B(0x0100, c.lowBit, c.highBit, c.value));
        EXPECT_EQ(sim_->cameraRegister(0x0100), c.written);
        EXPECT_EQ(Sent(oru_sim::kReadCameraRegister).size(), 1u);
    }
}

TEST_F(FX3RequestTest, FirmwareVersionFromReply)
{
    struct Case {
        uint8_t tag, version, stored;
    };
    const Case cases[] = {
        {'V', 0x05, 0x50}, {'V', 0x21, 0x21}, {'V', 0x0F, 0xF0},
        {'V', 0x10, 0x10}, {'X', 0x05, 0x10}, {0, 0x21, 0x10},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "reply " << int(c.tag) << "," << int(c.version));
        CameraConfig config = CameraConfig::usb3Camera(0x1001);
        config.firmwareTag = c.tag;
        config.firmwareVersion = c.version;
        Plug(config);
        EXPECT_TRUE(camera_.GetFirmwareVer(camera_.FirmwareVersionField()));
        EXPECT_EQ(camera_.FirmwareVersion(), c.stored);
        EXPECT_TRUE(camera_.GetFirmwareVer());
        camera_.CloseDevice();
        bus_.unplug(*sim_);
    }
}

TEST_F(FX3RequestTest, FailedFirmwareVersionReadStores0x10AndFails)
{
    Plug();
    sim_->failNextRequests(2, FailureKind::Stall, oru_sim::kFirmwareVersion);
    EXPECT_FALSE(camera_.GetFirmwareVer(camera_.FirmwareVersionField()));
    EXPECT_EQ(camera_.FirmwareVersion(), 0x10);
    EXPECT_FALSE(camera_.GetFirmwareVer());
}

TEST_F(FX3RequestTest, FPGAVersionInBothLayouts)
{
    struct Case {
        oru_sim::FpgaVersion layout;
        uint16_t version;
    };
    const Case cases[] = {
        {oru_sim::FpgaVersion::olderLayout(0x05, 0x12, 0x34), 0x0005},
        {oru_sim::FpgaVersion::newerLayout(0x0A05, 0x12, 0x34), 0x0A05},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "selector " << int(c.layout.registers[0]));
        CameraConfig config = CameraConfig::usb3Camera(0x1001);
        config.fpgaVersion = c.layout;
        Plug(config);
        uint16_t version = 0;
        uint8_t digits[4] = {};
        EXPECT_TRUE(camera_.GetFPGAVer(&version, digits));
        EXPECT_EQ(version, c.version);
        EXPECT_EQ(std::vector<uint8_t>(digits, digits + 4), (std::vector<uint8_t>{1, 2, 3, 4}));

        EXPECT_TRUE(camera_.GetFPGAVer());
        uint16_t stored = 0;
        uint8_t storedDigits[4] = {};
        camera_.GetFPGAVerVal(&stored, storedDigits);
        EXPECT_EQ(stored, c.version);
        EXPECT_EQ(storedDigits[3], 4);
        camera_.CloseDevice();
        bus_.unplug(*sim_);
    }
}

TEST_F(FX3RequestTest, HostTypeGPIFAndBootLoaderProbe)
{
    CameraConfig usb2Link = CameraConfig::usb3Camera(0x1001);
    usb2Link.superSpeed = false;
    Plug(usb2Link);
    EXPECT_FALSE(camera_.IsUSB3Host());
    camera_.CloseDevice();
    bus_.unplug(*sim_);

    CameraConfig config = CameraConfig::usb3Camera(0x1001);
    config.gpifStatus = 0x07;
    Plug(config);
    EXPECT_TRUE(camera_.IsUSB3Host());
    uint8_t status = 0;
    EXPECT_TRUE(camera_.GetGPIFStatus(&status));
    EXPECT_EQ(status, 0x07);
    EXPECT_TRUE(camera_.EnableGPIF32DQ(true));
    EXPECT_TRUE(sim_->gpif32BitBus());
    EXPECT_TRUE(camera_.EnableGPIF32DQ(false));
    EXPECT_FALSE(sim_->gpif32BitBus());
    // The camera firmware does not serve the boot loader's request.
    EXPECT_FALSE(camera_.IsBootLoaderRunning());
    camera_.CloseDevice();
    bus_.unplug(*sim_);

    CameraConfig bootLoader = CameraConfig::usb3Camera(0x00F3);
    bootLoader.controller = oru_sim::ControllerKind::FX3BootLoader;
    Plug(bootLoader);
    EXPECT_TRUE(camera_.IsBootLoaderRunning());
}

TEST_F(FX3RequestTest, ShortCommandAndHousekeeping)
{
    Plug();
    EXPECT_TRUE(camera_.SendCMD(oru_sim::kStartStreaming));
    EXPECT_TRUE(sim_->streaming());
    EXPECT_TRUE(camera_.SendCMD(oru_sim::kStopStreaming));
    EXPECT_FALSE(sim_->streaming());
    EXPECT_TRUE(camera_.ResetEndPoint(0x81));
    EXPECT_TRUE(camera_.SetXferSize(0x100000));
    EXPECT_TRUE(camera_.ResetDevice());
    EXPECT_EQ(sim_->deviceResets(), 1);
    EXPECT_TRUE(camera_.SendCMD(oru_sim::kStopStreaming)) << "handle must stay usable after reset";
}

TEST_F(FX3RequestTest, ClosedCameraSendsNothingAndFails)
{
    Plug();
    camera_.CloseDevice();
    sim_->clearRequests();
    uint8_t image[64] = {'C', 'Y'};
    uint16_t word = 0xFFFF;
    uint8_t byte = 0xFF;
    // A request reports the camera closed; the others, that they failed.
    const auto failed = [](const OruStatus &status) {
        return status.Code() == ORU_ERROR_CAMERA_CLOSED ? 0 : 1;
    };
    const std::vector<std::pair<std::string, std::function<int()>>> calls = {
        {"SendCMD short", [&] { return failed(camera_.SendCMD(oru_sim::kStartStreaming)); }},
        {"SendCMD long", [&] { return failed(camera_.SendCMD(0xA6, 1, 2, false, nullptr, 0)); }},
        {"ReadCameraRegister", [&] { return failed(camera_.ReadCameraRegister(1, &word)) + word; }},
        {"ReadSONYREG", [&] { return failed(camera_.ReadSONYREG(1, &byte)) + byte; }},
        {"WriteCameraRegister_B",
         [&] { return failed(camera_.WriteCameraRegister_B(1, 0, 3, 5)); }},
        {"WriteFPGAREG", [&] { return failed(camera_.WriteFPGAREG(38, 1)); }},
        {"GetFirmwareVer", [&] { return failed(camera_.GetFirmwareVer()); }},
        {"GetFPGAVer", [&] { return failed(camera_.GetFPGAVer()); }},
        {"IsUSB3Host", [&] { return int(camera_.IsUSB3Host()); }},
        {"GetGPIFStatus", [&] { return failed(camera_.GetGPIFStatus(&byte)) + byte; }},
        {"ResetEndPoint", [&] { return int(camera_.ResetEndPoint(0x81)); }},
        {"ResetDevice", [&] { return int(camera_.ResetDevice()); }},
        {"SetXferSize", [&] { return int(camera_.SetXferSize(1)); }},
        {"SetFPGAWidth", [&] { return failed(camera_.SetFPGAWidth(640)); }},
        {"EnableCfan", [&] { return failed(camera_.EnableCfan(true)); }},
        {"WriteToSPIFlash", [&] { return failed(camera_.WriteToSPIFlash(image, 64, 0, 0xC2)); }},
        {"EraseSectorOfSPIFlash", [&] { return failed(camera_.EraseSectorOfSPIFlash(0, 0xC4)); }},
        {"UpdateFW", [&] { return int(camera_.UpdateFW(image, sizeof image)); }},
        {"DownloadFw", [&] { return int(camera_.DownloadFw(image, 64, FX3_MEDIA_RAM) == 0); }},
    };
    for (const auto &call : calls)
        EXPECT_EQ(call.second(), 0) << call.first;
    EXPECT_TRUE(sim_->requests().empty());
}

TEST_F(FX3RequestTest, UnpluggedCameraFailsEveryRequest)
{
    Plug();
    bus_.unplug(*sim_);
    uint16_t word = 0xFFFF;
    EXPECT_FALSE(camera_.ReadCameraRegister(0x3012, &word));
    EXPECT_EQ(word, 0);
    EXPECT_EQ(camera_.WriteFPGAREG(38, 1).LibusbCode(), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_FALSE(camera_.GetFirmwareVer());
    EXPECT_FALSE(camera_.IsUSB3Host());
    EXPECT_TRUE(sim_->requests().empty());
}
