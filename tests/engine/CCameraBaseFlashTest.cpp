// The hot-pixel image and the ID page in the camera's SPI flash, and the
// serial number, through libusb on a simulated camera.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sim/SimulatedBus.h"
#include "tests/TempHome.h"
#include "tests/TestCamera.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kSide = 64;
constexpr uint32_t kHPCArea = 0x40000;
constexpr uint32_t kIDPage = 0x70000;
constexpr uint8_t kReqSPIFlashWrite = 0xC2;
constexpr uint8_t kReqSPIFlashErase = 0xC4;
constexpr uint8_t kReqGPIF32DQ = 0xBE;

Bytes SparseMap(size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::uniform_int_distribution<int> value(0, 255);
    Bytes map(size);
    for (uint8_t &b : map)
        b = value(generator) < 20 ? uint8_t(value(generator) | 1) : 0;
    return map;
}

Bytes Header(const char *marker, uint32_t length)
{
    return {uint8_t(marker[0]),    uint8_t(marker[1]),    uint8_t(marker[2]),   uint8_t(marker[3]),
            uint8_t(length >> 24), uint8_t(length >> 16), uint8_t(length >> 8), uint8_t(length)};
}

class FlashTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device = &bus.addCamera(oru_sim::CameraConfig::usb3Camera(TestCamera::kProductId));
        camera = Open();
    }

    void TearDown() override { Close(camera); }

    static std::unique_ptr<TestCamera> Open(int productId = TestCamera::kProductId)
    {
        auto opened = std::make_unique<TestCamera>(kSide, kSide, true, productId);
        EXPECT_TRUE(opened->OpenCamera(1));
        opened->InitCamera();
        return opened;
    }

    static void Close(std::unique_ptr<TestCamera> &opened)
    {
        if (opened)
            opened->CloseCamera();
        opened.reset();
    }

    // Sizes of the flash page writes, in order.
    std::vector<int> PageWrites() const
    {
        std::vector<int> sizes;
        for (const oru_sim::ControlRequest &r : device->requests(kReqSPIFlashWrite))
            sizes.push_back(r.setup.length);
        return sizes;
    }

    TempHome home;
    oru_sim::SimulatedBus bus;
    oru_sim::SimulatedCamera *device = nullptr;
    std::unique_ptr<TestCamera> camera;
};

TEST_F(FlashTest, HotPixelImageRoundTripsWithTheBusModeRestored)
{
    Bytes map = SparseMap(512, 1);
    ASSERT_TRUE(camera->CompressAndWriteIntoFLASH(map.data(), unsigned(map.size()), true));
    EXPECT_EQ(device->readFlash(kHPCArea, 4), (Bytes{'O', 'R', 'U', 'D'}));
    Bytes out(map.size(), 0);
    ASSERT_TRUE(camera->ReadFromFLAHAndUnCompress(out.data(), unsigned(out.size()), true));
    EXPECT_EQ(out, map);
    const auto modes = device->requests(kReqGPIF32DQ);
    ASSERT_FALSE(modes.empty());
    EXPECT_EQ(modes.front().setup.value, 0);
    EXPECT_EQ(modes.back().setup.value, 1);
    EXPECT_TRUE(device->gpif32BitBus());
}

TEST_F(FlashTest, ImageIsWrittenInFullPagesAndARoundedTail)
{
    struct Case {
        unsigned dataSize; // the stored length is 8 more
        std::vector<int> pages;
    };
    const Case cases[] = {
        {4088, {2048, 2048}},
        {2340, {2048, 512}},
        {92, {256}},
    };
    for (const Case &c : cases) {
        device->clearRequests();
        Bytes data = SparseMap(c.dataSize, c.dataSize);
        ASSERT_TRUE(camera->CompressAndWriteIntoFLASH(data.data(), c.dataSize, false))
            << c.dataSize;
        EXPECT_EQ(PageWrites(), c.pages) << c.dataSize;
        Bytes out(c.dataSize, 0);
        ASSERT_TRUE(camera->ReadFromFLAHAndUnCompress(out.data(), c.dataSize, false)) << c.dataSize;
        EXPECT_EQ(out, data) << c.dataSize;
    }
}

TEST_F(FlashTest, EraseFailureStopsTheWrite)
{
    Bytes map = SparseMap(512, 2);
    device->failNextRequests(1, oru_sim::FailureKind::Stall, kReqSPIFlashErase);
    EXPECT_FALSE(camera->CompressAndWriteIntoFLASH(map.data(), unsigned(map.size()), true));
    EXPECT_TRUE(PageWrites().empty());
    EXPECT_TRUE(device->gpif32BitBus());
}

TEST_F(FlashTest, HotPixelCorrectionLoadsTheMapFromFlash)
{
    Bytes packed(kSide * kSide / 8, 0);
    const int hot[] = {5 * kSide, 10 * kSide + 10};
    for (int p : hot)
        packed[p / 8] |= uint8_t(1 << (p % 8));
    ASSERT_TRUE(camera->CompressAndWriteIntoFLASH(packed.data(), unsigned(packed.size()), true));
    ASSERT_TRUE(camera->SetHPCStates(true));
    EXPECT_TRUE(camera->Settings().m_bHPC);
    EXPECT_EQ(camera->GetHotPixelMap().HotList(), std::vector<int>(std::begin(hot), std::end(hot)));
}

TEST_F(FlashTest, SavedMapHoldsThePixelsOfTheDarkAboveItsMean)
{
    // Without a dark frame there is nothing to save and the flash is left alone.
    EXPECT_FALSE(camera->SaveHPCTable());
    EXPECT_TRUE(PageWrites().empty());

    Bytes dark(kSide * kSide, 10); // mean 10: hot above 40
    dark[3 * kSide + 5] = 50;
    dark[9 * kSide + 7] = 41;
    dark[9 * kSide + 9] = 40;
    const std::string path = home.path() + "/dark.bmp";
    ASSERT_TRUE(camera->CreateBMP(kSide, kSide, dark.data(), const_cast<char *>(path.c_str())));
    ASSERT_EQ(camera->LoadBMPFromFile(const_cast<char *>(path.c_str())), ORU_SUCCESS);
    ASSERT_TRUE(camera->SaveHPCTable());
    EXPECT_FALSE(PageWrites().empty());

    Close(camera);
    camera = Open();
    ASSERT_TRUE(camera->SetHPCStates(true));
    EXPECT_EQ(camera->GetHotPixelMap().HotList(), (std::vector<int>{3 * kSide + 5, 9 * kSide + 7}));
}

TEST_F(FlashTest, UnusableFlashContentLeavesHotPixelCorrectionOff)
{
    struct Case {
        const char *name;
        Bytes image;
    };
    Bytes pastTheEnd = Header("ORUD", 14);
    pastTheEnd.insert(pastTheEnd.end(), {0, 0, 0, 0, 0x01, 0x01}); // third block of 512 bytes
    Bytes uncompressed = Header("ORUG", 8 + 512);
    uncompressed.resize(8 + 512, 0);
    const Case cases[] = {
        {"erased flash", Bytes(16, 0xFF)},
        {"pair past the end of the map", pastTheEnd},
        {"length above the area", Header("ORUD", 0x30001)},
        {"length shorter than the header", Header("ORUD", 5)},
        {"uncompressed image", uncompressed},
    };
    for (const Case &c : cases) {
        Bytes image = c.image;
        image.resize(4096, 0);
        device->writeFlash(kHPCArea, image);
        EXPECT_FALSE(camera->SetHPCStates(true)) << c.name;
        EXPECT_FALSE(camera->Settings().m_bHPC) << c.name;
    }
}

TEST_F(FlashTest, IdSurvivesReopeningAndKeepsTheRestOfThePage)
{
    ORU_ID id{};
    EXPECT_FALSE(camera->GetIDFromSPI(&id)); // erased page: no marker
    device->writeFlash(kIDPage + 100, {0x5A});
    const ORU_ID written{{'s', 'c', 'o', 'p', 'e', '-', '0', '7'}};
    ASSERT_TRUE(camera->SetIDToSPI(written));
    Close(camera);

    camera = Open();
    ORU_ID read{};
    ASSERT_TRUE(camera->GetIDFromSPI(&read));
    EXPECT_EQ(Bytes(read.id, read.id + 8), Bytes(written.id, written.id + 8));
    EXPECT_EQ(device->readFlash(kIDPage, 2), (Bytes{'I', 'D'}));
    EXPECT_EQ(device->readFlash(kIDPage + 100, 1), Bytes{0x5A});
}

TEST_F(FlashTest, SerialNumberOfZerosCountsAsFailure)
{
    const oru_sim::SerialNumber serial{1, 2, 3, 4, 5, 6, 7, 8};
    auto config = oru_sim::CameraConfig::usb3Camera(TestCamera::kProductId + 1);
    config.serialNumber = serial;
    bus.addCamera(config);
    config = oru_sim::CameraConfig::usb3Camera(TestCamera::kProductId + 2);
    config.serialNumber = oru_sim::SerialNumber{};
    bus.addCamera(config);

    auto numbered = Open(TestCamera::kProductId + 1);
    auto zeros = Open(TestCamera::kProductId + 2);
    ORU_ID got{};
    ASSERT_TRUE(numbered->GetSerialNumber(&got));
    EXPECT_EQ(Bytes(got.id, got.id + 8), Bytes(serial.begin(), serial.end()));
    EXPECT_FALSE(zeros->GetSerialNumber(&got));
    Close(numbered);
    Close(zeros);
}

} // namespace
