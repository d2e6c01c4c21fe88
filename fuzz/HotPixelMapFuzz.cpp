// The hot-pixel map as it comes out of the camera's flash: any bytes through
// Uncompress, in both the compressed and the plain form (the first input
// byte chooses). The same bytes taken as a map must come back unchanged
// through Compress and Uncompress.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "tests/TestCamera.h"

namespace {

constexpr int kWidth = 64;
constexpr int kHeight = 40;
constexpr size_t kMapSize = kWidth * kHeight / 8;

std::unique_ptr<TestCamera> g_camera;

void RoundTrip(const uint8_t *data, size_t size, bool compressed)
{
    std::vector<uint8_t> map(kMapSize, 0);
    std::memcpy(map.data(), data, size < kMapSize ? size : kMapSize);
    int length = 0;
    std::unique_ptr<uint8_t[]> image(
        g_camera->Compress(map.data(), static_cast<int>(kMapSize), &length, compressed));
    if (!image)
        return;
    std::unique_ptr<uint8_t[]> back(g_camera->Uncompress(image.get(), length, compressed));
    if (!back || std::memcmp(back.get(), map.data(), kMapSize) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    g_camera = std::make_unique<TestCamera>(kWidth, kHeight, false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const bool compressed = (data[0] & 1) != 0;
    // A copy of exactly the input's size, so that a read past it is caught.
    std::vector<uint8_t> image(data + 1, data + size);
    std::unique_ptr<uint8_t[]> map(
        g_camera->Uncompress(image.data(), static_cast<int>(image.size()), compressed));
    RoundTrip(data + 1, size - 1, compressed);
    return 0;
}
