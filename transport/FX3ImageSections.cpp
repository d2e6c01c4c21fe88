#include "transport/FX3ImageSections.h"

#include "transport/CCameraFX3.h"

namespace {
constexpr uint32_t kFirstSection = 4;
constexpr uint32_t kSectionHeader = 8;

uint32_t LittleEndian32(const uint8_t *bytes)
{
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}
} // namespace

int ForEachFX3ImageChunk(const uint8_t *image, uint32_t length, uint32_t chunkSize,
                         const std::function<int(const FX3ImageChunk &)> &load,
                         const std::function<int(uint32_t entry)> &start)
{
    if (length < 2 || image[0] != 'C' || image[1] != 'Y')
        return FX3_FW_BAD_SIGNATURE;
    uint32_t offset = kFirstSection;
    for (;;) {
        if (length < kSectionHeader || offset > length - kSectionHeader)
            return FX3_FW_TRUNCATED;
        // 64 bits: a word count of 2^30 or more must not wrap to a short
        // section, or to the entry section.
        uint64_t remaining = static_cast<uint64_t>(LittleEndian32(image + offset)) * 4u;
        uint32_t address = LittleEndian32(image + offset + 4);
        offset += kSectionHeader;
        if (remaining == 0)
            return start(address);
        const uint32_t firstChunk =
            remaining < chunkSize ? static_cast<uint32_t>(remaining) : chunkSize;
        if (firstChunk > length)
            return FX3_FW_CHUNK_TOO_LARGE;
        if (remaining > length - offset)
            return FX3_FW_TRUNCATED;
        while (remaining > 0) {
            const uint32_t chunk =
                remaining < chunkSize ? static_cast<uint32_t>(remaining) : chunkSize;
            if (const int result = load({address, image + offset, chunk}))
                return result;
            address += chunk;
            offset += chunk;
            remaining -= chunk;
        }
    }
}
