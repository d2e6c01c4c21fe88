// An FX3 "CY" boot image as the firmware download into the controller's RAM
// walks it: every chunk handed to the loader lies inside the image, after
// the one before, no longer than a chunk; a walk that ends well has found
// the entry section.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "transport/CCameraFX3.h"
#include "transport/FX3ImageSections.h"

namespace {
constexpr uint32_t kChunk = 64; // small, so that sections span several chunks
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A copy of exactly the input's size, so that a read past it is caught.
    std::vector<uint8_t> image(data, data + size);
    const uint8_t *const begin = image.data();
    const auto length = static_cast<uint32_t>(image.size());
    uint32_t next = 4; // where the next chunk may start
    bool started = false;
    const auto load = [&](const FX3ImageChunk &chunk) {
        const auto at = static_cast<uint32_t>(chunk.pData - begin);
        if (started || at < next || at > length || chunk.ulLength == 0 || chunk.ulLength > kChunk ||
            chunk.ulLength > length - at)
            std::abort();
        next = at + chunk.ulLength;
        return 0;
    };
    const auto start = [&](uint32_t) {
        started = true;
        return 0;
    };
    if ((ForEachFX3ImageChunk(begin, length, kChunk, load, start) == FX3_FW_OK) != started)
        std::abort();
    return 0;
}
