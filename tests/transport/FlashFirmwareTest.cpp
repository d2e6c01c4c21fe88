// SPI flash, the legacy EEPROM refresh through the loader firmware and the FX3
// boot loader downloads, against the simulated controller's memories.
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <numeric>
#include <string>

#include "sim/VendorRequest.h"
#include "tests/SimCameraTest.h"
#include "transport/LoaderFirmware.h"

using oru_sim::CameraConfig;
using oru_sim::ControllerKind;
using oru_sim::FailureKind;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Pattern(size_t length, uint8_t seed)
{
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
    return bytes;
}

void AppendLE32(Bytes &out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

struct Section {
    uint32_t address;
    Bytes data; // a multiple of 4 bytes
};

// An FX3 boot image: "CY", control byte, type, sections, then the entry
// section (length 0) and a checksum word.
Bytes Fx3Image(const std::vector<Section> &sections, uint32_t entry, uint8_t control = 0x1C)
{
    Bytes image{'C', 'Y', control, 0xB0};
    for (const Section &section : sections) {
        AppendLE32(image, static_cast<uint32_t>(section.data.size() / 4));
        AppendLE32(image, section.address);
        image.insert(image.end(), section.data.begin(), section.data.end());
    }
    AppendLE32(image, 0);
    AppendLE32(image, entry);
    AppendLE32(image, 0);
    return image;
}

// A legacy C2 EEPROM image with five load records of 850 bytes at 0x0000,
// 0x0400, ... 0x1000, ending with the CPU start record.
Bytes C2Image()
{
    Bytes image{0xC2, 0x7E, 0x3A, 0x01, 0x20, 0x00, 0x00, 0x04};
    for (uint16_t record = 0; record < 5; ++record) {
        const uint16_t address = static_cast<uint16_t>(record * 0x400);
        image.insert(image.end(), {0x03, 0x52, static_cast<uint8_t>(address >> 8), 0x00});
        const Bytes data = Pattern(850, static_cast<uint8_t>(record));
        image.insert(image.end(), data.begin(), data.end());
    }
    image.insert(image.end(), {0x80, 0x01, 0xE6, 0x00, 0x00});
    return image;
}

} // namespace

class FlashFirmwareTest : public SimCameraTest {
protected:
    void PlugController(ControllerKind kind)
    {
        CameraConfig config = kind == ControllerKind::FX2 ? CameraConfig::usb2Camera(0x0120)
                                                          : CameraConfig::usb3Camera(0x1001);
        config.controller = kind;
        Plug(config);
    }

    size_t DataBytesSent(uint8_t request) const
    {
        size_t total = 0;
        for (const auto &entry : sim_->requests(request))
            if (!entry.setup.deviceToHost())
                total += entry.data.size();
        return total;
    }
};

TEST_F(FlashFirmwareTest, SPIFlashEraseWriteAndRead)
{
    Plug();
    sim_->writeFlash(0x10000, Bytes(512, 0x00));
    EXPECT_TRUE(camera_.EraseSectorOfSPIFlash(1, oru_sim::kFlashErase));
    const auto erase = sim_->requests(oru_sim::kFlashErase);
    ASSERT_EQ(erase.size(), 1u + 3 + 1) << "erase, three busy polls, the idle poll";
    EXPECT_EQ(erase[0].setup.value, 1);
    EXPECT_EQ(erase[0].setup.index, 1);
    EXPECT_TRUE(erase[4].setup.deviceToHost());
    EXPECT_EQ(sim_->readFlash(0x10000, 512), Bytes(512, 0xFF));

    Bytes page = Pattern(256, 3);
    EXPECT_TRUE(camera_.WriteToSPIFlash(page.data(), 256, 0x10100, oru_sim::kFlashWrite));
    EXPECT_EQ(Sent(oru_sim::kFlashWrite), (std::vector<RegisterWrite>{{0, 0x101}}));
    EXPECT_EQ(sim_->readFlash(0x10100, 256), page);
    Bytes readBack(256, 0);
    EXPECT_TRUE(camera_.ReadFromSPIFlash(readBack.data(), 256, 0x10100, oru_sim::kFlashRead));
    EXPECT_EQ(readBack, page);
}

TEST_F(FlashFirmwareTest, SPIFlashFailuresAreReported)
{
    struct Case {
        std::string name;
        uint8_t failing;
        std::function<OruStatus(CCameraFX3 &)> call;
    };
    Bytes page(256, 0x11);
    const std::vector<Case> cases = {
        {"erase", oru_sim::kFlashErase,
         [](CCameraFX3 &c) { return c.EraseSectorOfSPIFlash(0, 0xC4); }},
        {"write", oru_sim::kFlashWrite,
         [&](CCameraFX3 &c) { return c.WriteToSPIFlash(page.data(), 256, 0, 0xC2); }},
        {"read", oru_sim::kFlashRead,
         [&](CCameraFX3 &c) { return c.ReadFromSPIFlash(page.data(), 256, 0, 0xC3); }},
    };
    Plug();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        sim_->clearRequests();
        sim_->failNextRequests(1, FailureKind::Stall, c.failing);
        EXPECT_EQ(c.call(camera_).LibusbCode(), LIBUSB_ERROR_PIPE);
        EXPECT_EQ(sim_->requests().size(), 1u) << "no retry, no poll after a failed erase";
    }
}

TEST_F(FlashFirmwareTest, UpdateFWWritesEEPROMThroughLoaderThenStartsImage)
{
    PlugController(ControllerKind::FX2);
    Bytes image = C2Image();
    ASSERT_GT(image.size(), 4096u);
    EXPECT_TRUE(camera_.UpdateFW(image.data(), static_cast<long>(image.size())));

    EXPECT_EQ(sim_->readEeprom(0, 0, image.size()), image);
    EXPECT_EQ(Sent(oru_sim::kStartStreaming),
              (std::vector<RegisterWrite>{{0, 0}, {0x1000, 0}, {0, 0}, {0x1000, 0}}))
        << "two blocks written, then read back";
    const auto ram = sim_->requests(oru_sim::kControllerRam);
    std::vector<uint16_t> addresses;
    for (const auto &entry : ram)
        addresses.push_back(entry.setup.value);
    EXPECT_EQ(addresses, (std::vector<uint16_t>{0xE600, 0x0000, 0x0800, 0xE600, 0xE600, 0x0000,
                                                0x0400, 0x0800, 0x0C00, 0x1000, 0xE600}));
    ASSERT_EQ(ram.size(), 11u);
    EXPECT_EQ(ram[0].data, Bytes{1});
    EXPECT_EQ(ram[1].data, Bytes(Vendor1, Vendor1 + kVendor1Size));
    EXPECT_EQ(ram[2].data, Bytes(Vendor2, Vendor2 + kVendor2Size));
    EXPECT_EQ(ram[3].data, Bytes{0});
    EXPECT_EQ(ram[10].data, Bytes{0});
    EXPECT_EQ(sim_->readControllerRam(0x0C00, 850), Pattern(850, 3));
    EXPECT_FALSE(sim_->cpuHeld());
}

TEST_F(FlashFirmwareTest, UpdateFWVerifiesUpToThreeTimes)
{
    struct Case {
        int failedEEPROMRequests; // each attempt writes two blocks and reads two
        bool result;
        size_t eepromRequests;
    };
    const Case cases[] = {
        {0, true, 4},
        {4, true, 8},
        {8, true, 12}, // verified on the last attempt: still a success
        {12, false, 12},
    };
    const Bytes image = C2Image();
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.failedEEPROMRequests << " failed requests");
        PlugController(ControllerKind::FX2);
        if (c.failedEEPROMRequests)
            sim_->failNextRequests(c.failedEEPROMRequests, FailureKind::Stall,
                                   oru_sim::kStartStreaming);
        Bytes copy = image;
        EXPECT_EQ(camera_.UpdateFW(copy.data(), static_cast<long>(copy.size())), c.result);
        EXPECT_EQ(sim_->requests(oru_sim::kStartStreaming).size(), c.eepromRequests);
        EXPECT_EQ(sim_->readControllerRam(0x1000, 850), Pattern(850, 4))
            << "the image is started from RAM whatever the outcome";
        camera_.CloseDevice();
        bus_.unplug(*sim_);
    }
}

TEST_F(FlashFirmwareTest, EraseFlashLeavesBlankBootHeader)
{
    PlugController(ControllerKind::FX2);
    sim_->writeEeprom(0, 0, Pattern(4096, 9));
    EXPECT_TRUE(camera_.EraseFlash());
    Bytes expected(4096, 0);
    expected[0] = 0xC2;
    EXPECT_EQ(sim_->readEeprom(0, 0, 4096), expected);
}

TEST_F(FlashFirmwareTest, DownloadFwResultCodes)
{
    struct Case {
        std::string name;
        ControllerKind controller;
        Bytes image;
        int media;
        std::function<void(oru_sim::SimulatedCamera &)> fault;
        int result;
    };
    Bytes noSignature = Fx3Image({}, 0x40000000);
    noSignature[1] = 'X';
    Bytes truncated = Fx3Image({{0x40000000, Pattern(3000, 1)}}, 0x40000000);
    truncated.resize(4 + 8 + 2500);
    Bytes noEntry = Fx3Image({{0x40000000, Pattern(64, 1)}}, 0x40000000);
    noEntry.resize(4 + 8 + 64 + 4);
    Bytes oversized{'C', 'Y', 0x1C, 0xB0};
    AppendLE32(oversized, 1000); // 4000 bytes claimed
    AppendLE32(oversized, 0x40000000);
    // 2^30 words: as a 32-bit byte count this wraps to 0, the entry section.
    Bytes wrappingLength{'C', 'Y', 0x1C, 0xB0};
    AppendLE32(wrappingLength, 0x40000000);
    AppendLE32(wrappingLength, 0x40000000);
    wrappingLength.resize(wrappingLength.size() + 4096, 0x5A);
    const Bytes small = Fx3Image({{0x40000000, Pattern(64, 1)}}, 0x40000000);
    const auto none = [](oru_sim::SimulatedCamera &) {};
    const std::vector<Case> cases = {
        {"unknown media", ControllerKind::FX3BootLoader, small, 4, none, FX3_FW_BAD_MEDIA},
        {"no CY", ControllerKind::FX3BootLoader, noSignature, FX3_MEDIA_RAM, none,
         FX3_FW_BAD_SIGNATURE},
        {"section cut short", ControllerKind::FX3BootLoader, truncated, FX3_MEDIA_RAM, none,
         FX3_FW_TRUNCATED},
        {"no entry section", ControllerKind::FX3BootLoader, noEntry, FX3_MEDIA_RAM, none,
         FX3_FW_TRUNCATED},
        {"word count wrapping to entry", ControllerKind::FX3BootLoader, wrappingLength,
         FX3_MEDIA_RAM, none, FX3_FW_TRUNCATED},
        {"chunk larger than image", ControllerKind::FX3BootLoader, oversized, FX3_MEDIA_RAM, none,
         FX3_FW_CHUNK_TOO_LARGE},
        {"RAM transfers fail", ControllerKind::FX3BootLoader, small, FX3_MEDIA_RAM,
         [](oru_sim::SimulatedCamera &s) {
             s.failNextRequests(6, FailureKind::Stall, oru_sim::kControllerRam);
         },
         FX3_FW_TRANSFER_FAILED},
        {"I2C size code 1", ControllerKind::FX3, Fx3Image({}, 0, 0x02), FX3_MEDIA_I2C_EEPROM, none,
         FX3_FW_BAD_EEPROM_SIZE},
        {"I2C write fails", ControllerKind::FX3, small, FX3_MEDIA_I2C_EEPROM,
         [](oru_sim::SimulatedCamera &s) {
             s.failNextRequests(1, FailureKind::Stall, oru_sim::kEepromWrite);
         },
         FX3_FW_TRANSFER_FAILED},
        {"SPI erase fails", ControllerKind::FX3, small, FX3_MEDIA_SPI_FLASH,
         [](oru_sim::SimulatedCamera &s) {
             s.failNextRequests(1, FailureKind::Stall, oru_sim::kFlashErase);
         },
         FX3_FW_ERASE_FAILED},
        {"SPI write fails", ControllerKind::FX3, small, FX3_MEDIA_SPI_FLASH,
         [](oru_sim::SimulatedCamera &s) {
             s.failNextRequests(1, FailureKind::Stall, oru_sim::kFlashWrite);
         },
         FX3_FW_TRANSFER_FAILED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PlugController(c.controller);
        c.fault(*sim_);
        Bytes image = c.image;
        EXPECT_EQ(camera_.DownloadFw(image.data(), static_cast<uint32_t>(image.size()),
                                     static_cast<FX3_FWDWNLOAD_MEDIA_TYPE>(c.media)),
                  c.result);
        EXPECT_FALSE(sim_->programEntry().has_value());
        camera_.CloseDevice();
        bus_.unplug(*sim_);
    }
}

TEST_F(FlashFirmwareTest, DownloadToRamLoadsSectionsAndJumpsToEntry)
{
    PlugController(ControllerKind::FX3BootLoader);
    const Bytes code = Pattern(4000, 5);
    const Bytes data = Pattern(100, 6);
    Bytes image = Fx3Image({{0x40003000, code}, {0x40008000, data}}, 0x40003010);
    EXPECT_EQ(camera_.DownloadFw(image.data(), static_cast<uint32_t>(image.size()), FX3_MEDIA_RAM),
              FX3_FW_OK);
    EXPECT_EQ(sim_->readControllerRam(0x40003000, 4000), code);
    EXPECT_EQ(sim_->readControllerRam(0x40008000, 100), data);
    EXPECT_EQ(sim_->programEntry(), 0x40003010u);
    // Three chunks (2048, 1952, 100 bytes), each written and read three times,
    // then the entry request.
    EXPECT_EQ(sim_->requests(oru_sim::kControllerRam).size(), 3u * 6 + 1);
}

TEST_F(FlashFirmwareTest, DownloadToRamWithEntryOnlySendsOnlyTheEntryRequest)
{
    PlugController(ControllerKind::FX3BootLoader);
    Bytes image = Fx3Image({}, 0x40001234);
    EXPECT_EQ(camera_.DownloadFw(image.data(), static_cast<uint32_t>(image.size()), FX3_MEDIA_RAM),
              FX3_FW_OK);
    EXPECT_EQ(Sent(oru_sim::kControllerRam), (std::vector<RegisterWrite>{{0x1234, 0x4000}}));
    EXPECT_EQ(sim_->programEntry(), 0x40001234u);
}

TEST_F(FlashFirmwareTest, DownloadFromFile)
{
    PlugController(ControllerKind::FX3BootLoader);
    std::string path = testing::TempDir() + "fx3_image_XXXXXX";
    const int fd = mkstemp(path.data());
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(camera_.DownloadFw(path.data(), FX3_MEDIA_RAM), FX3_FW_FILE_UNREADABLE) << "empty";

    const Bytes image = Fx3Image({{0x40000000, Pattern(64, 2)}}, 0x40000000);
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    fwrite(image.data(), 1, image.size(), file);
    fclose(file);
    EXPECT_EQ(camera_.DownloadFw(path.data(), FX3_MEDIA_RAM), FX3_FW_OK);
    EXPECT_EQ(sim_->readControllerRam(0x40000000, 64), Pattern(64, 2));
    remove(path.c_str());
    EXPECT_EQ(camera_.DownloadFw(path.data(), FX3_MEDIA_RAM), FX3_FW_FILE_UNREADABLE) << "missing";
}

TEST_F(FlashFirmwareTest, DownloadToSPIFlashErasesSectorsAndPadsToPages)
{
    PlugController(ControllerKind::FX3);
    Bytes image = Pattern(70000, 8);
    // Non-blank before: the erase makes it 0xFF, so zeros after the download
    // can only come from the padding.
    sim_->writeFlash(70000, Bytes(144, 0x00));
    EXPECT_EQ(camera_.DownloadFw(image.data(), 70000, FX3_MEDIA_SPI_FLASH), FX3_FW_OK);
    std::vector<uint16_t> erased;
    for (const auto &entry : sim_->requests(oru_sim::kFlashErase))
        if (entry.setup.value == 1)
            erased.push_back(entry.setup.index);
    EXPECT_EQ(erased, (std::vector<uint16_t>{0, 1}));
    EXPECT_EQ(DataBytesSent(oru_sim::kFlashWrite), 70144u);
    EXPECT_EQ(sim_->readFlash(0, 70000), image);
    EXPECT_EQ(sim_->readFlash(70000, 144), Bytes(144, 0x00));
    EXPECT_EQ(sim_->readFlash(70144, 16), Bytes(16, 0xFF));
}

TEST_F(FlashFirmwareTest, DownloadToI2CEEPROMAdvancesDeviceSelect)
{
    PlugController(ControllerKind::FX3);
    Bytes image = Pattern(9000, 4);
    image[0] = 'C';
    image[1] = 'Y';
    image[2] = 0x04; // size code 2: 4 KiB devices
    EXPECT_EQ(camera_.DownloadFw(image.data(), 9000, FX3_MEDIA_I2C_EEPROM), FX3_FW_OK);
    EXPECT_EQ(Sent(oru_sim::kEepromWrite),
              (std::vector<RegisterWrite>{{0, 0}, {0, 2048}, {1, 0}, {1, 2048}, {2, 0}}));
    const auto readBack = sim_->requests(oru_sim::kEepromRead);
    ASSERT_EQ(readBack.size(), 1u);
    EXPECT_EQ(readBack[0].setup.length, 832) << "808-byte tail padded to 64 bytes";
    EXPECT_EQ(sim_->readEeprom(0, 0, 4096), Bytes(image.begin(), image.begin() + 4096));
    EXPECT_EQ(sim_->readEeprom(1, 0, 4096), Bytes(image.begin() + 4096, image.begin() + 8192));
    Bytes tail(image.begin() + 8192, image.end());
    tail.resize(832, 0);
    EXPECT_EQ(sim_->readEeprom(2, 0, 832), tail);
}
