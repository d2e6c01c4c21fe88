// The factory content of the flash: the compressed hot-pixel map at 0x40000,
// read back through raw libusb and decoded here, and the ID page at 0x70000.
#include <algorithm>
#include <set>
#include <stdexcept>

#include "SimTestFixture.h"
#include "sim/FactoryFlash.h"
#include "sim/ModelCatalog.h"

using namespace oru_sim;
using Bytes = std::vector<uint8_t>;
using Pixel = std::pair<int, int>;

namespace {

constexpr uint16_t kHotPixelPage = 0x0400;  // 0x40000 / 256
constexpr uint16_t kIdPage = 0x0700;

struct FactoryFlashTest : SimTestFixture {
    Bytes readFlash(libusb_device_handle* handle, uint32_t address, size_t length)
    {
        Bytes bytes;
        for (size_t done = 0; done < length; done += 2048) {
            uint16_t chunk = static_cast<uint16_t>(std::min<size_t>(2048, length - done));
            Bytes part = readIn(handle, 0xC3, 0, static_cast<uint16_t>((address + done) / 256), chunk);
            bytes.insert(bytes.end(), part.begin(), part.end());
        }
        return bytes;
    }
};

// Reads the pairs back into the bit map and lists its set bits as pixels.
std::set<Pixel> decodeHotPixels(const Bytes& image, int width, int height)
{
    Bytes map(static_cast<size_t>(width) * height / 8, 0);
    size_t base = 0;
    for (size_t i = 8; i + 1 < image.size(); i += 2) {
        uint8_t position = image[i];
        uint8_t value = image[i + 1];
        if (position == 0 && value == 0) {
            base += 256;
            continue;
        }
        map.at(base + position / 16 + 16 * (position % 16)) = value;
    }
    std::set<Pixel> pixels;
    for (size_t byte = 0; byte < map.size(); ++byte)
        for (int bit = 0; bit < 8; ++bit)
            if (map[byte] & (1 << bit)) {
                size_t index = byte * 8 + static_cast<size_t>(bit);
                pixels.emplace(static_cast<int>(index % width), static_cast<int>(index / width));
            }
    return pixels;
}

}  // namespace

TEST(FactoryFlashImageTest, CompressesOneByteInTheSecondBlock)
{
    // 64 x 64 pixels: a 512-byte map whose only set bit is bit 0 of byte 300.
    Bytes expected{'O', 'R', 'U', 'D', 0, 0, 0, 12, 0x00, 0x00, 0xC2, 0x01};
    EXPECT_EQ(FactoryFlash::hotPixelImage(64, 64, {{2400 % 64, 2400 / 64}}), expected);
}

TEST_F(FactoryFlashTest, HotPixelMapOfTheRepresentativeParsesBack)
{
    const int width = 6248, height = 4176;
    CameraConfig description = ModelCatalog::find("ORU6200MC Pro");
    description.hotPixels = {{0, 0}, {7, 0}, {8, 0}, {101, 200}, {100, 200}, {width - 1, height - 1}, {16, 1}};
    libusb_device_handle* handle = open(addCamera(description));

    Bytes header = readFlash(handle, 0x40000, 8);
    ASSERT_EQ(Bytes(header.begin(), header.begin() + 4), (Bytes{'O', 'R', 'U', 'D'}));
    uint32_t length = uint32_t{header[4]} << 24 | uint32_t{header[5]} << 16 | uint32_t{header[6]} << 8 | header[7];
    // 12740 full blocks each closed by (0, 0), plus one pair per non-zero byte.
    EXPECT_EQ(length, 8u + 2 * 12740 + 2 * 5);
    Bytes image = readFlash(handle, 0x40000, length);
    std::set<Pixel> expected(description.hotPixels.begin(), description.hotPixels.end());
    EXPECT_EQ(decodeHotPixels(image, width, height), expected);
}

TEST_F(FactoryFlashTest, IdPageAndErasedAreas)
{
    CameraConfig description;
    description.flashCameraId = CameraId{'s', 'c', 'o', 'p', 'e', '-', '0', '1'};
    libusb_device_handle* handle = open(addCamera(description));
    Bytes page = readIn(handle, 0xC3, 0, kIdPage, 256);
    EXPECT_EQ(Bytes(page.begin(), page.begin() + 10), (Bytes{'I', 'D', 's', 'c', 'o', 'p', 'e', '-', '0', '1'}));
    EXPECT_TRUE(std::all_of(page.begin() + 10, page.end(), [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(readIn(handle, 0xC3, 0, kHotPixelPage, 8), Bytes(8, 0xFF)) << "no sensor size: no map";

    libusb_device_handle* plain = open(addCamera(CameraConfig{}));
    EXPECT_EQ(readIn(plain, 0xC3, 0, kIdPage, 16), Bytes(16, 0xFF));
}

TEST_F(FactoryFlashTest, RefusesHotPixelsTheMapCannotHold)
{
    CameraConfig description;
    description.sensorWidth = 64;
    description.sensorHeight = 64;
    for (Pixel off : {Pixel{64, 0}, Pixel{0, 64}, Pixel{-1, 3}}) {
        description.hotPixels = {off};
        EXPECT_THROW(addCamera(description), std::invalid_argument) << off.first << ", " << off.second;
    }
    // Every byte of a 6248 x 4176 map non-zero: far beyond the 0x30000 bytes.
    description.sensorWidth = 6248;
    description.sensorHeight = 4176;
    description.hotPixels.clear();
    for (int x = 0; x < 6248; x += 8)
        for (int y = 0; y < 200; ++y)
            description.hotPixels.emplace_back(x, y);
    EXPECT_THROW(addCamera(description), std::invalid_argument);
    EXPECT_TRUE(bus_.cameras().empty());
}
